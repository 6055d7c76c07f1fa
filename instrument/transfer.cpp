#include "transfer.h"
#include "block.h"
#include "devtable.h"
#include "hvvisa.h"
#include "common/byteorder.h"
#include "formats/progress.h"
#include "graph/spectral.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <new>

namespace {

constexpr uint64_t kChunkPairs = 3000000;   // 24 MB per read
constexpr uint64_t kBigRecord = 125000000;  // from here on a twentieth of the record
constexpr uint64_t kMaxReadBytes = 0x7FFFFFF8u;
constexpr unsigned kMinTimeoutMs = 60000;
constexpr unsigned kFilePiece = 1u << 20;

// How a read ends: the record keeps its samples only on success.
int Finish(IQDatStr* d, int st, uint64_t n)
{
    if (st < 0) {
        FreeArr(d);
        d->N = 0;
        return st;
    }
    d->N = n;
    return 0;
}

int Cancelled(AnaStr* a, IQDatStr* d)
{
    BrkFlg = 0;
    EscFlg = 0;
    // The rest of the block must not be taken for the next answer.
    hvClear(a->Vi);
    return Finish(d, ST_CANCEL, 0);
}

// A progress step that also reports a cancel from the front end as BrkFlg.
bool Break(ProgressScope& ps, uint64_t done)
{
    if (ps.step(done) == ST_CANCEL)
        BrkFlg = 1;
    return BrkFlg != 0;
}

inline float Scale(float v, double divisor)
{
    return divisor == 1.0 ? v : float(double(v) / divisor);
}

// One channel of an I-block-then-Q-block answer: count values, of which the
// first keep go to dst (null: read and dropped). *got counts the values
// received; *ended tells that the message ended.
ViStatus ReadChannel(unsigned vi, uint64_t count, float* dst, uint64_t keep, double divisor, ProgressScope& ps,
                     unsigned char* buf, uint64_t bufVals, uint64_t* got, bool* ended)
{
    *got = 0;
    while (*got < count && !*ended) {
        const uint64_t want = std::min(count - *got, bufVals);
        unsigned n = 0;
        const ViStatus st = hvRead(vi, buf, unsigned(want * 4), &n);
        if (st < VI_SUCCESS)
            return st;
        *ended = st != VI_SUCCESS_MAX_CNT;
        const uint64_t vals = std::min<uint64_t>(n / 4, want);
        for (uint64_t k = 0; k < vals; ++k) {
            const uint64_t pos = *got + k;
            if (dst && pos < keep)
                dst[pos] = Scale(io::lef32(buf + 4 * k), divisor);
            if (Break(ps, pos + 1))
                return ST_CANCEL;
        }
        *got += vals;
        if (vals < want)
            *ended = true;
    }
    return VI_SUCCESS;
}

} // namespace

unsigned ReadTimeoutMs(uint64_t samples, double srate)
{
    const double ms = srate > 0 ? std::trunc(double(samples) / srate * 1000.0) + 10000.0 : 0.0;
    if (!(ms > kMinTimeoutMs))
        return kMinTimeoutMs;
    // A finite bound even for records of days.
    return ms < double(VI_TMO_INFINITE - 1) ? unsigned(ms) : VI_TMO_INFINITE - 1;
}

int ReadIQ(AnaStr* a, IQDatStr* d, char which, double divisor)
{
    const uint64_t cap = d->N;
    if (MakeIQArr(d, cap) != ST_OK)
        return Finish(d, VI_ERROR_ALLOC, 0);
    hvSetAttribute(a->Vi, VI_ATTR_TMO_VALUE, ReadTimeoutMs(cap, a->SRate));
    const DevStr* row = DevTypValid(a->DevTyp) ? &ag[a->DevTyp] : nullptr;
    if (row && row->does(kAcqRawSetup))
        divisor *= 1000.0;

    ViStatus st = hvPrintf(a->Vi, QStringLiteral("TRAC:IQ:DATA?\n"));
    if (st < VI_SUCCESS)
        return Finish(d, st, 0);
    BlockHdr h;
    if ((st = ReadBlockHdr(a->Vi, &h)) != VI_SUCCESS)
        return Finish(d, st, 0);
    const uint64_t announced = h.Indefinite ? 0 : h.Len / 8;
    const uint64_t keep = std::min(announced, cap);

    // Reads of at most 24 MB (a twentieth of very long records), converted
    // straight into the arrays: the trace is never held twice.
    const uint64_t c = std::min(keep >= kBigRecord ? keep / 20 : kChunkPairs, kMaxReadBytes / 8);
    std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[c * 8]);
    if (!buf)
        return Finish(d, VI_ERROR_ALLOC, 0);
    bool ended = h.Ended;

    if (row && row->does(kAcqIqBlocks)) {
        uint64_t gotI = 0, gotQ = 0;
        {
            ProgressScope ps(QStringLiteral("Reading I values..."), announced);
            st = ReadChannel(a->Vi, announced, which & 1 ? d->I : nullptr, keep, divisor, ps, buf.get(), c * 2,
                             &gotI, &ended);
        }
        if (st == VI_SUCCESS) {
            ProgressScope ps(QStringLiteral("Reading Q values..."), announced);
            st = ReadChannel(a->Vi, announced, which & 2 ? d->Q : nullptr, keep, divisor, ps, buf.get(), c * 2,
                             &gotQ, &ended);
        }
        if (st == ST_CANCEL)
            return Cancelled(a, d);
        if (st < VI_SUCCESS)
            return Finish(d, st, 0);
        if (!ended)
            DrainMessage(a->Vi);   // the terminator
        const uint64_t n = std::min({gotI, gotQ, keep});
        for (float* ch : {which & 1 ? nullptr : d->I, which & 2 ? nullptr : d->Q})
            if (ch)
                std::fill(ch, ch + n, 0.0f);
        d->N = n;
        CnvWin(0, d);
        CnvWin(1, d);
        return Finish(d, 0, n);
    }

    ProgressScope ps(QStringLiteral("Reading IQ values..."), announced);
    uint64_t received = 0;
    for (uint64_t b = 0; !ended; ++b) {
        unsigned got = 0;
        st = hvRead(a->Vi, buf.get(), unsigned(c * 8), &got);
        if (st < -1)
            return Finish(d, st, 0);
        // The message ends with a line feed after the data.
        ended = got < c * 8 || (st >= VI_SUCCESS && st != VI_SUCCESS_MAX_CNT);
        if (ended && got > 0)
            --got;
        const uint64_t pairs = std::min<uint64_t>(got / 8, c);
        const uint64_t base = b * c;
        const uint64_t store = base < keep ? std::min(pairs, keep - base) : 0;
        const unsigned char* p = buf.get();
        float* I = d->I + (store ? base : 0);
        float* Q = d->Q + (store ? base : 0);
        if (divisor == 1.0) {
            for (uint64_t j = 0; j < store; ++j, p += 8) {
                I[j] = io::lef32(p);
                Q[j] = io::lef32(p + 4);
            }
        } else {
            for (uint64_t j = 0; j < store; ++j, p += 8) {
                I[j] = float(double(io::lef32(p)) / divisor);
                Q[j] = float(double(io::lef32(p + 4)) / divisor);
            }
        }
        received = base + pairs;
        if (Break(ps, received))
            return Cancelled(a, d);
    }
    return Finish(d, 0, std::min(received, keep));
}

bool IntReadArray(unsigned vi, QVector<double>* out)
{
    BlockHdr h;
    if (ReadBlockHdr(vi, &h) != VI_SUCCESS)
        return false;
    // Two doubles per sample, held beside the record's two floats.
    if (h.Len / 4 > uint64_t(INT_MAX) || h.Len / 8 > MaxAllocSamples() / 3) {
        SetDetail(QStringLiteral("A block of %1 bytes does not fit into memory.").arg(h.Len));
        hvClear(vi);
        return false;
    }
    QTemporaryDir tmp;
    if (!tmp.isValid()) {
        DrainMessage(vi);
        return false;
    }
    const QString path = tmp.filePath(QStringLiteral("Trace.tmp"));
    if (ReadBlockToFile(vi, h, path) != VI_SUCCESS)
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const uint64_t n = std::min<uint64_t>(h.Len, uint64_t(f.size())) / 4;
    out->clear();
    out->reserve(int(n));
    std::unique_ptr<char[]> piece(new char[kFilePiece]);
    for (uint64_t k = 0; k < n;) {
        const qint64 want = qint64(std::min<uint64_t>(n - k, kFilePiece / 4) * 4);
        if (f.read(piece.get(), want) != want)
            return false;
        for (qint64 j = 0; j < want; j += 4)
            out->append(double(io::lef32(reinterpret_cast<const uint8_t*>(piece.get()) + j)));
        k += uint64_t(want / 4);
    }
    return true;
}

bool ReadArray(unsigned vi, const QString& query, QVector<double>* out)
{
    QByteArray q = query.toLocal8Bit();
    if (hvWrite(vi, reinterpret_cast<unsigned char*>(q.data()), unsigned(q.size()), nullptr) != VI_SUCCESS)
        return false;
    return IntReadArray(vi, out);
}
