// Helpers of the WAV, WV, raw recorder and streaming tests: files built byte
// by byte, independently of the code under test.
#pragma once

#include "testutil.h"

#include <QtTest>
#include <algorithm>
#include <vector>

namespace t {

using testutil::holds;
using testutil::load;
using testutil::readFile;
using testutil::writeFile;

inline void le16(QByteArray& b, int v)
{
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
inline void le32(QByteArray& b, uint32_t v)
{
    le16(b, int(v & 0xFFFF));
    le16(b, int(v >> 16));
}
inline int16_t s16(const QByteArray& b, qint64 off)
{
    return int16_t(uint8_t(b[int(off)]) | uint8_t(b[int(off + 1)]) << 8);
}
inline uint32_t u32(const QByteArray& b, qint64 off)
{
    return uint16_t(s16(b, off)) | uint32_t(uint16_t(s16(b, off + 2))) << 16;
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
    fmt.append(QByteArray(fmtSize - fmt.size(), '\0'));
    QByteArray body = "WAVEfmt ";
    le32(body, uint32_t(fmt.size()));
    body += fmt + extraChunks + "data";
    le32(body, uint32_t(data.size()));
    body += data;
    QByteArray f = "RIFF";
    le32(f, uint32_t(body.size()));
    return f + body;
}

// Interleaved 16-bit pairs.
inline QByteArray pairs(const std::vector<int16_t>& i, const std::vector<int16_t>& q)
{
    QByteArray b;
    b.reserve(int(4 * i.size()));
    for (size_t k = 0; k < i.size(); ++k) {
        le16(b, i[k]);
        le16(b, q[k]);
    }
    return b;
}

// testutil's record owner with a clock, and -> for the record's fields.
struct Rec : testutil::Rec {
    using testutil::Rec::Rec;
    Rec(const std::vector<float>& i, const std::vector<float>& q, double clock) : testutil::Rec(i, q) { r.Clock = clock; }
    IQDatStr* operator->() { return &r; }
};

} // namespace t
