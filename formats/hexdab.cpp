#include "hexdab.h"
#include "codec.h"

#include <QList>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace {

// Samples formatted per write: a multiple of the cancel cadence.
constexpr uint64_t kBlock = 50000;

// Lines as fgets hands them out through a 100-byte buffer: up to and
// including the line feed, at most 99 bytes, so a longer line arrives in
// pieces.
class Lines {
public:
    explicit Lines(io::Reader& r) : r_(r), buf_(1u << 20) {}
    bool next();
    const char* begin() const { return line_; }
    const char* end() const { return line_ + n_; }
    bool restart()
    {
        pos_ = len_ = 0;
        return r_.seek(0);
    }

private:
    io::Reader& r_;
    std::vector<char> buf_;
    size_t pos_ = 0, len_ = 0, n_ = 0;
    char line_[100];
};

bool Lines::next()
{
    n_ = 0;
    while (n_ < 99) {
        if (pos_ == len_) {
            pos_ = 0;
            len_ = r_.read(buf_.data(), buf_.size());
            if (!len_)
                break;
        }
        const char c = buf_[pos_++];
        line_[n_++] = c;
        if (c == '\n')
            break;
    }
    return n_ > 0;
}

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// One code: hexadecimal digits (an optional 0x prefix) with white space
// around them. Anything else, or a value beyond max, is no code.
bool hexCode(const char* b, const char* e, uint32_t max, uint32_t* out)
{
    while (b < e && isSpace(*b))
        ++b;
    while (e > b && isSpace(e[-1]))
        --e;
    if (e - b > 2 && b[0] == '0' && (b[1] == 'x' || b[1] == 'X'))
        b += 2;
    if (b == e)
        return false;
    uint32_t v = 0;
    for (; b < e; ++b) {
        int d = hexDigit(*b);
        if (d < 0)
            return false;
        v = v * 16 + uint32_t(d);
        if (v > max)
            return false;
    }
    *out = v;
    return true;
}

struct Part {
    const char* b;
    const char* e;
};

// The first two blank-separated parts of a line; leading blanks skipped.
// A missing part comes back empty.
void splitLine(const char* p, const char* end, Part* a, Part* b)
{
    Part* parts[2] = {a, b};
    for (Part* part : parts) {
        while (p < end && *p == ' ')
            ++p;
        part->b = p;
        while (p < end && *p != ' ')
            ++p;
        part->e = p;
    }
}

// Largest magnitude over I and Q. Half the span (hi - lo) / 2 would equal it
// only for a signal spread evenly about zero; for any other the larger peak
// would overflow into the codes of the opposite sign.
float peakOf(const IQDatStr& rec)
{
    float maxI, minI, maxQ, minQ;
    uint64_t ix;
    MaxMin1D(rec.I, rec.N, &maxI, &ix, &minI, &ix);
    MaxMin1D(rec.Q, rec.N, &maxQ, &ix, &minQ, &ix);
    return std::max(std::max(maxI, maxQ), -std::min(minI, minQ));
}

// Ones' complement: +peak 7FFF, 0 0, -peak 8000.
uint32_t code16(float x, float half)
{
    if (!(half > 0))
        return 0;
    const float q = x / half;
    if (std::isnan(q))
        return 0; // NaN, or an infinite sample over an infinite peak
    if (x >= 0)
        return uint32_t(std::clamp(double(q) * 32767.0 + 0.5, 0.0, 32767.0));
    return uint32_t(std::clamp(double(q) * 32767.0 + 65535.0 + 0.5, 32768.0, 65535.0));
}

float value16(uint32_t c)
{
    return c >= 0x8000 ? -float(c ^ 0xFFFF) / 32767.0f : float(c) / 32767.0f;
}

// Offset binary with zero at z and 2z codes: +peak 2z-1, -peak 0.
struct Offset {
    uint32_t z;
    double full() const { return double(2 * z - 1); }

    uint32_t code(float x, float peak) const
    {
        if (!(peak > 0))
            return z;
        // In double the product is exact at the peaks, so +-peak always reach
        // the two end codes whatever the amplitude.
        const double p = double(x) * full() / (2.0 * double(peak));
        if (std::isnan(p))
            return z;
        return uint32_t(std::clamp(std::trunc(p - 0.5) + z, 0.0, full()));
    }

    // Each code stands for an interval of p = x * full / 2; the value read
    // back lies well inside it, so saving what was read gives the same code.
    // The end codes are exactly +-1, the zero code exactly 0.
    float value(uint32_t c) const
    {
        const double k = double(c) - z;
        const double half = full() / 2;
        const double p = k >= 1 ? std::min(k + 1, half) : k <= -1 ? std::max(k, -half) : 0.0;
        return float(p / half);
    }
};

constexpr Offset kHex10{0x200};
constexpr Offset kHex17{0x10000};

char* putHex(char* p, uint32_t v, int width)
{
    char tmp[8];
    int n = 0;
    do {
        tmp[n++] = "0123456789ABCDEF"[v & 15];
        v >>= 4;
    } while (v);
    for (int i = n; i < width; ++i)
        *p++ = ' ';
    while (n)
        *p++ = tmp[--n];
    return p;
}

template <class Enc>
int32_t saveHex(const IQDatStr& rec, const QString& file, int width, Enc enc)
{
    io::Writer w(file);
    if (int32_t st = OpenOut(w))
        return st;
    ProgressScope ps(WritingLabel(), rec.N);
    std::vector<char> buf(size_t(std::min(rec.N, kBlock)) * (2 * 8 + 2));
    int32_t st = ST_OK;
    for (uint64_t i = 0; i < rec.N && w.ok();) {
        if ((st = EscPressed(i)))
            break;
        const uint64_t k = std::min(rec.N - i, kBlock);
        char* p = buf.data();
        for (uint64_t j = i; j < i + k; ++j) {
            p = putHex(p, enc(rec.I[j]), width);
            *p++ = ' ';
            p = putHex(p, enc(rec.Q[j]), width);
            *p++ = '\n';
        }
        w.write(buf.data(), size_t(p - buf.data()));
        i += k;
    }
    return FinishWrite(w, st);
}

// Two passes: the line count fixes N before the arrays are allocated, so
// they are never grown and never larger than the file has lines.
template <class Dec>
int32_t loadHex(IQDatStr* rec, uint32_t maxCode, Dec dec)
{
    io::Reader r;
    if (int32_t st = OpenIn(r, rec->FileI))
        return st;
    Lines in(r);
    uint64_t n = 0;
    while (in.next())
        if (++n % 25000 == 0 && EscFlg)
            return LoadDone(rec, ST_CANCEL);
    ProgressScope ps(ReadingLabel(), n);
    int32_t st = MakeIQArr(rec, n);
    if (st != ST_OK)
        return LoadDone(rec, st);
    rec->N = n;
    if (!in.restart())
        return LoadDone(rec, FailWith(ST_FILE1, why::cannotRead(rec->FileI)));
    for (uint64_t i = 0; i < n; ++i) {
        if ((st = EscPressed(i)))
            return LoadDone(rec, st);
        if (!in.next())
            return LoadDone(rec, FailWith(ST_FILE1, why::changed(rec->FileI)));
        Part a, b;
        splitLine(in.begin(), in.end(), &a, &b);
        uint32_t c;
        // A missing or malformed code reads as 0.0, keeping one sample per line.
        rec->I[i] = hexCode(a.b, a.e, maxCode, &c) ? dec(c) : 0.0f;
        rec->Q[i] = hexCode(b.b, b.e, maxCode, &c) ? dec(c) : 0.0f;
    }
    return LoadDone(rec, ST_OK);
}

QByteArray dabHeader(uint64_t n)
{
    return QByteArray("length_of_symbol:") + QByteArray::number(qlonglong(n)) + "\ncarriers:192\n";
}

// N value lines into dst; a block that ends early is refused rather than
// padded with zeros that were never in the file.
int32_t readDabBlock(Lines& in, float* dst, uint64_t n, uint64_t base, const QString& file, const char* what)
{
    for (uint64_t i = 0; i < n; ++i) {
        if (int32_t st = EscPressed(base + i))
            return st;
        if (!in.next())
            return FailWith(ST_FILE1, why::truncated(file, QStringLiteral("it ends after %1 of %2 %3 values")
                                                               .arg(i).arg(n).arg(what)));
        dst[i] = QByteArray(in.begin(), int(in.end() - in.begin())).trimmed().toFloat();
    }
    return ST_OK;
}

} // namespace

int32_t SaveHex16Mix(IQDatStr rec, const QString& file)
{
    const float half = peakOf(rec);
    return saveHex(rec, file, 4, [half](float x) { return code16(x, half); });
}

int32_t SaveHex10Mix(IQDatStr rec, const QString& file)
{
    const float peak = peakOf(rec);
    return saveHex(rec, file, 3, [peak](float x) { return kHex10.code(x, peak); });
}

int32_t SaveHex17Mix(IQDatStr rec, const QString& file)
{
    const float peak = peakOf(rec);
    return saveHex(rec, file, 5, [peak](float x) { return kHex17.code(x, peak); });
}

int32_t LoadHex16Mix(IQDatStr* rec) { return loadHex(rec, 0xFFFF, value16); }

int32_t LoadHex10Mix(IQDatStr* rec)
{
    return loadHex(rec, 2 * kHex10.z - 1, [](uint32_t c) { return kHex10.value(c); });
}

int32_t LoadHex17Mix(IQDatStr* rec)
{
    return loadHex(rec, 2 * kHex17.z - 1, [](uint32_t c) { return kHex17.value(c); });
}

int32_t SaveDAB(IQDatStr rec, const QString& file)
{
    io::Writer w(file);
    if (int32_t st = OpenOut(w))
        return st;
    ProgressScope ps(WritingLabel(), 2 * rec.N);
    const QByteArray head = dabHeader(rec.N);
    // "%0.7e" is at most "-1.2345678e-308": 15 characters and the line feed.
    std::vector<char> buf(size_t(std::min(rec.N, kBlock)) * 24);
    int32_t st = ST_OK;
    uint64_t base = 0;
    for (const float* src : {rec.I, rec.Q}) {
        w.write(head);
        for (uint64_t i = 0; i < rec.N && w.ok() && st == ST_OK;) {
            if ((st = EscPressed(base + i)))
                break;
            const uint64_t k = std::min(rec.N - i, kBlock);
            char* p = buf.data();
            char* const end = buf.data() + buf.size();
            for (uint64_t j = i; j < i + k; ++j) {
                p = std::to_chars(p, end, double(src[j]), std::chars_format::scientific, 7).ptr;
                *p++ = '\n';
            }
            w.write(buf.data(), size_t(p - buf.data()));
            i += k;
        }
        base += rec.N;
    }
    return FinishWrite(w, st);
}

int32_t LoadDAB(IQDatStr* rec)
{
    io::Reader r;
    if (int32_t st = OpenIn(r, rec->FileI))
        return st;
    Lines in(r);
    QList<QByteArray> first;
    if (in.next())
        first = QByteArray(in.begin(), int(in.end() - in.begin())).split(':');
    bool ok = false;
    const uint64_t n = first.size() > 1 ? first[1].trimmed().toULongLong(&ok) : 0;
    if (!ok)
        return LoadDone(rec, FailWith(ST_FILE1, why::cannotRead(rec->FileI,
                                                                QStringLiteral("it has no sample count in its first line"))));
    // Every sample needs an I line and a Q line of at least one byte each:
    // a count the file cannot hold is refused before anything is allocated.
    const uint64_t bytes = uint64_t(std::max<int64_t>(r.size(), 0));
    if (n > bytes / 2)
        return LoadDone(rec, FailWith(ST_FILE1, why::truncated(rec->FileI, QStringLiteral("it announces %1 samples but holds only %2 bytes")
                                                                               .arg(n).arg(bytes))));
    ProgressScope ps(ReadingLabel(), 2 * n);
    int32_t st = MakeIQArr(rec, n);
    if (st != ST_OK)
        return LoadDone(rec, st);
    rec->N = n;
    in.next();
    st = readDabBlock(in, rec->I, n, 0, rec->FileI, "I");
    if (st == ST_OK) {
        if (!in.next() || !in.next())
            st = FailWith(ST_FILE1, why::truncated(rec->FileI, QStringLiteral("it has no Q block")));
        else
            st = readDabBlock(in, rec->Q, n, n, rec->FileI, "Q");
    }
    return LoadDone(rec, st);
}
