#include "matwalk.h"
#include "common/byteorder.h"

#include <QFile>
#include <algorithm>
#include <optional>
#include <zlib.h>

namespace mat5 {
namespace {

// Element types and array classes of the version 5 layout.
enum : uint32_t {
    miINT8 = 1, miINT32 = 5, miUINT32 = 6, miUINT64 = 13, miMATRIX = 14, miCOMPRESSED = 15,
    miUTF8 = 16, miUTF32 = 18,
};
enum : uint32_t { mxCELL = 1, mxSTRUCT = 2, mxOBJECT = 3, mxCHAR = 4, mxDOUBLE = 6, mxUINT64 = 15 };

// Bytes per element of the classes an array of data has, by class code;
// 0 for the classes whose elements are other arrays or none.
constexpr uint8_t kClassBytes[16] = {0, 0, 0, 0, 2, 0, 8, 4, 1, 1, 2, 2, 4, 4, 8, 8};

constexpr int kMaxDepth = 16;
constexpr uint64_t kMaxDimBytes = 4096; // 1024 dimensions
// deflate expands at most 1032 to 1, so a compressed element announcing
// more than that is lying.
constexpr uint64_t kMaxInflate = 1032;

QString ordinal(int k)
{
    static const char* const names[] = {"first", "second", "third", "fourth"};
    return k < 4 ? QLatin1String(names[k]) : QStringLiteral("%1th").arg(k + 1);
}

struct Bad {
    QString what;
    bool truncated;
};
using Result = std::optional<Bad>;

class Source {
public:
    virtual ~Source() = default;
    // Exactly n bytes, or false when the source ends first.
    virtual bool read(uint8_t* dst, size_t n) = 0;
    virtual bool skip(uint64_t n) = 0;
};

// An element inside the file; its size was checked against the file before.
class FileSource : public Source {
public:
    FileSource(QFile& f, int64_t pos) : f_(f), pos_(pos) {}
    bool read(uint8_t* dst, size_t n) override
    {
        if (!f_.seek(pos_) || f_.read(reinterpret_cast<char*>(dst), qint64(n)) != qint64(n))
            return false;
        pos_ += qint64(n);
        return true;
    }
    bool skip(uint64_t n) override
    {
        pos_ += qint64(n);
        return true;
    }

private:
    QFile& f_;
    qint64 pos_;
};

// The inflated contents of a compressed element, inflated only as far as
// they are read or skipped.
class InflateSource : public Source {
public:
    InflateSource(QFile& f, qint64 pos, uint64_t len) : f_(f), pos_(pos), left_(len)
    {
        ok_ = inflateInit(&z_) == Z_OK;
        live_ = ok_;
    }
    ~InflateSource() override
    {
        if (live_)
            inflateEnd(&z_);
    }
    InflateSource(const InflateSource&) = delete;
    InflateSource& operator=(const InflateSource&) = delete;

    bool read(uint8_t* dst, size_t n) override
    {
        z_.next_out = dst;
        z_.avail_out = uInt(n);
        while (ok_ && z_.avail_out) {
            if (!z_.avail_in) {
                const qint64 k = qint64(std::min<uint64_t>(left_, sizeof in_));
                if (!k || !f_.seek(pos_) || f_.read(reinterpret_cast<char*>(in_), k) != k) {
                    ok_ = false;
                    break;
                }
                pos_ += k;
                left_ -= uint64_t(k);
                z_.next_in = in_;
                z_.avail_in = uInt(k);
            }
            const int r = inflate(&z_, Z_NO_FLUSH);
            // A finished stream can give no more; anything else but progress is corrupt data.
            if (r == Z_STREAM_END ? z_.avail_out != 0 : r != Z_OK)
                ok_ = false;
        }
        return ok_ && !z_.avail_out;
    }
    bool skip(uint64_t n) override
    {
        while (n) {
            const size_t k = size_t(std::min<uint64_t>(n, sizeof out_));
            if (!read(out_, k))
                return false;
            n -= k;
        }
        return true;
    }

private:
    QFile& f_;
    qint64 pos_;
    uint64_t left_;
    z_stream z_ = {};
    bool ok_ = false, live_ = false;
    uint8_t in_[16384];
    uint8_t out_[16384];
};

// One sub-element: its type, the bytes of its data and the bytes it takes
// in its parent. Small elements carry up to 4 bytes inside their tag.
struct Tag {
    uint32_t type = 0;
    uint64_t bytes = 0;
    uint64_t pad = 0;
    bool small = false;
    uint8_t inl[4] = {};
};

class Walker {
public:
    Walker(Source& s, bool le, uint64_t budget, bool lazy) : s_(s), le_(le), budget_(budget), lazy_(lazy) {}

    // An array of size bytes after its tag. At depth 0 of a compressed
    // element (lazy) the walk ends at the tag of the real part: the library
    // reads no data of the variable before the reader asks for it.
    Result matrix(uint64_t size, int depth, Extent* ext)
    {
        if (depth > kMaxDepth)
            return Bad{QStringLiteral("arrays nested more than %1 deep").arg(kMaxDepth), false};
        uint64_t left = size;
        if (!size)
            return std::nullopt; // an empty element of a cell or structure
        Tag t;
        std::vector<uint8_t> body;
        if (Result r = next(left, &t, "array flags"))
            return r;
        if (t.type != miUINT32 || t.bytes < 8 || t.bytes > 16)
            return bad("array flags", t);
        if (Result r = data(t, &body, "array flags"))
            return r;
        const uint32_t flags = u32(body.data());
        const uint32_t cls = flags & 0xFF;
        const bool complex = flags & 0x800;
        uint64_t count = 1;
        // Every class but the opaque one carries dimensions and a name.
        if (cls != 17) {
            if (Result r = next(left, &t, "dimensions"))
                return r;
            if (t.type != miINT32 || t.bytes < 8 || t.bytes % 4 || t.bytes > kMaxDimBytes)
                return bad("dimensions", t);
            if (Result r = data(t, &body, "dimensions"))
                return r;
            for (size_t k = 0; k + 4 <= body.size(); k += 4)
                if (__builtin_mul_overflow(count, uint64_t(u32(body.data() + k)), &count))
                    return Bad{QStringLiteral("its dimensions overflow"), false};
            if (Result r = next(left, &t, "name"))
                return r;
            if (Result r = data(t, nullptr, "name"))
                return r;
        }
        if (cls == mxCHAR || (cls >= mxDOUBLE && cls <= mxUINT64)) {
            if (count > budget_ / kClassBytes[cls])
                return Bad{QStringLiteral("it announces %1 elements, more than memory holds").arg(count), false};
            if (Result r = next(left, &t, "data"))
                return r;
            if (!(t.type >= miINT8 && t.type <= miUINT64) && !(cls == mxCHAR && t.type >= miUTF8 && t.type <= miUTF32))
                return bad("data", t);
            if (ext)
                *ext = Extent{true, t.type, t.bytes};
            if (lazy_ && depth == 0)
                return std::nullopt;
            if (Result r = data(t, nullptr, "data"))
                return r;
            if (complex) {
                if (Result r = next(left, &t, "imaginary part"))
                    return r;
                if (Result r = data(t, nullptr, "imaginary part"))
                    return r;
            }
        } else if (cls == mxCELL || cls == mxSTRUCT || cls == mxOBJECT) {
            uint64_t fields = 1;
            if (cls != mxCELL) {
                if (cls == mxOBJECT) {
                    if (Result r = next(left, &t, "class name"))
                        return r;
                    if (Result r = data(t, nullptr, "class name"))
                        return r;
                }
                if (Result r = next(left, &t, "field name length"))
                    return r;
                if (t.type != miINT32 || t.bytes != 4)
                    return bad("field name length", t);
                if (Result r = data(t, &body, "field name length"))
                    return r;
                const uint64_t len = u32(body.data());
                if (Result r = next(left, &t, "field names"))
                    return r;
                // The library divides by the length.
                if (!len || t.bytes % len)
                    return bad("field names", t);
                fields = t.bytes / len;
                if (Result r = data(t, nullptr, "field names"))
                    return r;
            }
            // Each element is an array of its own, at least a tag.
            uint64_t parts = 0;
            if (__builtin_mul_overflow(count, fields, &parts) || parts > left / 8)
                return Bad{QStringLiteral("it announces %1 elements but holds %2 bytes for them").arg(count).arg(left), true};
            for (uint64_t k = 0; k < parts; ++k) {
                if (Result r = next(left, &t, "element"))
                    return r;
                if (t.type != miMATRIX)
                    return bad("element", t);
                if (Result r = matrix(t.bytes, depth + 1, nullptr))
                    return r;
                if (Result r = data(t, nullptr, "element", true))
                    return r;
            }
        }
        // Sparse, function and other arrays: every remaining tag in its place.
        while (left >= 8) {
            if (Result r = next(left, &t, "data"))
                return r;
            if (Result r = data(t, nullptr, "data"))
                return r;
        }
        return s_.skip(left) ? std::nullopt : ends("padding");
    }

private:
    uint32_t u32(const uint8_t* p) const { return le_ ? io::le32(p) : io::be32(p); }

    Result ends(const char* what) const
    {
        return Bad{QStringLiteral("its compressed data end before its %1").arg(QLatin1String(what)), true};
    }
    Result bad(const char* what, const Tag& t) const
    {
        return Bad{QStringLiteral("its %1 element is malformed (type %2, %3 bytes)").arg(QLatin1String(what)).arg(t.type).arg(t.bytes),
                   false};
    }

    // The next tag inside a parent with left bytes to go; the parent's
    // bytes then exclude the whole sub-element.
    Result next(uint64_t& left, Tag* t, const char* what)
    {
        uint8_t h[8];
        if (left < 8)
            return Bad{QStringLiteral("its array ends before its %1").arg(QLatin1String(what)), true};
        if (!s_.read(h, 8))
            return ends(what);
        left -= 8;
        const uint32_t w = u32(h);
        *t = Tag{};
        if (w >> 16) {
            t->small = true;
            t->type = w & 0xFFFF;
            t->bytes = w >> 16;
            std::copy(h + 4, h + 8, t->inl);
            if (t->bytes > 4)
                return bad(what, *t);
            return std::nullopt;
        }
        t->type = w;
        t->bytes = u32(h + 4);
        if (t->bytes > left)
            return Bad{QStringLiteral("its %1 announces %2 bytes but its array holds %3 more")
                           .arg(QLatin1String(what)).arg(t->bytes).arg(left),
                       true};
        // The padding to a multiple of 8 may be missing after the last one.
        t->pad = std::min<uint64_t>((8 - t->bytes % 8) % 8, left - t->bytes);
        left -= t->bytes + t->pad;
        return std::nullopt;
    }

    // The data of t into out (or skipped), then its padding. afterWalk: the
    // data were walked already as a nested array.
    Result data(const Tag& t, std::vector<uint8_t>* out, const char* what, bool afterWalk = false)
    {
        if (t.small) {
            if (out)
                out->assign(t.inl, t.inl + 4);
            return std::nullopt;
        }
        bool ok = true;
        if (out) {
            out->assign(size_t(t.bytes), 0);
            ok = s_.read(out->data(), out->size());
        } else if (!afterWalk) {
            ok = s_.skip(t.bytes);
        }
        return ok && s_.skip(t.pad) ? std::nullopt : ends(what);
    }

    Source& s_;
    bool le_;
    uint64_t budget_;
    bool lazy_;
};

} // namespace

Walk walk(const QString& file, int count, uint64_t budget)
{
    Walk w;
    const auto fail = [&w](const QString& what, bool truncated) {
        w.problem = what;
        w.truncated = truncated;
        w.var = int(w.vars.size());
        return w;
    };
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return fail(f.errorString(), false);
    const qint64 size = f.size();
    uint8_t h[128];
    if (f.read(reinterpret_cast<char*>(h), 128) != 128)
        return fail(QStringLiteral("it is not a MAT-file (%1 bytes, less than a header)").arg(size), false);
    const bool le = h[126] == 'I' && h[127] == 'M', be = h[126] == 'M' && h[127] == 'I';
    const uint16_t version = le ? io::le16(h + 124) : io::be16(h + 124);
    // Version 7.3 files are HDF5 files behind a 512-byte header block.
    uint8_t sig[8] = {};
    static const uint8_t kHdf5[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1A, '\n'};
    if (f.seek(512) && f.read(reinterpret_cast<char*>(sig), 8) == 8 && std::equal(sig, sig + 8, kHdf5))
        return fail(QStringLiteral("it is a MAT-file of version 7.3 (an HDF5 file); only MAT-files of version 5 "
                                   "can be loaded"),
                    false);
    if (!(le || be))
        return fail(QStringLiteral("it is not a MAT-file of version 5 (its header has no byte-order mark)"), false);
    if (version != 0x0100)
        return fail(QStringLiteral("it is not a MAT-file of version 5 (its header names version 0x%1)")
                        .arg(version, 4, 16, QLatin1Char('0')),
                    false);
    const auto u32 = [le](const uint8_t* p) { return le ? io::le32(p) : io::be32(p); };
    qint64 pos = 128;
    while (int(w.vars.size()) < count && size - pos >= 8) {
        const QString which = ordinal(int(w.vars.size()));
        uint8_t tag[8];
        if (!f.seek(pos) || f.read(reinterpret_cast<char*>(tag), 8) != 8)
            return fail(f.errorString(), false);
        const uint32_t type = u32(tag);
        const uint64_t bytes = u32(tag + 4);
        const uint64_t follow = uint64_t(size - pos - 8);
        if (bytes > follow)
            return fail(QStringLiteral("its %1 element announces %2 bytes but %3 follow").arg(which).arg(bytes).arg(follow),
                        true);
        Extent e;
        Result r;
        if (type == miMATRIX) {
            if (!bytes)
                return fail(QStringLiteral("its %1 variable is empty").arg(which), false);
            FileSource src(f, pos + 8);
            r = Walker(src, le, budget, false).matrix(bytes, 0, &e);
        } else if (type == miCOMPRESSED) {
            InflateSource src(f, pos + 8, bytes);
            uint8_t inner[8];
            if (!src.read(inner, 8))
                return fail(QStringLiteral("its %1 variable's compressed data cannot be inflated").arg(which), false);
            const uint64_t innerBytes = u32(inner + 4);
            if (u32(inner) != miMATRIX || !innerBytes)
                return fail(QStringLiteral("its %1 compressed element holds no array").arg(which), false);
            if (innerBytes > budget || innerBytes > bytes * kMaxInflate)
                return fail(QStringLiteral("its %1 variable announces %2 bytes, more than its %3 compressed bytes "
                                           "or memory hold")
                                .arg(which).arg(innerBytes).arg(bytes),
                            false);
            r = Walker(src, le, budget, true).matrix(innerBytes, 0, &e);
        } else {
            // The library would skip it and take the next element for this
            // variable, which the walk has not checked.
            return fail(QStringLiteral("its %1 element has type %2, not an array").arg(which).arg(type), false);
        }
        if (r)
            return fail(QStringLiteral("its %1 variable: %2").arg(which, r->what), r->truncated);
        w.vars.push_back(e);
        pos += 8 + qint64(bytes);
    }
    return w;
}

} // namespace mat5
