#include "binary.h"
#include "codec.h"

#include <QList>
#include <QtGlobal>
#include <algorithm>
#include <cstring>
#include <optional>
#include <tuple>
#include <vector>

namespace {

// Points per chunk: a multiple of the 25000-sample cancel cadence, and a few
// megabytes for the widest point (16 bytes).
constexpr uint64_t kPts = 250000;

int32_t tooShort(int32_t st, const QString& file, uint64_t need, int64_t have)
{
    return FailWith(st, why::truncated(file, QStringLiteral("it announces %1 data bytes but holds %2")
                                                 .arg(need).arg(have < 0 ? 0 : have)));
}

// True when n points of size bytes fit into the bytes left in the file.
bool holds(const io::Reader& r, uint64_t n, uint64_t size)
{
    return n <= uint64_t(std::max<int64_t>(r.left(), 0)) / size;
}

// Reads n points of size bytes in chunks and hands each chunk to dec(bytes,
// first index, count). Polls the cancel flag at every chunk start.
template <class Dec>
int32_t readPoints(io::Reader& r, uint64_t n, size_t size, int32_t ioErr, Dec dec)
{
    std::vector<uint8_t> buf(size_t(std::min(n, kPts)) * size);
    for (uint64_t i = 0; i < n;) {
        if (EscPressed(i))
            return ST_CANCEL;
        uint64_t k = std::min(n - i, kPts);
        if (!r.readFull(buf.data(), size_t(k) * size))
            return FailWith(ioErr, why::truncated(r.file().fileName()));
        dec(buf.data(), i, k);
        i += k;
    }
    return ST_OK;
}

// Reads n little-endian float32 values straight into dst.
int32_t readFloats(io::Reader& r, float* dst, uint64_t n, int32_t ioErr)
{
    for (uint64_t i = 0; i < n;) {
        if (EscPressed(i))
            return ST_CANCEL;
        uint64_t k = std::min(n - i, 2 * kPts);
        if (!r.readFull(dst + i, size_t(k) * 4))
            return FailWith(ioErr, why::truncated(r.file().fileName()));
#if Q_BYTE_ORDER != Q_LITTLE_ENDIAN
        for (uint64_t j = i; j < i + k; ++j)
            dst[j] = io::lef32(reinterpret_cast<const uint8_t*>(dst + j));
#endif
        i += k;
    }
    return ST_OK;
}

// Writes n points of size bytes, each encoded by enc(bytes, index).
template <class Enc>
int32_t writePoints(io::Writer& w, uint64_t n, size_t size, Enc enc)
{
    std::vector<uint8_t> buf(size_t(std::min(n, kPts)) * size);
    for (uint64_t i = 0; i < n && w.ok();) {
        if (EscPressed(i))
            return ST_CANCEL;
        uint64_t k = std::min(n - i, kPts);
        for (uint64_t j = 0; j < k; ++j)
            enc(buf.data() + j * size, i + j);
        w.write(buf.data(), size_t(k) * size);
        i += k;
    }
    return ST_OK;
}

int32_t loadIqw(IQDatStr* rec, bool block)
{
    io::Reader r;
    if (int32_t st = OpenIn(r, rec->FileI, ST_FILE1))
        return st;
    const uint64_t n = uint64_t(r.size()) / 8;
    NoteTrailing(rec, rec->FileI, uint64_t(r.size()), 8);
    ProgressScope ps(ReadingLabel(), n);
    int32_t st = MakeIQArr(rec, n);
    if (st != ST_OK)
        return LoadDone(rec, st);
    rec->N = n;
    if (block) {
        st = readFloats(r, rec->I, n, ST_FILE1);
        if (st == ST_OK)
            st = readFloats(r, rec->Q, n, ST_FILE1);
    } else {
        st = readPoints(r, n, 8, ST_FILE1, [rec](const uint8_t* b, uint64_t i, uint64_t k) {
            GetPairsLE(b, k, rec->I + i, rec->Q + i);
        });
    }
    return LoadDone(rec, st);
}

// SPW and ADS binary headers: "key = value" lines up to a data marker.
int32_t readSpwHeader(io::Reader& r, const QByteArray& marker, IQDatStr* rec, bool takeValues)
{
    for (;;) {
        QByteArray line = r.readLine(100);
        if (line.isEmpty())
            return FailWith(ST_FILE1, why::cannotRead(r.file().fileName(), QStringLiteral("it has no \"%1\" line")
                                                                               .arg(QString(marker).trimmed())));
        if (line == marker)
            return ST_OK;
        if (!takeValues)
            continue;
        int eq = line.indexOf("= ");
        if (eq < 0)
            continue;
        QByteArray key = line.left(eq);
        QByteArray rest = line.mid(eq + 2);
        int next = rest.indexOf("= ");
        QByteArray value = (next < 0 ? rest : rest.left(next)).trimmed();
        if (key.contains("Sampling")) {
            rec->Clock = value.toDouble();
        } else if (key.contains("Number o")) {
            bool ok = false;
            qulonglong n = value.toULongLong(&ok);
            if (!ok)
                return FailWith(ST_FILE1, why::cannotRead(r.file().fileName(),
                                                          QStringLiteral("its point count \"%1\" is not a number")
                                                              .arg(QString(value))));
            rec->N = n;
        }
    }
}

// First two header lines of an ADS time-domain file; the point count is the
// fourth blank-separated piece of the second line.
int32_t readTimHeader(io::Reader& r, int32_t err, int32_t* count)
{
    r.readLine(100);
    QByteArray second = r.readLine(200);
    r.readLine(100);
    QByteArray fourth = r.readLine(200);
    if (fourth.isEmpty())
        return FailWith(err, why::truncated(r.file().fileName(), QStringLiteral("it ends inside its header")));
    QList<QByteArray> pieces = second.split(' ');
    *count = pieces.size() > 3 ? int32_t(pieces[3].trimmed().toUInt()) : 0;
    return ST_OK;
}

// One file of an AWG 2000 or TDS pair as its header describes it: where the
// 16-bit points start, how many there are, and the linear map to values.
struct Wfm {
    int64_t first = 0;
    int64_t count = 0;
    double mul = 1, add = 0;
    bool bigUnsigned = false;   // AWG: unsigned big-endian; TDS: signed little-endian
};

// The AWG header holds, big-endian, the point count, the scale factor and two
// further doubles the reader does not need, in that order from the start.
constexpr size_t kAwgHeader = 102;

int32_t parseAwg(const uint8_t* h, const QString& name, int32_t err, Wfm* w)
{
    w->first = int64_t(kAwgHeader);
    w->count = int32_t(io::be32(h));
    // raw * scale / 4096 - 0.5: the power-of-two factor folds in exactly.
    w->mul = io::bef64(h + 4) * 0.000244140625;
    w->add = -0.5;
    w->bigUnsigned = true;
    if (w->count < 0)
        return FailWith(err, why::cannotRead(name, QStringLiteral("it announces %1 points").arg(w->count)));
    return ST_OK;
}

constexpr size_t kTdsHeader = 824;

int32_t parseTds(const uint8_t* h, const QString& name, int32_t err, Wfm* w)
{
    const int64_t bytes = int32_t(io::le32(h + 12));
    const int64_t perPoint = int8_t(h[16]);
    w->first = int32_t(io::le32(h + 20));
    w->mul = io::lef64(h + 176);
    w->add = io::lef64(h + 184);
    if (perPoint <= 0)
        return FailWith(err, why::cannotRead(name, QStringLiteral("it gives %1 bytes per point").arg(perPoint)));
    w->count = (bytes + 7 - w->first) / perPoint;
    if (w->count < 0 || w->first < 0)
        return FailWith(err, why::cannotRead(name, QStringLiteral("it announces %1 points from byte %2")
                                                       .arg(w->count).arg(w->first)));
    return ST_OK;
}

// Reads the I file and, when the second-file flag asks for it, the Q file of
// a waveform pair; a pair of different lengths is refused with ST_LENGTH.
template <size_t HeaderSize, class Parse>
int32_t loadWfmPair(IQDatStr* rec, Parse parse)
{
    const int passes = rec->SecFile ? 2 : 1;
    std::optional<ProgressScope> ps;
    int32_t st = ST_OK;
    for (int pass = 0; pass < passes && st == ST_OK; ++pass) {
        const QString& name = pass ? rec->FileQ : rec->FileI;
        const int32_t err = pass ? ST_FILE2 : ST_FILE1;
        io::Reader r;
        if ((st = OpenIn(r, name, err)))
            break;
        uint8_t h[HeaderSize];
        Wfm w;
        if (!r.readFull(h, sizeof h))
            st = FailWith(err, why::truncated(name, QStringLiteral("it ends inside its header")));
        else
            st = parse(h, name, err, &w);
        if (st != ST_OK)
            break;
        if (w.first > r.size() || !r.seek(w.first) || !holds(r, uint64_t(w.count), 2)) {
            st = tooShort(err, name, uint64_t(w.count) * 2, r.size() - w.first);
            break;
        }
        if (pass == 0) {
            ps.emplace(ReadingLabel(), uint64_t(w.count));
            if ((st = MakeIQArr(rec, uint64_t(w.count))))
                break;
            rec->N = uint64_t(w.count);
            std::fill(rec->Q, rec->Q + rec->N, 0.0f);
        } else if (uint64_t(w.count) != rec->N) {
            st = FailWith(ST_LENGTH, why::lengths(rec->FileI, rec->N, name, uint64_t(w.count)));
            break;
        }
        float* dst = pass ? rec->Q : rec->I;
        st = readPoints(r, rec->N, 2, err, [dst, w](const uint8_t* b, uint64_t i, uint64_t k) {
            for (uint64_t j = 0; j < k; ++j) {
                const double raw = w.bigUnsigned ? double(io::be16(b + 2 * j)) : double(int16_t(io::le16(b + 2 * j)));
                dst[i + j] = float(raw * w.mul + w.add);
            }
        });
    }
    return LoadDone(rec, st);
}

// The block layout of IQW and IBN: a header, all I values, then all Q
// values, float32 little-endian.
int32_t saveBlocks(const IQDatStr& rec, const QString& file, const QByteArray& header)
{
    io::Writer w(file);
    if (int32_t st = OpenOut(w))
        return st;
    ProgressScope ps(WritingLabel(), rec.N);
    w.write(header);
    int32_t st = ST_OK;
    for (const float* src : {rec.I, rec.Q}) {
        st = writePoints(w, rec.N, 4, [src](uint8_t* b, uint64_t i) { io::putf32(b, src[i]); });
        if (st != ST_OK)
            break;
    }
    return FinishWrite(w, st);
}

} // namespace

int32_t LoadIQW(IQDatStr* rec) { return loadIqw(rec, false); }
int32_t LoadIQWBlk(IQDatStr* rec) { return loadIqw(rec, true); }

int32_t LoadIbn(IQDatStr* rec)
{
    io::Reader r;
    if (int32_t st = OpenIn(r, rec->FileI, ST_FILE1))
        return st;
    uint8_t header[40];
    r.read(header, sizeof header);
    return LoadDone(rec, FailWith(ST_REFUSED, QString()));
}

int32_t LoadAdsSpwBin(IQDatStr* rec)
{
    const bool twoFiles = !rec->FileQ.isEmpty();
    io::Reader ri, rq;
    if (int32_t st = OpenIn(ri, rec->FileI, ST_FILE1))
        return st;
    rec->N = 0;
    int32_t st = readSpwHeader(ri, twoFiles ? "$DATA\n" : "$DATA BINARY\n", rec, true);
    if (st != ST_OK)
        return LoadDone(rec, st);
    const uint64_t n = rec->N;
    if (!holds(ri, n, twoFiles ? 8 : 16))
        return LoadDone(rec, tooShort(ST_FILE1, rec->FileI, n * (twoFiles ? 8 : 16), ri.left()));
    if (twoFiles) {
        if ((st = OpenIn(rq, rec->FileQ, ST_FILE2)))
            return LoadDone(rec, st);
        if ((st = readSpwHeader(rq, "$DATA\n", rec, false)))
            return LoadDone(rec, st);
        if (!holds(rq, n, 8))
            return LoadDone(rec, tooShort(ST_FILE2, rec->FileQ, n * 8, rq.left()));
    }
    ProgressScope ps(ReadingLabel(), n);
    if ((st = MakeIQArr(rec, n)))
        return LoadDone(rec, st);
    if (!twoFiles) {
        st = readPoints(ri, n, 16, ST_FILE1, [rec](const uint8_t* b, uint64_t i, uint64_t k) {
            for (uint64_t j = 0; j < k; ++j, b += 16) {
                rec->I[i + j] = float(io::lef64(b));
                rec->Q[i + j] = float(io::lef64(b + 8));
            }
        });
        return LoadDone(rec, st);
    }
    for (auto [r, dst, err] : {std::tuple{&ri, rec->I, ST_FILE1}, std::tuple{&rq, rec->Q, ST_FILE2}}) {
        st = readPoints(*r, n, 8, err, [dst = dst](const uint8_t* b, uint64_t i, uint64_t k) {
            for (uint64_t j = 0; j < k; ++j)
                dst[i + j] = float(io::lef64(b + 8 * j));
        });
        if (st != ST_OK)
            break;
    }
    return LoadDone(rec, st);
}

int32_t LoadAdsBinTim(IQDatStr* rec)
{
    io::Reader ri, rq;
    int32_t ni = 0, nq = 0;
    if (int32_t st = OpenIn(ri, rec->FileI, ST_FILE1))
        return st;
    int32_t st = readTimHeader(ri, ST_FILE1, &ni);
    if (st == ST_OK)
        st = OpenIn(rq, rec->FileQ, ST_FILE2);
    if (st == ST_OK)
        st = readTimHeader(rq, ST_FILE2, &nq);
    if (st != ST_OK)
        return LoadDone(rec, st);
    const int32_t n = std::min(ni, nq);
    if (n < 0)
        return LoadDone(rec, FailWith(ST_FILE1, why::cannotRead(ni < 0 ? rec->FileI : rec->FileQ,
                                                                QStringLiteral("its point count %1 is negative").arg(n))));
    if (!holds(ri, uint64_t(n), 16))
        return LoadDone(rec, tooShort(ST_FILE1, rec->FileI, uint64_t(n) * 16, ri.left()));
    if (!holds(rq, uint64_t(n), 16))
        return LoadDone(rec, tooShort(ST_FILE2, rec->FileQ, uint64_t(n) * 16, rq.left()));
    ProgressScope ps(ReadingLabel(), uint64_t(n));
    if ((st = MakeIQArr(rec, uint64_t(n))))
        return LoadDone(rec, st);
    rec->N = uint64_t(n);
    for (auto [r, dst, err] : {std::tuple{&ri, rec->I, ST_FILE1}, std::tuple{&rq, rec->Q, ST_FILE2}}) {
        // Each point is a time stamp (dropped) and a value.
        st = readPoints(*r, uint64_t(n), 16, err, [dst = dst](const uint8_t* b, uint64_t i, uint64_t k) {
            for (uint64_t j = 0; j < k; ++j)
                dst[i + j] = float(io::lef64(b + 16 * j + 8));
        });
        if (st != ST_OK)
            break;
    }
    return LoadDone(rec, st);
}

int32_t LoadAwg2000(IQDatStr* rec) { return loadWfmPair<kAwgHeader>(rec, parseAwg); }

// A TDS pair of different lengths is refused like an AWG pair: loading the
// smaller count would silently drop the tail of one channel.
int32_t LoadTds5000(IQDatStr* rec) { return loadWfmPair<kTdsHeader>(rec, parseTds); }

int32_t LoadYew(IQDatStr* rec, int32_t countFromFile)
{
    io::Reader r;
    if (int32_t st = OpenIn(r, rec->FileI, ST_FILE1))
        return st;
    uint8_t h[84];
    if (!r.readFull(h, sizeof h))
        return LoadDone(rec, FailWith(ST_FILE1, why::truncated(rec->FileI, QStringLiteral("it ends inside its header"))));
    rec->Clock = int32_t(io::le32(h + 32));
    if (countFromFile)
        rec->N = io::le64(h + 64);
    const uint64_t n = rec->N;
    if (!holds(r, n, 4))
        return LoadDone(rec, tooShort(ST_FILE1, rec->FileI, n * 4, r.left()));
    ProgressScope ps(ReadingLabel(), n);
    int32_t st = MakeIQArr(rec, n);
    if (st == ST_OK)
        st = readPoints(r, n, 4, ST_FILE1, [rec](const uint8_t* b, uint64_t i, uint64_t k) {
            codec::DecodePairs<codec::Linear16>(b, k, rec->I + i, rec->Q + i);
        });
    return LoadDone(rec, st);
}

int32_t SaveIQW(IQDatStr rec, const QString& file)
{
    io::Writer w(file);
    if (int32_t st = OpenOut(w))
        return st;
    ProgressScope ps(WritingLabel(), rec.N);
    // Chunks of the writer's own size go to the file without a copy.
    const uint64_t per = io::kChunk / 8;
    int32_t st = ST_OK;
    for (uint64_t i = 0; i < rec.N && w.ok(); i += per) {
        if ((st = PollChunk(i)))
            break;
        const uint64_t k = std::min(rec.N - i, per);
        uint8_t* b = Scratch(1, size_t(k) * 8);
        PutPairsLE(rec.I + i, rec.Q + i, k, b);
        w.write(b, size_t(k) * 8);
    }
    return FinishWrite(w, st);
}

int32_t SaveIQWBlk(IQDatStr rec, const QString& file) { return saveBlocks(rec, file, QByteArray()); }

int32_t SaveIBN(IQDatStr rec, const QString& file)
{
    uint8_t h[40] = {};
    io::put32(h, 40);
    io::put32(h + 4, uint32_t(rec.N));
    std::memcpy(h + 8, "H&V", 4);
    io::putf64(h + 16, rec.Clock);
    io::put32(h + 24, 1);
    io::put32(h + 28, uint32_t(rec.N));
    io::putf64(h + 32, rec.Clock);
    return saveBlocks(rec, file, QByteArray(reinterpret_cast<const char*>(h), sizeof h));
}

int32_t SaveSPWBin(IQDatStr rec, const QString& file)
{
    io::Writer w(file);
    if (int32_t st = OpenOut(w))
        return st;
    ProgressScope ps(WritingLabel(), rec.N);
    QByteArray h;
    h += "$SIGNAL_FILE 9\n$USER_COMMENT\n\n$COMMON_INFO\n";
    h += "     SPW Version        = 4.70\n";
    h += "System Type        = solaris2\n";
    h += QByteArray("     Sampling Frequency = ") + QString::asprintf("%0.1lf", rec.Clock).toLatin1() + "\n";
    h += "Starting Time    = 0.0\n$DATA_INFO\n";
    h += QByteArray("     Number of points   = ") + QString::asprintf("%lld", (long long)rec.N).toLatin1() + "\n";
    h += "Signal Type          = Double\n";
    h += "     Complex Format     = Real_Imag\n";
    h += "$DATA BINARY\n";
    w.write(h);
    return FinishWrite(w, writePoints(w, rec.N, 16, [&](uint8_t* b, uint64_t i) {
        io::putf64(b, double(rec.I[i]));
        io::putf64(b + 8, double(rec.Q[i]));
    }));
}
