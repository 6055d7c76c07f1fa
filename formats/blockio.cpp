#include "blockio.h"
#include "codec.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

io::Writer* BlockOut::openSide(const QString& path)
{
    side_ = std::make_unique<io::Writer>(path);
    side_->open();
    return side_.get();
}

bool BlockOut::commit()
{
    if (!side_)
        return data_.commit();
    // The header goes first; should the data then fail, the old header is
    // put back (or the new one taken away), so header and data still match.
    return io::CommitPair(*side_, data_) == 0;
}

QString BlockOut::why() const
{
    const io::Writer& w = side_ && !side_->error().isEmpty() ? *side_ : data_;
    return why::cannotWrite(w.path(), w.error());
}

void BlockOut::cancel()
{
    data_.cancel();
    if (side_)
        side_->cancel();
}

int32_t ScanBlocks(IQDatStr* rec, io::Reader* in, ReadFn read, uint16_t wavFmt, bool findRange,
                   bool findPower, bool powerInFloat)
{
    if (!findRange && !findPower)
        return ST_OK;
    const int64_t start = in->pos();
    const uint64_t n = rec->N;
    std::vector<float> bi(size_t(std::min(n, kChunkSamples))), bq(bi.size());
    IQDatStr view = *rec;
    view.I = bi.data();
    view.Q = bq.data();
    float imin = 0, imax = 0, qmin = 0, qmax = 0;
    double sum = 0, peakSq = 0;
    for (uint64_t i = 0; i < n;) {
        if (PollChunk(i))
            return ST_CANCEL;
        const uint64_t k = std::min(n - i, kChunkSamples);
        if (int32_t st = read(&view, in, k, wavFmt))
            return st;
        const float* I = bi.data();
        const float* Q = bq.data();
        if (findRange) {
            // Eight running extremes side by side vectorise; the extremes of
            // a set do not depend on the order they are looked at in.
            float lo[2][8] = {}, hi[2][8] = {};
            uint64_t j = 0;
            for (; j + 8 <= k; j += 8)
                for (int l = 0; l < 8; ++l) {
                    lo[0][l] = I[j + l] < lo[0][l] ? I[j + l] : lo[0][l];
                    hi[0][l] = I[j + l] > hi[0][l] ? I[j + l] : hi[0][l];
                    lo[1][l] = Q[j + l] < lo[1][l] ? Q[j + l] : lo[1][l];
                    hi[1][l] = Q[j + l] > hi[1][l] ? Q[j + l] : hi[1][l];
                }
            for (; j < k; ++j) {
                lo[0][0] = I[j] < lo[0][0] ? I[j] : lo[0][0];
                hi[0][0] = I[j] > hi[0][0] ? I[j] : hi[0][0];
                lo[1][0] = Q[j] < lo[1][0] ? Q[j] : lo[1][0];
                hi[1][0] = Q[j] > hi[1][0] ? Q[j] : hi[1][0];
            }
            for (int l = 0; l < 8; ++l) {
                imin = lo[0][l] < imin ? lo[0][l] : imin;
                imax = hi[0][l] > imax ? hi[0][l] : imax;
                qmin = lo[1][l] < qmin ? lo[1][l] : qmin;
                qmax = hi[1][l] > qmax ? hi[1][l] : qmax;
            }
        }
        if (findPower) {
            // The largest square gives the largest root: one sqrt at the end.
            double s = sum, pk = peakSq;
            if (powerInFloat) {
                for (uint64_t j = 0; j < k; ++j) {
                    const float p = I[j] * I[j] + Q[j] * Q[j];
                    s += p;
                    pk = std::max(pk, double(p));
                }
            } else {
                for (uint64_t j = 0; j < k; ++j) {
                    const double p = double(I[j]) * I[j] + double(Q[j]) * Q[j];
                    s += p;
                    pk = std::max(pk, p);
                }
            }
            sum = s;
            peakSq = pk;
        }
        i += k;
    }
    if (findRange) {
        rec->IMin = imin;
        rec->IMax = imax;
        rec->QMin = qmin;
        rec->QMax = qmax;
    }
    if (findPower) {
        rec->SumSq = sum;
        rec->Peak = std::sqrt(peakSq);
    }
    return in->seek(start) ? ST_OK : FailWith(ST_FILE1, why::cannotRead(rec->FileI));
}

uint8_t* Scratch(int which, size_t bytes)
{
    struct Buf {
        std::shared_ptr<void> mem;
        size_t size = 0;
    };
    thread_local Buf buf[2];
    Buf& b = buf[which & 1];
    if (b.size < bytes) {
        b.mem.reset();
        b.mem = AllocBig(bytes);
        if (!b.mem)
            throw std::bad_alloc();
        b.size = bytes;
    }
    return static_cast<uint8_t*>(b.mem.get());
}

int32_t ReadAllBlocks(IQDatStr* rec, io::Reader* in, ReadFn read, uint16_t wavFmt)
{
    const uint64_t n = rec->N;
    ProgressScope ps(ReadingLabel(), n);
    int32_t st = MakeIQArr(rec, n);
    IQDatStr view = *rec;
    for (uint64_t i = 0; st == ST_OK && i < n;) {
        if ((st = PollChunk(i)))
            break;
        const uint64_t k = std::min(n - i, kChunkSamples);
        view.I = rec->I + i;
        view.Q = rec->Q + i;
        st = read(&view, in, k, wavFmt);
        i += k;
    }
    return LoadDone(rec, st);
}

int32_t SaveAllBlocks(IQDatStr rec, const QString& file, OpenWFn open, WritFn writ, TailFn tail)
{
    BlockOut dest(file);
    BlockOut* out = &dest;
    double scale = 0;
    if (int32_t st = open(rec, out, &scale, true))
        return st;
    ProgressScope ps(WritingLabel(), rec.N);
    int32_t st = ST_OK;
    IQDatStr view = rec;
    for (uint64_t i = 0; i < rec.N && out->ok();) {
        if ((st = PollChunk(i)))
            break;
        const uint64_t k = std::min(rec.N - i, kChunkSamples);
        view.I = rec.I + i;
        view.Q = rec.Q + i;
        writ(view, out, k, scale);
        i += k;
    }
    EscFlg = 0;
    if (st == ST_OK && tail)
        tail(out);
    if (st != ST_OK) {
        out->cancel();
        return st;
    }
    if (!out->commit())
        return FailWrite(ST_FILE1, out->why());
    return ST_OK;
}

int32_t PollChunk(uint64_t index)
{
    ProgressTick(index);
    return EscFlg ? ST_CANCEL : ST_OK;
}
