#include "wav.h"
#include "codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>

namespace {

constexpr uint16_t kStereo16 = 0x0202, kStereo8 = 0x0102, kMono16 = 0x0201, kMono8 = 0x0101;
// A hostile file of empty chunks must not keep the chunk walk busy for long.
constexpr int kMaxChunks = 4096;

struct WavInfo {
    uint16_t code = 0;   // (bits / 8) * 256 + channels
    uint64_t frames = 0;
    double clock = 0;
    uint64_t announced = 0;  // frames the header promises
    uint64_t bytes = 0;      // data bytes present
    uint64_t frame = 1;      // bytes per frame
};

// Tells the user what the header promised and the file did not hold. Our own
// stereo files announce twice their data (see WavHeader) and are whole.
void noteShort(IQDatStr* rec, const QString& file, const WavInfo& w)
{
    const bool ownStereo = w.code == kStereo16 && w.announced == 2 * w.frames;
    if (w.frames < w.announced && !ownStereo)
        AddNotice(rec, QStringLiteral("%1 holds %2 of %3 announced frames.").arg(file).arg(w.frames).arg(w.announced));
    NoteTrailing(rec, file, w.bytes, w.frame);
}

int32_t bad(const QString& file, const QString& reason)
{
    return FailWith(ST_WAVFMT, why::cannotRead(file, reason));
}

// Walks the chunk list from the RIFF header to the "data" chunk and leaves
// the reader at its first frame. The frame count is the data size capped by
// the bytes really present, over the frame size: our own files announce
// twice their data bytes, other tools' files the true count, and both load
// whole.
int32_t readHeader(io::Reader& r, const QString& file, WavInfo* w)
{
    uint8_t h[12];
    if (!r.readFull(h, sizeof h))
        return bad(file, QStringLiteral("it is shorter than a WAV header"));
    const bool rf64 = std::memcmp(h, "RF64", 4) == 0;
    if ((!rf64 && std::memcmp(h, "RIFF", 4) != 0) || std::memcmp(h + 8, "WAVE", 4) != 0)
        return bad(file, QStringLiteral("it is not a RIFF/WAVE file"));
    bool haveFmt = false, haveDs64 = false;
    uint64_t ds64Data = 0;
    uint16_t tag = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    int64_t pos = 12;
    for (int chunk = 0; chunk < kMaxChunks; ++chunk) {
        uint8_t c[8];
        if (!r.seek(pos) || !r.readFull(c, sizeof c))
            break;
        const uint32_t size = io::le32(c + 4);
        if (std::memcmp(c, "data", 4) == 0) {
            if (!haveFmt)
                return bad(file, QStringLiteral("its data comes before its format chunk"));
            if (tag != 1)
                return bad(file, QStringLiteral("it holds format %1, not PCM").arg(tag));
            if (bits != 8 && bits != 16)
                return bad(file, QStringLiteral("it holds %1-bit samples; 8 and 16 bits are read").arg(bits));
            if (channels != 1 && channels != 2)
                return bad(file, QStringLiteral("it has %1 channels").arg(channels));
            const int64_t start = pos + 8;
            const uint64_t said = rf64 && haveDs64 && size == 0xFFFFFFFFu ? ds64Data : size;
            const uint64_t data = std::min<uint64_t>(said, uint64_t(std::max<int64_t>(r.size() - start, 0)));
            const uint64_t frame = uint64_t(bits / 8) * channels;
            w->code = uint16_t((bits / 8) * 256 + channels);
            w->frames = data / frame;
            w->announced = said / frame;
            w->bytes = data;
            w->frame = frame;
            // The field is unsigned: 2^31 Hz and more are rates, not negatives.
            w->clock = double(float(rate));
            return r.seek(start) ? ST_OK : FailWith(ST_FILE1, why::cannotRead(file));
        }
        if (std::memcmp(c, "fmt ", 4) == 0) {
            if (size < 16)
                return bad(file, QStringLiteral("it has a format chunk of %1 bytes").arg(size));
            uint8_t f[40] = {};
            const size_t k = std::min<size_t>(size, sizeof f);
            if (!r.readFull(f, k))
                break;
            tag = io::le16(f);
            channels = io::le16(f + 2);
            rate = io::le32(f + 4);
            bits = io::le16(f + 14);
            // Extensible format: the sub-format GUID starts with the real tag.
            if (tag == 0xFFFE && k >= 26)
                tag = io::le16(f + 24);
            haveFmt = true;
        } else if (rf64 && std::memcmp(c, "ds64", 4) == 0 && size >= 24) {
            uint8_t d[24];
            if (!r.readFull(d, sizeof d))
                break;
            ds64Data = io::le64(d + 8);
            haveDs64 = true;
        }
        pos += 8 + int64_t(size) + (size & 1);
    }
    return bad(file, QStringLiteral("it has no data chunk"));
}

float chanFactor(float mn, float mx)
{
    const float range = mx - mn;
    if (range == 0)
        return 0;
    float f = float(65535.9 / double(range));
    // A range lying mostly on one side of zero would push that side past 16
    // bits and wrap; such a channel is scaled by its largest magnitude.
    if (double(mx) * f >= 32768.0 || double(mn) * f <= -32769.0)
        f = float(32767.95 / double(std::max(std::fabs(mn), std::fabs(mx))));
    return f;
}

} // namespace

QByteArray WavHeader(uint64_t n, int channels, double clock)
{
    const uint64_t dataBytes = n * 2 * uint64_t(channels);
    // Stereo files announce 8N data bytes, twice what follows; files written
    // that way are in use and read back whole, so the field stays as it was.
    const uint64_t dataField = channels == 2 ? 8 * n : dataBytes;
    const bool rf64 = dataField + 36 > 0xFFFFFFFFull;
    uint8_t p[80] = {};
    std::memcpy(p, rf64 ? "RF64" : "RIFF", 4);
    io::put32(p + 4, rf64 ? 0xFFFFFFFFu : uint32_t(dataField + 36));
    std::memcpy(p + 8, "WAVE", 4);
    uint8_t* f = p + 12;
    if (rf64) {
        // True sizes here: RF64 readers take them from the ds64 chunk.
        std::memcpy(p + 12, "ds64", 4);
        io::put32(p + 16, 28);
        io::put64(p + 20, dataBytes + 72);
        io::put64(p + 28, dataBytes);
        io::put64(p + 36, n);
        io::put32(p + 44, 0);
        f = p + 48;
    }
    std::memcpy(f, "fmt ", 4);
    io::put32(f + 4, 16);
    io::put16(f + 8, 1);
    io::put16(f + 10, uint16_t(channels));
    io::put32(f + 12, uint32_t(Trunc32(clock)));
    io::put32(f + 16, uint32_t(Trunc32(clock * 2.0 * channels)));
    io::put16(f + 20, uint16_t(2 * channels));
    io::put16(f + 22, 16);
    std::memcpy(f + 24, "data", 4);
    io::put32(f + 28, rf64 ? 0xFFFFFFFFu : uint32_t(dataField));
    return QByteArray(reinterpret_cast<const char*>(p), rf64 ? 80 : 44);
}

double WavScale(float imin, float imax, float qmin, float qmax)
{
    // The smaller factor keeps both channels inside 16 bits; a constant
    // channel (factor 0) must not silence the other one.
    const float fi = chanFactor(imin, imax);
    const float fq = chanFactor(qmin, qmax);
    if (fi == 0 || fq == 0)
        return std::max(fi, fq);
    return std::min(fi, fq);
}

int32_t OpenR_WavStereo(IQDatStr* rec, io::Reader* in, uint16_t* fmt, bool findRange, bool findPower)
{
    if (int32_t st = OpenIn(*in, rec->FileI, ST_FILE1))
        return st;
    WavInfo w;
    if (int32_t st = readHeader(*in, rec->FileI, &w))
        return st;
    if (w.code != kStereo16 && w.code != kStereo8)
        return bad(rec->FileI, QStringLiteral("it is not a stereo file; \"WAV single\" reads mono pairs"));
    rec->N = w.frames;
    rec->Clock = w.clock;
    *fmt = w.code;
    noteShort(rec, rec->FileI, w);
    return ScanBlocks(rec, in, Read_WavStereo, w.code, findRange, findPower, true);
}

int32_t Read_WavStereo(IQDatStr* rec, io::Reader* in, uint64_t n, uint16_t fmt)
{
    if (fmt != kStereo16 && fmt != kStereo8)
        return ST_WAVFMT;
    if (fmt == kStereo16)
        return codec::ReadPairs<codec::Linear16>(rec, in, n);
    for (uint64_t i = 0; i < n;) {
        const uint64_t k = std::min(n - i, kChunkSamples);
        uint8_t* b = Scratch(0, size_t(k) * 2);
        if (!in->readFull(b, size_t(k) * 2))
            return FailWith(ST_FILE1, why::truncated(rec->FileI));
        float* __restrict I = rec->I + i;
        float* __restrict Q = rec->Q + i;
        for (uint64_t j = 0; j < k; ++j) {
            I[j] = float(int8_t(b[2 * j]));
            Q[j] = float(int8_t(b[2 * j + 1]));
        }
        i += k;
    }
    return ST_OK;
}

int32_t OpenW_WavStereo(IQDatStr rec, BlockOut* out, double* scale, bool findRange)
{
    if (findRange) {
        uint64_t ix;
        MaxMin1D(rec.I, rec.N, &rec.IMax, &ix, &rec.IMin, &ix);
        MaxMin1D(rec.Q, rec.N, &rec.QMax, &ix, &rec.QMin, &ix);
    }
    *scale = WavScale(rec.IMin, rec.IMax, rec.QMin, rec.QMax);
    if (int32_t st = OpenOut(out->data()))
        return st;
    out->data().write(WavHeader(rec.N, 2, rec.Clock));
    return ST_OK;
}

void Writ_WavStereo(IQDatStr rec, BlockOut* out, uint64_t n, double scale)
{
    codec::WritePairs<codec::Linear16>(rec, out->data(), n, scale);
}

int32_t LoadWavStereo(IQDatStr* rec)
{
    io::Reader in;
    uint16_t fmt = 0;
    int32_t st = OpenR_WavStereo(rec, &in, &fmt, false, false);
    if (st != ST_OK)
        return LoadDone(rec, st);
    return ReadAllBlocks(rec, &in, Read_WavStereo, fmt);
}

int32_t SaveWav(IQDatStr rec, const QString& file)
{
    return SaveAllBlocks(rec, file, OpenW_WavStereo, Writ_WavStereo, nullptr);
}

int32_t LoadWavMono(IQDatStr* rec)
{
    io::Reader ri, rq;
    WavInfo wi, wq;
    int32_t st = OpenIn(ri, rec->FileI, ST_FILE1);
    if (st == ST_OK)
        st = readHeader(ri, rec->FileI, &wi);
    if (st == ST_OK && wi.code != kMono16 && wi.code != kMono8)
        st = bad(rec->FileI, QStringLiteral("it is not a mono file; \"WAV mixed\" reads stereo files"));
    if (st == ST_OK && (st = OpenIn(rq, rec->FileQ, ST_FILE2)) == ST_OK)
        st = readHeader(rq, rec->FileQ, &wq);
    // Both files are decoded alike, so they must agree on the format.
    if (st == ST_OK && wq.code != wi.code)
        st = bad(rec->FileQ, QStringLiteral("it does not have the sample format of the I file"));
    if (st == ST_OK && wq.frames < wi.frames)
        st = FailWith(ST_LENGTH, why::lengths(rec->FileI, wi.frames, rec->FileQ, wq.frames));
    if (st != ST_OK)
        return LoadDone(rec, st);
    rec->N = wi.frames;
    rec->Clock = wi.clock;
    noteShort(rec, rec->FileI, wi);
    noteShort(rec, rec->FileQ, wq);
    const size_t size = wi.code == kMono16 ? 2 : 1;
    ProgressScope ps(ReadingLabel(), rec->N);
    st = MakeIQArr(rec, rec->N);
    for (uint64_t i = 0; st == ST_OK && i < rec->N;) {
        if ((st = PollChunk(i)))
            break;
        const uint64_t k = std::min(rec->N - i, kChunkSamples);
        for (auto [r, dst, err] : {std::tuple{&ri, rec->I + i, ST_FILE1}, std::tuple{&rq, rec->Q + i, ST_FILE2}}) {
            uint8_t* b = Scratch(0, size_t(k) * size);
            if (!r->readFull(b, size_t(k) * size)) {
                st = FailWith(err, why::truncated(r->file().fileName()));
                break;
            }
            if (size == 2)
                codec::DecodeMono<codec::Linear16>(b, k, dst);
            else
                for (uint64_t j = 0; j < k; ++j)
                    dst[j] = float(int8_t(b[j]));
        }
        i += k;
    }
    return LoadDone(rec, st);
}

int32_t SaveWavMono(IQDatStr rec, const QString& fileI, const QString& fileQ)
{
    uint64_t ix;
    MaxMin1D(rec.I, rec.N, &rec.IMax, &ix, &rec.IMin, &ix);
    MaxMin1D(rec.Q, rec.N, &rec.QMax, &ix, &rec.QMin, &ix);
    const double scale = WavScale(rec.IMin, rec.IMax, rec.QMin, rec.QMax);
    io::Writer wi(fileI), wq(fileQ);
    if (int32_t st = OpenOut(wi))
        return st;
    if (int32_t st = OpenOut(wq, ST_FILE2))
        return st;
    const QByteArray h = WavHeader(rec.N, 1, rec.Clock);
    wi.write(h);
    wq.write(h);
    ProgressScope ps(WritingLabel(), rec.N);
    int32_t st = ST_OK;
    for (uint64_t i = 0; i < rec.N && wi.ok() && wq.ok();) {
        if ((st = PollChunk(i)))
            break;
        const uint64_t k = std::min(rec.N - i, kChunkSamples);
        for (auto [w, src] : {std::pair{&wi, rec.I + i}, std::pair{&wq, rec.Q + i}}) {
            uint8_t* b = Scratch(1, size_t(k) * 2);
            codec::EncodeMono<codec::Linear16>(src, k, scale, b);
            w->write(b, size_t(k) * 2);
        }
        i += k;
    }
    return FinishPair(wi, wq, st);
}
