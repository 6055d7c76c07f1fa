#include "text.h"
#include "codec.h"

#include <QFile>
#include <QTextStream>
#include <algorithm>
#include <charconv>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

// The EscPressed cadence; chunk loops start every chunk on a multiple of it.
constexpr uint64_t kCadence = 25000;

QDateTime fixedNow;

inline bool isWs(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Qt's own conversion, for everything the fast path does not vouch for.
float slowParse(const char* b, const char* e)
{
    if (e - b > INT_MAX)
        return 0.0f;
    return QString::fromUtf8(b, int(e - b)).toFloat();
}

bool isMarker(const char* b, const char* e)
{
    const size_t n = size_t(e - b);
    auto is = [&](const char* m) { return n == std::strlen(m) && std::memcmp(b, m, n) == 0; };
    return is("$DATA") || is("$DATA ASCII") || is("DATA") || is("% t v");
}

bool isEnd(const char* b, const char* e) { return e - b == 3 && std::memcmp(b, "END", 3) == 0; }

bool hasHeader(int32_t code) { return TraitsOf(code).header != TextHeader::None; }

// The data lines left by the header filter: from the line after the first
// marker (from the top when there is none) to the end, less a last "END".
struct Range {
    uint64_t first, end;
};

Range dataRange(uint64_t lines, int64_t marker, bool lastIsEnd)
{
    Range r{marker < 0 ? 0 : uint64_t(marker) + 1, lines};
    if (r.end > r.first && lastIsEnd)
        --r.end;
    return r;
}

// Sequential pieces of a text file, read in large chunks and handed out as
// byte ranges inside the chunk, so no line is ever copied or allocated.
// Separator '\n': lines as a text stream reads them ("\n" or "\r\n" end a
// line, a final line end opens no empty line, a UTF-8 byte-order mark is
// skipped, UTF-16/32 files with a byte-order mark are decoded). Separator
// ' ': the parts QString::split(' ') gives for the text up to the first NUL.
class Pieces {
public:
    explicit Pieces(char sep) : sep_(sep) {}

    bool open(const QString& path)
    {
        f_.setFileName(path);
        if (path.isEmpty() || !f_.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return false;
        unsigned char head[4] = {0, 0, 0, 0};
        const qint64 got = f_.read(reinterpret_cast<char*>(head), 4);
        if (got >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF)
            start_ = 3;
        else if (sep_ == '\n' && got >= 2
                 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF)
                     || (got == 4 && head[0] == 0 && head[1] == 0 && head[2] == 0xFE && head[3] == 0xFF)))
            decodeWide();
        // Small files get a buffer of their own size: zero-filling a whole
        // chunk would cost more than reading them.
        nonEmpty_ = f_.size() > 0;
        const qint64 total = inMem_ ? mem_.size() : f_.size();
        buf_.resize(size_t(std::clamp<qint64>(total + 1, 4096, qint64(io::kChunk))));
        return rewind();
    }

    bool rewind()
    {
        pos_ = len_ = 0;
        memPos_ = 0;
        eof_ = done_ = emitted_ = false;
        return inMem_ || f_.seek(start_);
    }

    bool next(const char** b, const char** e)
    {
        for (;;) {
            char* base = buf_.data();
            if (pos_ < len_) {
                if (auto* hit = static_cast<char*>(std::memchr(base + pos_, sep_, len_ - pos_))) {
                    take(b, e, base + pos_, hit);
                    pos_ = size_t(hit - base) + 1;
                    emitted_ = true;
                    return true;
                }
            }
            if (eof_) {
                // split() keeps the empty part after a final blank; a text
                // stream opens no line after a final line end.
                const char* to = base + len_;
                if (sep_ == '\n') {
                    // What the decoder leaves of the last piece; a file that
                    // decodes to nothing at all still gives one empty line.
                    to = dropIncomplete(base + pos_, to);
                    if (to == base + pos_ && (emitted_ || !nonEmpty_))
                        return false;
                }
                if (!done_ && (to > base + pos_ || sep_ == ' ' || !emitted_)) {
                    take(b, e, base + pos_, to);
                    pos_ = len_;
                    done_ = true;
                    return true;
                }
                return false;
            }
            refill();
        }
    }

    bool failed() const { return failed_; }

private:
    void take(const char** b, const char** e, const char* from, const char* to)
    {
        if (sep_ == '\n' && to > from && to[-1] == '\r')
            --to;
        *b = from;
        *e = to;
    }

    // A text stream's decoder keeps an unfinished UTF-8 sequence at the end
    // of the file waiting for bytes that never come, so the last line ends
    // before it.
    static const char* dropIncomplete(const char* from, const char* to)
    {
        const char* p = to;
        while (p > from && to - p < 3 && (static_cast<unsigned char>(p[-1]) & 0xC0) == 0x80)
            --p;
        if (p == from)
            return to;
        const auto lead = static_cast<unsigned char>(p[-1]);
        const long need = lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                        : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
        return need && to - (p - 1) < need ? p - 1 : to;
    }

    void decodeWide()
    {
        f_.seek(0);
        QTextStream ts(&f_);
        mem_ = ts.readAll().toUtf8();
        inMem_ = true;
    }

    void refill()
    {
        if (pos_ > 0) {
            std::memmove(buf_.data(), buf_.data() + pos_, len_ - pos_);
            len_ -= pos_;
            pos_ = 0;
        }
        if (len_ == buf_.size()) {
            // A line longer than the chunk: grow once per doubling, bounded
            // by the file size.
            try {
                buf_.resize(buf_.size() * 2);
            } catch (const std::bad_alloc&) {
                failed_ = eof_ = true;
                return;
            }
        }
        char* dst = buf_.data() + len_;
        const size_t room = buf_.size() - len_;
        qint64 got;
        if (inMem_) {
            got = std::min<qint64>(qint64(room), mem_.size() - memPos_);
            std::memcpy(dst, mem_.constData() + memPos_, size_t(got));
            memPos_ += got;
        } else {
            got = f_.read(dst, qint64(room));
        }
        if (got < 0)
            failed_ = true;
        if (got <= 0) {
            eof_ = true;
            return;
        }
        if (sep_ == ' ') {
            if (auto* nul = static_cast<char*>(std::memchr(dst, 0, size_t(got)))) {
                got = nul - dst;
                eof_ = true;
            }
        }
        len_ += size_t(got);
    }

    const char sep_;
    QFile f_;
    QByteArray mem_;
    qint64 memPos_ = 0;
    bool inMem_ = false;
    qint64 start_ = 0;
    std::vector<char> buf_;
    size_t pos_ = 0, len_ = 0;
    bool eof_ = false, done_ = false, failed_ = false;
    bool emitted_ = false;   // a piece was handed out since the last rewind
    bool nonEmpty_ = false;  // the file holds at least one byte
};

struct Scan {
    uint64_t lines = 0;
    int64_t marker = -1;
    bool lastIsEnd = false;
};

int32_t readFailed(int32_t st, const QString& file)
{
    return FailWith(st, why::cannotRead(file));
}

// First pass: counts the lines and finds the header marker and a trailer, so
// the arrays can be allocated once for exactly the samples that follow.
int32_t scanLines(Pieces& src, bool header, Scan* s, int32_t err, const QString& file)
{
    const char *b, *e;
    uint64_t n = 0;
    while (src.next(&b, &e)) {
        if (header) {
            if (s->marker < 0 && isMarker(b, e))
                s->marker = int64_t(n);
            s->lastIsEnd = isEnd(b, e);
        }
        if (++n % (kCadence * 40) == 0 && EscFlg)
            return ST_CANCEL;
    }
    s->lines = n;
    return src.failed() ? readFailed(err, file) : ST_OK;
}

int32_t skipLines(Pieces& src, uint64_t k, int32_t err, const QString& file)
{
    const char *b, *e;
    if (!src.rewind())
        return readFailed(err, file);
    for (uint64_t i = 0; i < k; ++i)
        if (!src.next(&b, &e))
            return readFailed(err, file);
    return ST_OK;
}

// Narrows [p, end) to what lies between its white space.
void trimWs(const char*& p, const char*& end)
{
    while (p < end && isWs(*p))
        ++p;
    while (end > p && isWs(end[-1]))
        --end;
}

// Whether [b, e), which read as 0, holds a number. Written zeros are told
// apart quickly; anything else asks Qt, as the value itself did.
bool heldNumber(const char* b, const char* e)
{
    const char* p = b;
    const char* end = e;
    trimWs(p, end);
    if (p == end)
        return false;
    const char* s = p + (*p == '+' || *p == '-');
    const char* z = s;
    while (s < end && (*s == '0' || *s == '.'))
        ++s;
    if (s > z && s < end && (*s == 'e' || *s == 'E')) {
        ++s;
        s += s < end && (*s == '+' || *s == '-');
        const char* x = s;
        while (s < end && isDigit(*s))
            ++s;
        if (s == x)
            s = z;
    }
    if (s > z && s == end && std::count(z, end, '.') <= 1 && std::count_if(z, end, isDigit) > 0)
        return true;
    bool ok = false;
    if (e - b <= INT_MAX)
        QString::fromUtf8(b, int(e - b)).toFloat(&ok);
    return ok;
}

// A value that read as 0 from text holding no number: one more fill.
inline int filled(float v, const char* b, const char* e) { return v == 0.0f && !heldNumber(b, e); }

// The pieces [b, e) of one line split at single blanks: the first two.
// Returns how many of them held no number.
int splitPair(const char* b, const char* e, float* i, float* q)
{
    auto* sp = static_cast<const char*>(std::memchr(b, ' ', size_t(e - b)));
    if (!sp) {
        // Only one part on the line: the missing value reads as 0.0, as
        // text that is not a number does.
        *i = text::ParseFloat(b, e);
        *q = 0.0f;
        return 1 + filled(*i, b, e);
    }
    *i = text::ParseFloat(b, sp);
    const char* qb = sp + 1;
    auto* sp2 = static_cast<const char*>(std::memchr(qb, ' ', size_t(e - qb)));
    *q = text::ParseFloat(qb, sp2 ? sp2 : e);
    return filled(*i, b, sp) + filled(*q, qb, sp2 ? sp2 : e);
}

// The value column of an ADS time-domain line: the second field after runs
// of white space are folded and the ends trimmed (QString::simplified).
// *none is set when the line held no number there.
float secondColumn(const char* b, const char* e, bool* none)
{
    for (const char* p = b; p < e; ++p)
        if (static_cast<unsigned char>(*p) >= 0x80) {
            // Unicode white space counts too; leave that to Qt.
            const QStringList parts = QString::fromUtf8(b, int(e - b)).simplified().split(' ');
            bool ok = false;
            const float v = parts.size() > 1 ? parts[1].toFloat(&ok) : 0.0f;
            *none = !ok;
            return v;
        }
    const char* p = b;
    while (p < e && isWs(*p))
        ++p;
    while (p < e && !isWs(*p))
        ++p;
    while (p < e && isWs(*p))
        ++p;
    const char* v = p;
    while (p < e && !isWs(*p))
        ++p;
    // No second column: 0.0, like a missing part of a one-file line.
    const float f = v < p ? text::ParseFloat(v, p) : 0.0f;
    *none = v == p || filled(f, v, p);
    return f;
}

enum class LineKind { Pair, Value, TimeValue };

// *fills counts the lines that held no number where one was expected.
int32_t parseLines(Pieces& src, uint64_t n, LineKind kind, float* a, float* q, int32_t err,
                   const QString& file, uint64_t* fills)
{
    const char *b, *e;
    bool none = false;
    for (uint64_t i = 0; i < n; ++i) {
        if (i % kCadence == 0 && EscPressed(i))
            return ST_CANCEL;
        if (!src.next(&b, &e))
            return src.failed() ? readFailed(err, file)
                                : FailWith(err, why::changed(file));
        switch (kind) {
        case LineKind::Pair: none = splitPair(b, e, a + i, q + i) > 0; break;
        case LineKind::Value: a[i] = text::ParseFloat(b, e); none = filled(a[i], b, e); break;
        case LineKind::TimeValue: a[i] = secondColumn(b, e, &none); break;
        }
        *fills += none;
    }
    return src.failed() ? readFailed(err, file) : ST_OK;
}

void noteFills(IQDatStr* rec, const QString& file, uint64_t fills, uint64_t of, const char* what)
{
    if (fills)
        AddNotice(rec, QStringLiteral("%1: %2 of %3 %4 held no number where one was expected; 0 was read instead.")
                           .arg(file).arg(fills).arg(of).arg(QLatin1String(what)));
}

QByteArray spwHeader(const IQDatStr& rec, bool realImag)
{
    return QStringLiteral("$SIGNAL_FILE 9\n$USER_COMMENT\n\n$COMMON_INFO\nSPW Version 3.0\n\n"
                          "Sampling Frequency = %1\nStarting Time = 0.0\n$DATA_INFO\n"
                          "Number of Points = %2\nSignal Type = %3\n$DATA\n")
        .arg(QString::number(rec.Clock, 'g', 6))
        .arg(rec.N)
        .arg(realImag ? QStringLiteral("Real_Imag") : QStringLiteral("Double"))
        .toLatin1();
}

// DaDisp header; one signal names it "i" or "q", two signals "i_q" / "i, q".
QByteArray dadispHeader(const IQDatStr& rec, const QDateTime& now, const char* dataset,
                        const char* signal, bool two)
{
    return QStringLiteral("DATASET %1\nVERSION NEXT\nNUM SIGS %2\nSTORAGE MODE INTERLACED\n"
                          "SIGNAL %3\nDATE %4\nTIME %5\n%6INTERVAL %7\nVERT_UNITS volt\n"
                          "HORZ_UNITS sec\nCOMMENT\nDATA\n")
        .arg(QLatin1String(dataset))
        .arg(two ? 2 : 1)
        .arg(QLatin1String(signal), now.toString(QStringLiteral("yyyy-MM-dd")),
             now.toString(QStringLiteral("hh:mm:ss")), two ? QStringLiteral(" ") : QString(),
             QString::number(1.0 / rec.Clock, 'g', 6))
        .toLatin1();
}

// Formats n lines ("I" or "I Q") chunk by chunk into the writer.
int32_t writeValues(io::Writer& w, const float* a, const float* q, uint64_t n)
{
    const uint64_t k0 = std::min<uint64_t>(n, kCadence);
    std::vector<char> buf(size_t(k0) * (2 * text::kNumMax + 2));
    for (uint64_t i = 0; i < n && w.ok();) {
        if (EscPressed(i))
            return ST_CANCEL;
        const uint64_t k = std::min(n - i, kCadence);
        char* p = buf.data();
        for (uint64_t j = i; j < i + k; ++j) {
            p = text::FormatE7(a[j], p);
            if (q) {
                *p++ = ' ';
                p = text::FormatE7(q[j], p);
            }
            *p++ = '\n';
        }
        w.write(buf.data(), size_t(p - buf.data()));
        i += k;
    }
    return ST_OK;
}

} // namespace

namespace text {

float ParseFloat(const char* b, const char* e)
{
    const char* p = b;
    const char* end = e;
    trimWs(p, end);
    if (p == end)
        return 0.0f;
    // Fast path only for the plain shape [sign] digits [. digits]
    // [e [sign] digits] of modest length; anything else (and anything out of
    // float range) takes Qt's route, so results never differ.
    if (end - p > 64)
        return slowParse(b, e);
    const char* s = p;
    const bool neg = *s == '-';
    if (*s == '+' || *s == '-')
        ++s;
    const char* mant = s;
    uint64_t w = 0;
    while (s < end && isDigit(*s))
        w = w * 10 + uint64_t(*s++ - '0');
    int digits = int(s - mant);
    if (digits == 0)
        return slowParse(b, e);
    int frac = 0;
    if (s < end && *s == '.') {
        const char* f = ++s;
        while (s < end && isDigit(*s))
            w = w * 10 + uint64_t(*s++ - '0');
        frac = int(s - f);
        if (frac == 0)
            return slowParse(b, e);
        digits += frac;
    }
    int exp = 0;
    if (s < end && (*s == 'e' || *s == 'E')) {
        ++s;
        const bool eneg = s < end && *s == '-';
        if (s < end && (*s == '+' || *s == '-'))
            ++s;
        const char* x = s;
        while (s < end && isDigit(*s) && s - x < 5)
            exp = exp * 10 + (*s++ - '0');
        if (s == x || s - x > 4)
            return slowParse(b, e);
        if (eneg)
            exp = -exp;
    }
    if (s != end)
        return slowParse(b, e);
    double d;
    const int p10 = exp - frac;
    if (digits <= 19 && w <= (uint64_t(1) << 53) && p10 >= -22 && p10 <= 22) {
        // Both operands exact, so one correctly rounded operation gives the
        // correctly rounded value (as any exact decimal conversion would).
        static const double pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        d = p10 >= 0 ? double(w) * pow10[p10] : double(w) / pow10[-p10];
        if (w == 0)
            d = 0.0;
    } else {
        const auto r = std::from_chars(mant, end, d);
        if (r.ec != std::errc() || r.ptr != end)
            return slowParse(b, e);
        // Qt turns an underflow to zero into +0.0 whatever the sign.
        if (d == 0 && w != 0)
            return slowParse(b, e);
        if (d == 0)
            for (const char* c = mant; c < end && *c != 'e' && *c != 'E'; ++c)
                if (*c >= '1' && *c <= '9')
                    return slowParse(b, e);
    }
    if (neg)
        d = -d;
    if (std::fabs(d) > double(FLT_MAX))
        return slowParse(b, e);
    const float f = float(d);
    if (f == 0 && d != 0)
        return slowParse(b, e);
    return f;
}

char* FormatE7(float v, char* out)
{
    // Eight significant digits of a float: scale by a power of ten in double
    // precision (relative error below 4e-16, far below the 1e-6 margin
    // kept from every rounding boundary) and round. Values near a rounding
    // tie or a decade boundary, zero, subnormal results and non-finite
    // values go to the exact conversion.
    static const double pow10[] = {
        1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20,
        1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,
        1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,
        1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,
        1e17,  1e18,  1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,  1e26,  1e27,  1e28,
        1e29,  1e30,  1e31,  1e32,  1e33,  1e34,  1e35,  1e36,  1e37,  1e38,  1e39,  1e40,
        1e41,  1e42,  1e43,  1e44,  1e45,  1e46,  1e47,  1e48,  1e49,  1e50,  1e51,  1e52,
        1e53};
    constexpr int kOff = 31;
    const double a = std::fabs(double(v));
    if (std::isfinite(a) && a != 0) {
        uint64_t bits;
        std::memcpy(&bits, &a, 8);
        const int e2 = int((bits >> 52) & 0x7ff) - 1023;
        // floor(log10(a)) is this or one more.
        int k = int(std::floor(e2 * 0.30102999566398120));
        double s = a * pow10[7 - k + kOff];
        if (s >= 1e8) {
            ++k;
            s = a * pow10[7 - k + kOff];
        }
        const double fl = std::floor(s);
        if (s >= 1e7 + 1 && s < 1e8 - 1 && std::fabs(s - fl - 0.5) > 1e-6) {
            static const char pairs[] =
                "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                "8081828384858687888990919293949596979899";
            uint32_t q = uint32_t(fl) + (s - fl > 0.5 ? 1 : 0);
            char* o = out;
            if (v < 0)
                *o++ = '-';
            const uint32_t lead = q / 10000000;
            uint32_t r = q % 10000000;
            o[0] = char('0' + lead);
            o[1] = '.';
            const uint32_t p1 = r / 100000, p2 = r / 1000 % 100, p3 = r / 10 % 100;
            std::memcpy(o + 2, pairs + 2 * p1, 2);
            std::memcpy(o + 4, pairs + 2 * p2, 2);
            std::memcpy(o + 6, pairs + 2 * p3, 2);
            o[8] = char('0' + r % 10);
            o[9] = 'e';
            o[10] = k < 0 ? '-' : '+';
            const int ak = k < 0 ? -k : k;
            std::memcpy(o + 11, pairs + 2 * ak, 2);
            return o + 13;
        }
    }
    return std::to_chars(out, out + kNumMax, double(v), std::chars_format::scientific, 7).ptr;
}

void SetNow(const QDateTime& fixed) { fixedNow = fixed; }

} // namespace text

void filterHdr(int32_t code, QStringList* lines)
{
    if (!hasHeader(code))
        return;
    int64_t marker = -1;
    for (int i = 0; i < lines->size() && marker < 0; ++i) {
        const QByteArray l = lines->at(i).toUtf8();
        if (isMarker(l.constData(), l.constData() + l.size()))
            marker = i;
    }
    const bool lastIsEnd = !lines->isEmpty() && lines->last() == QLatin1String("END");
    const Range r = dataRange(uint64_t(lines->size()), marker, lastIsEnd);
    *lines = lines->mid(int(r.first), int(r.end - r.first));
}

int32_t SaveAscii(IQDatStr rec, int32_t code, const QString& fileI, const QString& fileQ)
{
    const QDateTime now = fixedNow.isValid() ? fixedNow : QDateTime::currentDateTime();
    const bool two = !fileQ.isEmpty();
    const uint64_t n = rec.I && rec.Q ? rec.N : 0;
    rec.N = n;
    QByteArray hdrI, hdrQ, trailer;
    switch (TraitsOf(code).header) {
    case TextHeader::DaDispOne:
        hdrI = dadispHeader(rec, now, "i", "i", false);
        hdrQ = dadispHeader(rec, now, "q", "q", false);
        break;
    case TextHeader::DaDispTwo:
        hdrI = dadispHeader(rec, now, "i_q", "i, q", true);
        break;
    case TextHeader::SpwDouble:
    case TextHeader::SpwRealImag:
        hdrI = hdrQ = spwHeader(rec, TraitsOf(code).header == TextHeader::SpwRealImag);
        trailer = "END\n";
        break;
    case TextHeader::None:
    case TextHeader::Marker:
        break;
    }

    // Both files are opened before anything is written, so a Q file that
    // cannot be created leaves the I file as it was too.
    io::Writer wi(fileI), wq(fileQ);
    if (int32_t st = OpenOut(wi))
        return st;
    if (int32_t st = two ? OpenOut(wq, ST_FILE2) : ST_OK)
        return st;
    ProgressScope ps(WritingLabel(), n);
    wi.write(hdrI);
    int32_t st = writeValues(wi, rec.I, two ? nullptr : rec.Q, n);
    wi.write(trailer);
    if (two && st == ST_OK) {
        wq.write(hdrQ);
        st = writeValues(wq, rec.Q, nullptr, n);
        wq.write(trailer);
    }
    return two ? FinishPair(wi, wq, st) : FinishWrite(wi, st);
}

int32_t LoadAscii(IQDatStr* rec)
{
    const int32_t code = rec->Typ >= 0 && rec->Typ < TL_COUNT ? tl[rec->Typ].Code : -1;
    const bool header = hasHeader(code);
    const bool two = !rec->FileQ.isEmpty();
    Pieces si('\n'), sq('\n');
    if (int32_t st = OpenIn(si, rec->FileI, ST_FILE1))
        return st;
    Scan scI, scQ;
    int32_t st = scanLines(si, header, &scI, ST_FILE1, rec->FileI);
    if (st != ST_OK)
        return LoadDone(rec, st);
    const Range rI = dataRange(scI.lines, scI.marker, scI.lastIsEnd);
    uint64_t n = rI.end - rI.first;
    Range rQ{0, 0};
    if (two) {
        if ((st = OpenIn(sq, rec->FileQ, ST_FILE2)))
            return LoadDone(rec, st);
        if ((st = scanLines(sq, header, &scQ, ST_FILE2, rec->FileQ)))
            return LoadDone(rec, st);
        rQ = dataRange(scQ.lines, scQ.marker, scQ.lastIsEnd);
        // The shorter file decides; the extra lines of the longer are ignored.
        n = std::min(n, rQ.end - rQ.first);
    }
    ProgressScope ps(ReadingLabel(), n);
    if ((st = MakeIQArr(rec, n)))
        return LoadDone(rec, st);
    rec->N = n;
    uint64_t fillI = 0, fillQ = 0;
    st = skipLines(si, rI.first, ST_FILE1, rec->FileI);
    if (st == ST_OK && !two)
        st = parseLines(si, n, LineKind::Pair, rec->I, rec->Q, ST_FILE1, rec->FileI, &fillI);
    if (two) {
        const LineKind kind = TraitsOf(code).timeColumn ? LineKind::TimeValue : LineKind::Value;
        if (st == ST_OK)
            st = parseLines(si, n, kind, rec->I, nullptr, ST_FILE1, rec->FileI, &fillI);
        if (st == ST_OK)
            st = skipLines(sq, rQ.first, ST_FILE2, rec->FileQ);
        if (st == ST_OK)
            st = parseLines(sq, n, kind, rec->Q, nullptr, ST_FILE2, rec->FileQ, &fillQ);
    }
    noteFills(rec, rec->FileI, fillI, n, "lines");
    noteFills(rec, rec->FileQ, fillQ, n, "lines");
    return LoadDone(rec, st);
}

int32_t LoadAscMixNoLF(IQDatStr* rec)
{
    Pieces src(' ');
    if (int32_t st = OpenIn(src, rec->FileI, ST_FILE1))
        return st;
    const char *b, *e;
    uint64_t parts = 0;
    while (src.next(&b, &e))
        if (++parts % (kCadence * 40) == 0 && EscFlg)
            return LoadDone(rec, ST_CANCEL);
    if (src.failed())
        return LoadDone(rec, readFailed(ST_FILE1, rec->FileI));
    const uint64_t n = parts / 2;
    ProgressScope ps(ReadingLabel(), n);
    int32_t st = MakeIQArr(rec, n);
    if (st != ST_OK)
        return LoadDone(rec, st);
    rec->N = n;
    if (!src.rewind())
        return LoadDone(rec, readFailed(ST_FILE1, rec->FileI));
    uint64_t fills = 0;
    for (uint64_t k = 0; k < n && st == ST_OK; ++k) {
        if (k % kCadence == 0 && EscPressed(k)) {
            st = ST_CANCEL;
            break;
        }
        // A piece is valid only until the next one is fetched.
        bool got = src.next(&b, &e);
        if (got) {
            rec->I[k] = text::ParseFloat(b, e);
            fills += filled(rec->I[k], b, e);
        }
        got = got && src.next(&b, &e);
        if (!got) {
            st = src.failed() ? readFailed(ST_FILE1, rec->FileI)
                              : FailWith(ST_FILE1, why::changed(rec->FileI));
            break;
        }
        rec->Q[k] = text::ParseFloat(b, e);
        fills += filled(rec->Q[k], b, e);
    }
    noteFills(rec, rec->FileI, fills, 2 * n, "values");
    if (parts % 2)
        AddNotice(rec, QStringLiteral("%1 ends in a value without its pair; it was left out.").arg(rec->FileI));
    return LoadDone(rec, st);
}
