#include "stream.h"
#include "catalogue.h"
#include "codec.h"
#include "spool.h"

#include <algorithm>
#include <vector>

namespace {

const BlockFn* blockOfCode(int32_t code)
{
    const FmtFn* f = FmtOf(code);
    return f && f->block.openR ? &f->block : nullptr;
}

const BlockFn* blockOfRec(const IQDatStr* rec)
{
    return rec->Typ >= 0 && rec->Typ < TL_COUNT ? blockOfCode(tl[rec->Typ].Code) : nullptr;
}

int32_t unsupported(const QString& what)
{
    return FailWith(ST_UNSUPP, QStringLiteral("%1: Copy IQ converts only between \"WAV mixed\", "
                                              "\"H&V Vantor Raw\" and \"H&V WV mixed (unscrambled)\".")
                                   .arg(what));
}

} // namespace

BlockSplit SplitBlocks(uint64_t n)
{
    return {n / kBlockSamples, n % kBlockSamples};
}

int32_t OpenR_IQ(IQDatStr* rec, io::Reader* in, uint16_t* wavFmt, bool findRange, bool findPower)
{
    const BlockFn* b = blockOfRec(rec);
    return b ? b->openR(rec, in, wavFmt, findRange, findPower) : ST_UNSUPP;
}

int32_t Read_IQ(IQDatStr* rec, io::Reader* in, uint64_t n, uint16_t wavFmt)
{
    const BlockFn* b = blockOfRec(rec);
    return b ? b->read(rec, in, n, wavFmt) : ST_UNSUPP;
}

int32_t OpenW_IQ(IQDatStr rec, BlockOut* out, int32_t destCode, double* scale)
{
    // The scan of the source has filled the range or power fields, so the
    // writer's own computation from the arrays stays off.
    const BlockFn* b = blockOfCode(destCode);
    return b && b->openW ? b->openW(rec, out, scale, false) : ST_UNSUPP;
}

void Writ_IQ(IQDatStr rec, BlockOut* out, uint64_t n, int32_t destCode, double scale)
{
    if (const BlockFn* b = blockOfCode(destCode); b && b->writ)
        b->writ(rec, out, n, scale);
}

namespace {

int32_t copyFile(IQDatStr* rec, const QString& dest, int32_t destCode)
{
    const BlockFn* dst = blockOfCode(destCode);

    if (const QString p = io::NameProblem(rec->FileI); !p.isEmpty())
        return FailWith(ST_FILE1, why::cannotOpen(rec->FileI, p));
    // A first open reads only the header: the sample count sizes the progress
    // report before the long scan starts.
    uint16_t wavFmt = 0;
    {
        io::Reader probe;
        const int32_t st = OpenR_IQ(rec, &probe, &wavFmt, false, false);
        if (st != ST_OK) {
            EscFlg = 0;
            return st;
        }
    }
    ProgressScope ps(QStringLiteral("Converting IQ file..."), 2 * rec->N);
    io::Reader in;
    int32_t st = OpenR_IQ(rec, &in, &wavFmt, !dst->powerScan, dst->powerScan);
    if (st != ST_OK) {
        EscFlg = 0;
        return st;
    }
    const uint64_t n = rec->N;
    const BlockSplit split = SplitBlocks(n);
    rec->Blocks = split.blocks;
    rec->Rest = split.rest;

    // The record's own arrays hold the data in memory, which a conversion
    // leaves alone; the copy runs through a few MB of its own.
    std::vector<float> bi(size_t(std::min(n, kChunkSamples))), bq(bi.size());
    IQDatStr work = *rec;
    work.I = bi.data();
    work.Q = bq.data();
    BlockOut out(dest);
    double scale = 0;
    if ((st = OpenW_IQ(work, &out, destCode, &scale)) != ST_OK) {
        out.cancel();
        EscFlg = 0;
        return st;
    }
    uint64_t done = 0;
    for (uint64_t blk = 0; blk <= split.blocks && st == ST_OK; ++blk) {
        const uint64_t len = blk < split.blocks ? kBlockSamples : split.rest;
        for (uint64_t i = 0; i < len && st == ST_OK;) {
            const uint64_t k = std::min(len - i, kChunkSamples);
            if ((st = Read_IQ(&work, &in, k, wavFmt)) != ST_OK)
                break;
            Writ_IQ(work, &out, k, destCode, scale);
            i += k;
            done += k;
            if (!out.ok())
                st = FailWrite(ST_FILE1, out.why());
            else
                st = ps.step(n + done);
        }
    }
    EscFlg = 0;
    if (st == ST_OK && dst->tail)
        dst->tail(&out);
    if (st != ST_OK) {
        out.cancel();
        return st;
    }
    if (!out.commit())
        return FailWrite(ST_FILE1, out.why());
    return ST_OK;
}

} // namespace

int32_t CopyDatFile(IQDatStr* rec, const QString& dest, int32_t destCode)
{
    SetDetail(QString());
    rec->Notices.clear();
    if (!blockOfRec(rec))
        return unsupported(QStringLiteral("The source type"));
    if (const BlockFn* dst = blockOfCode(destCode); !dst || !dst->openW)
        return unsupported(QStringLiteral("The destination type"));
    // The source is read twice (a scan, then the copy): input that can be
    // read only once is copied aside first.
    Spool spool;
    int32_t st = spool.take(rec);
    if (st == ST_OK)
        st = copyFile(rec, dest, destCode);
    spool.restore(rec);
    return st;
}
