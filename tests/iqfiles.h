// Small helpers shared by the WAV, WV, raw recorder and streaming tests:
// building records and files byte by byte, independently of the code under
// test.
#pragma once

#include "formats/iqdata.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtTest>
#include <cstdint>
#include <vector>

namespace t {

inline void le16(QByteArray& b, int v)
{
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
inline void le32(QByteArray& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}
inline void le64(QByteArray& b, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}
inline int16_t s16(const QByteArray& b, qint64 off)
{
    return int16_t(uint8_t(b[int(off)]) | uint8_t(b[int(off + 1)]) << 8);
}
inline uint32_t u32(const QByteArray& b, qint64 off)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | uint8_t(b[int(off + i)]);
    return v;
}
inline uint64_t u64(const QByteArray& b, qint64 off)
{
    return u32(b, off) | uint64_t(u32(b, off + 4)) << 32;
}

inline bool write(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}
inline QByteArray read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A RIFF/WAVE file as other tools write it: true sizes, optional extra
// chunks before the data.
inline QByteArray wav(int channels, int bits, uint32_t rate, const QByteArray& data,
                      const QByteArray& extraChunks = QByteArray(), int fmtSize = 16)
{
    QByteArray fmt;
    le16(fmt, 1);
    le16(fmt, channels);
    le32(fmt, rate);
    le32(fmt, rate * uint32_t(channels * bits / 8));
    le16(fmt, channels * bits / 8);
    le16(fmt, bits);
    while (fmt.size() < fmtSize)
        fmt.append('\0');
    QByteArray body = "WAVE";
    body += "fmt ";
    le32(body, uint32_t(fmt.size()));
    body += fmt;
    body += extraChunks;
    body += "data";
    le32(body, uint32_t(data.size()));
    body += data;
    QByteArray f = "RIFF";
    le32(f, uint32_t(body.size()));
    return f + body;
}

// Interleaved 16-bit pairs.
inline QByteArray pairs(const std::vector<int16_t>& i, const std::vector<int16_t>& q)
{
    std::vector<char> b(i.size() * 4);
    for (size_t k = 0; k < i.size(); ++k) {
        b[4 * k] = char(i[k] & 0xFF);
        b[4 * k + 1] = char((i[k] >> 8) & 0xFF);
        b[4 * k + 2] = char(q[k] & 0xFF);
        b[4 * k + 3] = char((q[k] >> 8) & 0xFF);
    }
    return QByteArray(b.data(), int(b.size()));
}

// A record owning its arrays for the length of a test.
struct Rec {
    IQDatStr r;
    Rec(const std::vector<float>& i, const std::vector<float>& q, double clock = 1e6)
    {
        MakeIQArr(&r, i.size());
        r.N = i.size();
        std::copy(i.begin(), i.end(), r.I);
        std::copy(q.begin(), q.end(), r.Q);
        r.Clock = clock;
    }
    ~Rec() { FreeArr(&r); }
};

// Index of the first differing byte, or -1.
inline qint64 firstDiff(const QByteArray& a, const QByteArray& b)
{
    const qint64 n = std::min(a.size(), b.size());
    const char* pa = a.constData();
    const char* pb = b.constData();
    for (qint64 k = 0; k < n; ++k)
        if (pa[k] != pb[k])
            return k;
    return a.size() == b.size() ? -1 : n;
}

} // namespace t
