// Helpers shared by the tests: records with known samples, and files built
// byte by byte here, independently of the code under test.
#pragma once

#include "common/byteorder.h"
#include "formats/iqdata.h"
#include "formats/save.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <random>
#include <vector>

namespace testutil {

using Vf = std::vector<float>;

// Owns a record's arrays, so a failed check in mid-test leaks nothing. Made
// from n distinct, exactly representable samples in [-1, 1], or from given
// samples.
struct Rec {
    IQDatStr r;
    Rec() = default;
    explicit Rec(uint64_t n, uint32_t seed = 1)
    {
        MakeIQArr(&r, n);
        r.N = n;
        std::mt19937 gen(seed);
        std::uniform_real_distribution<float> d(-1.0f, 1.0f);
        for (uint64_t i = 0; i < n; ++i) {
            r.I[i] = d(gen);
            r.Q[i] = d(gen);
        }
    }
    Rec(const Vf& i, const Vf& q, double clock = 1e8)
    {
        MakeIQArr(&r, i.size());
        r.N = i.size();
        std::copy(i.begin(), i.end(), r.I);
        std::copy(q.begin(), q.end(), r.Q);
        r.Clock = clock;
    }
    Rec(const Rec&) = delete;
    Rec& operator=(const Rec&) = delete;
    ~Rec() { FreeArr(&r); }
    IQDatStr* operator->() { return &r; }
};

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Loads path(s) as load-list row typ into r (its old arrays are released).
inline int32_t load(IQDatStr* r, int typ, const QString& fi, const QString& fq = QString())
{
    r->Typ = typ;
    r->FileI = fi;
    r->FileQ = fq;
    return LoadDatFile(r);
}

// True when r holds exactly these samples, bit for bit (-0 and NaN count).
inline bool holds(const IQDatStr& r, const Vf& i, const Vf& q)
{
    return r.N == i.size() && r.N == q.size()
           && (r.N == 0 || (std::memcmp(r.I, i.data(), r.N * 4) == 0 && std::memcmp(r.Q, q.data(), r.N * 4) == 0));
}

// Equal bit for bit, any NaN matching any NaN.
inline bool sameFloat(float a, float b) { return std::isnan(a) ? std::isnan(b) : std::memcmp(&a, &b, 4) == 0; }

// The row of the type called name in a type list.
inline int TypeIndex(const TypStr* list, int count, const char* name)
{
    for (int i = 0; i < count; ++i)
        if (list[i].Name == QLatin1String(name))
            return i;
    return -1;
}

// Saves or appends dat to the files of save-list row typ through the save
// dispatcher.
inline int32_t saveTo(IQDatStr* dat, int typ, const QString& fi, const QString& fq, bool append = false, int guard = 0,
                      const AnaStr& ana = AnaStr())
{
    IQDatStr dst, sav;
    sav.Typ = typ;
    sav.FileI = dst.FileI = fi;
    sav.FileQ = dst.FileQ = fq;
    bool result = false;
    const int32_t st = SaveDatFile(dat, &dst, &sav, ana, append, guard, &result);
    FreeArr(&dst);
    FreeArr(&sav);
    return st;
}

// A test object with a folder of its own for the files it writes.
class FileTest : public QObject {
protected:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

// Fields of a file: little-endian integers of the given width, doubles, the
// reversed (big-endian) form of either, and 16-bit values read back.
inline QByteArray le(uint64_t v, int bytes = 4)
{
    QByteArray b;
    for (int k = 0; k < bytes; ++k)
        b += char(v >> (8 * k));
    return b;
}
inline QByteArray f64(double v) { return le(io::bits64(v), 8); }
inline QByteArray be(QByteArray b) { return std::reverse(b.begin(), b.end()), b; }
inline int16_t s16(const QByteArray& b, qint64 off) { return int16_t(uint8_t(b[int(off)]) | uint8_t(b[int(off + 1)]) << 8); }
inline uint32_t u32(const QByteArray& b, qint64 off) { return uint16_t(s16(b, off)) | uint32_t(uint16_t(s16(b, off + 2))) << 16; }

// Interleaved 16-bit pairs.
inline QByteArray pairs(const std::vector<int16_t>& i, const std::vector<int16_t>& q)
{
    QByteArray b(int(4 * i.size()), '\0');
    for (size_t k = 0; k < i.size(); ++k)
        for (int j = 0; j < 2; ++j) {
            b[int(4 * k) + j] = char(uint16_t(i[k]) >> (8 * j));
            b[int(4 * k) + 2 + j] = char(uint16_t(q[k]) >> (8 * j));
        }
    return b;
}

// A RIFF/WAVE file as other tools write it: true sizes, optional extra
// chunks before the data.
inline QByteArray wav(int channels, int bits, uint32_t rate, const QByteArray& data,
                      const QByteArray& extraChunks = QByteArray(), int fmtSize = 16)
{
    const QByteArray fmt = (le(1, 2) + le(channels, 2) + le(rate) + le(rate * uint32_t(channels * bits / 8))
                            + le(channels * bits / 8, 2) + le(bits, 2)).leftJustified(fmtSize, '\0');
    const QByteArray body = "WAVEfmt " + le(fmt.size()) + fmt + extraChunks + "data" + le(data.size()) + data;
    return "RIFF" + le(body.size()) + body;
}

} // namespace testutil
