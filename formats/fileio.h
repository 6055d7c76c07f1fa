// Byte-order helpers and the buffered file objects every reader and writer
// uses. File fields are always decoded byte by byte, never by casting file
// bytes to a struct, so the code is independent of host order and padding.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace io {

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t le64(const uint8_t* p) { return le32(p) | uint64_t(le32(p + 4)) << 32; }
inline uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint64_t be64(const uint8_t* p) { return uint64_t(be32(p)) << 32 | be32(p + 4); }

inline float f32(uint32_t bits) { float f; std::memcpy(&f, &bits, 4); return f; }
inline double f64(uint64_t bits) { double d; std::memcpy(&d, &bits, 8); return d; }
inline uint32_t bits32(float f) { uint32_t b; std::memcpy(&b, &f, 4); return b; }
inline uint64_t bits64(double d) { uint64_t b; std::memcpy(&b, &d, 8); return b; }

inline float lef32(const uint8_t* p) { return f32(le32(p)); }
inline double lef64(const uint8_t* p) { return f64(le64(p)); }
inline double bef64(const uint8_t* p) { return f64(be64(p)); }

inline void put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putf32(uint8_t* p, float f) { put32(p, bits32(f)); }
inline void putf64(uint8_t* p, double d) { put64(p, bits64(d)); }

// Bytes per I/O call: large enough that system-call cost vanishes, small
// enough to stay far below the memory budget of a streaming copy.
constexpr size_t kChunk = 4u << 20;

// Sequential reader over a QFile with its own large buffer.
class Reader {
public:
    bool open(const QString& path);
    bool isOpen() const { return f_.isOpen(); }
    int64_t size() const { return size_; }
    int64_t pos() const { return pos_; }
    int64_t left() const { return size_ - pos_; }
    bool seek(int64_t p);
    // Reads up to n bytes; returns how many were read (short only at end of file).
    size_t read(void* dst, size_t n);
    bool readFull(void* dst, size_t n) { return read(dst, n) == n; }
    // A text line of at most max-1 bytes including its line feed, as
    // fgets/QIODevice::readLine deliver it; empty at end of file.
    QByteArray readLine(size_t max);
    bool atEnd() const { return pos_ >= size_; }
    QFile& file() { return f_; }

private:
    bool fill();
    QFile f_;
    int64_t size_ = 0, pos_ = 0;
    // Uninitialised on purpose: zero-filling megabytes per opened file costs
    // more than reading a small one.
    std::unique_ptr<uint8_t[]> buf_;
    size_t bcap_ = 0, bpos_ = 0, blen_ = 0;
};

// Writer that never destroys an existing destination: everything goes to a
// temporary file beside it, renamed over the destination only by commit().
class Writer {
public:
    explicit Writer(const QString& path);
    ~Writer();
    bool open();
    void write(const void* src, size_t n);
    void write(const QByteArray& b) { write(b.constData(), size_t(b.size())); }
    void u32(uint32_t v) { uint8_t b[4]; put32(b, v); write(b, 4); }
    void f32le(float v) { uint8_t b[4]; putf32(b, v); write(b, 4); }
    void f64le(double v) { uint8_t b[8]; putf64(b, v); write(b, 8); }
    bool ok() const { return ok_; }
    // Flushes and renames over the destination; false (and the old file
    // untouched) when anything failed on the way.
    bool commit();
    void cancel();

private:
    void flush();
    QSaveFile f_;
    std::unique_ptr<uint8_t[]> buf_;
    size_t blen_ = 0;
    bool ok_ = false;
};

} // namespace io
