// What the readers and writers of this folder share: the 16-bit sample-pair
// codec, opening and committing files, the failure reasons and the progress
// labels. Included by formats/*.cpp only.
#pragma once

#include "blockio.h"
#include "fileio.h"
#include "iqdata.h"
#include "progress.h"
#include "spool.h"

#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <climits>
#include <cstring>

inline QString ReadingLabel() { return QStringLiteral("Reading IQ values..."); }
inline QString WritingLabel() { return QStringLiteral("Writing IQ values..."); }

// ---------------------------------------------------------------- failures

// The reasons behind failure statuses (FailWith), one shape for every type:
// the file named first, then what went wrong with it; an optional reason
// follows a colon ("x.wav cannot be read: it holds format 3, not PCM.").
namespace why {

inline QString withReason(QString text, const QString& reason)
{
    return reason.isEmpty() ? text + QLatin1Char('.') : text + QStringLiteral(": ") + reason + QLatin1Char('.');
}
inline QString cannotOpen(const QString& file, const QString& reason = QString())
{
    return withReason(file + QStringLiteral(" cannot be opened"), reason);
}
inline QString cannotCreate(const QString& file, const QString& reason = QString())
{
    return withReason(file + QStringLiteral(" cannot be created"), reason);
}
// A file whose contents cannot be taken as the type it was loaded as.
inline QString cannotRead(const QString& file, const QString& reason = QString())
{
    return withReason(file + QStringLiteral(" cannot be read"), reason);
}
inline QString cannotWrite(const QString& file, const QString& reason = QString())
{
    return withReason(file + QStringLiteral(" cannot be written"), reason);
}
// A file that ends before what its own header (or its layout) promises.
inline QString truncated(const QString& file, const QString& reason = QString())
{
    return withReason(file + QStringLiteral(" is truncated"), reason);
}
inline QString changed(const QString& file) { return file + QStringLiteral(" changed while it was read."); }
inline QString lengths(const QString& fileI, uint64_t nI, const QString& fileQ, uint64_t nQ)
{
    return QStringLiteral("%1 holds %2 samples, %3 holds %4.").arg(fileI).arg(nI).arg(fileQ).arg(nQ);
}

} // namespace why

// ---------------------------------------------------------------- files

// Opens a reader (io::Reader or any class with open(path)); st on failure.
template <class R>
int32_t OpenIn(R& r, const QString& file, int32_t st = ST_FILE1)
{
    if (const QString p = io::NameProblem(file); !p.isEmpty())
        return FailWith(st, why::cannotOpen(file, p));
    return r.open(file) ? ST_OK : FailWith(st, why::withReason(file + QStringLiteral(" cannot be opened"), InputReason(file)));
}

// Sample data of bytes bytes in units of unit bytes that ends in a part of
// one: the part is left out and the user told.
inline void NoteTrailing(IQDatStr* rec, const QString& file, uint64_t bytes, uint64_t unit)
{
    const uint64_t k = unit ? bytes % unit : 0;
    if (k == 1)
        AddNotice(rec, file + QStringLiteral(" ends in 1 byte that does not make a whole sample; it was left out."));
    else if (k)
        AddNotice(rec, QStringLiteral("%1 ends in %2 bytes that do not make a whole sample; they were left out.")
                           .arg(file).arg(k));
}

inline int32_t OpenOut(io::Writer& w, int32_t st = ST_FILE1)
{
    return w.open() ? ST_OK : FailWrite(st, why::cannotCreate(w.path(), w.error()));
}

// The tail of every one-file writer: EscFlg cleared; on success the file
// replaces its destination, otherwise the old destination stays as it was.
inline int32_t FinishWrite(io::Writer& w, int32_t st)
{
    EscFlg = 0;
    if (st != ST_OK) {
        w.cancel();
        return st;
    }
    return w.commit() ? ST_OK : FailWrite(ST_FILE1, why::cannotWrite(w.path(), w.error()));
}

// The tail of every two-file writer: both files replace their
// destinations, or neither does.
inline int32_t FinishPair(io::Writer& wi, io::Writer& wq, int32_t st)
{
    EscFlg = 0;
    if (st != ST_OK) {
        wi.cancel();
        wq.cancel();
        return st;
    }
    switch (io::CommitPair(wi, wq)) {
    case 0: return ST_OK;
    case 1: return FailWrite(ST_FILE1, why::cannotWrite(wi.path(), wi.error()));
    default: return FailWrite(ST_FILE2, why::cannotWrite(wq.path(), wq.error()));
    }
}

// ---------------------------------------------------------------- samples

// Double to signed 32-bit as the file formats expect it: toward zero, and
// -2147483648 for anything outside the range (or not a number). Written
// with selects only, so that loops over it vectorise.
inline int32_t Trunc32(double v)
{
    const bool in = v > -2147483649.0 && v < 2147483648.0;
    const int32_t t = int32_t(in ? v : 0.0);
    return in ? t : INT32_MIN;
}

// 16-bit little-endian values in sample buffers; on little-endian hosts a
// plain copy, which the compiler turns into vector loads and stores.
inline int16_t Ld16(const uint8_t* p)
{
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
#else
    return int16_t(io::le16(p));
#endif
}
// The low 16 bits of v.
inline void St16(uint8_t* p, int32_t v)
{
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    const int16_t s = int16_t(uint16_t(uint32_t(v)));
    std::memcpy(p, &s, 2);
#else
    io::put16(p, uint16_t(uint32_t(v)));
#endif
}

namespace codec {

// The 16-bit sample encodings: dec turns a stored value into a sample, enc
// a sample and the writer's scale into the value whose low 16 bits are
// stored.

// Unscaled integers; written scaled and truncated toward zero (WAV).
struct Linear16 {
    static float dec(int16_t s) { return float(s); }
    static int32_t enc(float x, double scale) { return Trunc32(double(x) * scale); }
};

// Unscaled integers; written scaled and rounded half up (WV).
struct Rounded16 {
    static float dec(int16_t s) { return float(s); }
    static int32_t enc(float x, double scale) { return Trunc32(double(x) * scale + 0.5); }
};

// Raw recorder: full scale +-32767; negative samples (and NaN) are stored
// 65536 lower, so that their low 16 bits count down from 65535. The sign
// tests use integer arithmetic: a float comparison feeding the result
// keeps the compiler from vectorising the loops (floating-point
// comparisons may trap).
struct Vantor16 {
    static float dec(int16_t s)
    {
        const uint16_t u = uint16_t(s);
        return float((double(u) - 65534.5 * double(u >> 15)) / 32767.0);
    }
    static int32_t enc(float x, double fullScale)
    {
        uint32_t bits;
        std::memcpy(&bits, &x, 4);
        const uint32_t mag = bits & 0x7fffffffu;
        // Below zero (-0 is not) or not a number.
        const uint32_t low = ((bits >> 31) & uint32_t(mag != 0)) | uint32_t(mag > 0x7f800000u);
        const double v = double(x) / fullScale * 32767.0 + 0.5;
        return Trunc32(v - 65536.0 * double(int32_t(low)));
    }
};

// n I/Q pairs of 4 bytes (I first) to and from the sample arrays.
template <class E>
void DecodePairs(const uint8_t* __restrict b, uint64_t n, float* __restrict I, float* __restrict Q)
{
    for (uint64_t j = 0; j < n; ++j) {
        I[j] = E::dec(Ld16(b + 4 * j));
        Q[j] = E::dec(Ld16(b + 4 * j + 2));
    }
}

template <class E>
void EncodePairs(const float* __restrict I, const float* __restrict Q, uint64_t n, double scale,
                 uint8_t* __restrict b)
{
    for (uint64_t j = 0; j < n; ++j) {
        St16(b + 4 * j, E::enc(I[j], scale));
        St16(b + 4 * j + 2, E::enc(Q[j], scale));
    }
}

// The same decode where the pairs were read: the raw bytes of n pairs fill
// Q[0..n), pair j in Q[j]'s own four bytes, so each slot is read before it
// is written and the file's bytes need no buffer of their own.
template <class E>
void DecodePairsInPlace(float* __restrict I, float* Q, uint64_t n)
{
    for (uint64_t j = 0; j < n; ++j) {
        uint32_t v;
        std::memcpy(&v, Q + j, 4);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        const int16_t i = int16_t(uint16_t(v)), q = int16_t(uint16_t(v >> 16));
#else
        uint8_t b[4];
        std::memcpy(b, &v, 4);
        const int16_t i = Ld16(b), q = Ld16(b + 2);
#endif
        I[j] = E::dec(i);
        Q[j] = E::dec(q);
    }
}

// One channel of n 2-byte values.
template <class E>
void DecodeMono(const uint8_t* __restrict b, uint64_t n, float* __restrict v)
{
    for (uint64_t j = 0; j < n; ++j)
        v[j] = E::dec(Ld16(b + 2 * j));
}

template <class E>
void EncodeMono(const float* __restrict v, uint64_t n, double scale, uint8_t* __restrict b)
{
    for (uint64_t j = 0; j < n; ++j)
        St16(b + 2 * j, E::enc(v[j], scale));
}

// The block read of the 16-bit pair types: n pairs from in into the
// record's arrays, a chunk at a time, read straight into Q.
template <class E>
int32_t ReadPairs(IQDatStr* rec, io::Reader* in, uint64_t n)
{
    for (uint64_t i = 0; i < n;) {
        const uint64_t k = std::min(n - i, kChunkSamples);
        if (!in->readFull(rec->Q + i, size_t(k) * 4))
            return FailWith(ST_FILE1, why::truncated(rec->FileI));
        DecodePairsInPlace<E>(rec->I + i, rec->Q + i, k);
        i += k;
    }
    return ST_OK;
}

// The block write of the 16-bit pair types.
template <class E>
void WritePairs(const IQDatStr& rec, io::Writer& w, uint64_t n, double scale)
{
    for (uint64_t i = 0; i < n;) {
        const uint64_t k = std::min(n - i, kChunkSamples);
        uint8_t* b = Scratch(1, size_t(k) * 4);
        EncodePairs<E>(rec.I + i, rec.Q + i, k, scale, b);
        w.write(b, size_t(k) * 4);
        i += k;
    }
}

} // namespace codec
