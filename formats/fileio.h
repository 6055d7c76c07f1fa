// The buffered file objects every reader and writer uses; the byte-order
// helpers come with them.
#pragma once

#include "common/byteorder.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace io {

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
// Symbolic links are followed: the file they lead to is replaced (a dangling
// link gets its target created) and the link stays. A destination that is
// neither a plain file nor a folder (a device, a pipe) is written directly,
// without a temporary file: such a file cannot be replaced atomically.
class Writer {
public:
    explicit Writer(const QString& path);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    bool open();
    // The destination as given.
    QString path() const { return path_; }
    void write(const void* src, size_t n);
    void write(const QByteArray& b) { write(b.constData(), size_t(b.size())); }
    void u32(uint32_t v) { uint8_t b[4]; put32(b, v); write(b, 4); }
    void f32le(float v) { uint8_t b[4]; putf32(b, v); write(b, 4); }
    void f64le(double v) { uint8_t b[8]; putf64(b, v); write(b, 8); }
    bool ok() const { return ok_; }
    // The system's reason for the first failure ("No space left on device"),
    // empty while nothing failed.
    QString error() const { return reason_; }
    // Written in place, not through a temporary file.
    bool direct() const { return direct_; }
    // Puts everything written so far on the disk, still under the temporary
    // name; false when anything failed on the way.
    bool sync();
    // The file commit() replaces: the destination with symbolic links followed.
    QString target() const;
    // Flushes and renames over the destination; false (and the old file
    // untouched) when anything failed on the way.
    bool commit();
    void cancel();

    // For a library that writes only by file name: a name it may create and
    // fill, then adopt(size) takes the bytes it wrote (size: how many it was
    // meant to write) as this writer's contents.
    QString stagingName();
    bool adopt(int64_t size);

private:
    friend int CommitPair(Writer& a, Writer& b);
    void flush();
    void put(const uint8_t* src, size_t n);
    bool fail(int err, const QString& reason = QString());
    bool openTemp();
    QString path_;
    QByteArray target_, temp_;
    int fd_ = -1;
    int64_t written_ = 0;
    bool direct_ = false;
    bool ok_ = false;
    QString reason_;
    QString stage_;
    std::unique_ptr<uint8_t[]> buf_;
    size_t blen_ = 0;
};

// Why a file name cannot be used as it stands (it holds characters the
// system's encoding of file names cannot represent, so the file would get
// another name); empty when it can.
QString NameProblem(const QString& path);

// A hidden name in the folder of target, derived from its name and suffix
// and never longer than a name may be (long names are shortened with a hash
// of the whole), so that every save to one destination uses the same one.
QByteArray HiddenBeside(const QByteArray& target, const char* suffix);

// Replaces two destinations as one. first and second each rename a
// complete temporary file, already on the disk, over its destination (false
// when that fails); firstTarget is the file first replaces. Returns 0 when
// both replaced their destinations, 1 when the first failed, 2 when the
// second did; after a failure both destinations hold what they held before:
// the old first file is kept under another name until the second is in
// place, and put back if it does not get there.
int CommitBoth(const QString& firstTarget, const std::function<bool()>& first,
               const std::function<bool()>& second);

// Two writers committed as one: both temporaries synced, then CommitBoth.
// 0, 1 (a failed) or 2 (b failed); both are cancelled or committed.
int CommitPair(Writer& a, Writer& b);

} // namespace io
