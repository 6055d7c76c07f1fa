// The 16-bit types and the streaming copy between them. WAV mixed and WAV
// single: exact bytes written, other tools' files read, refusals, and
// interop with python's wave module and sox both ways. WV waveform and raw
// recorder files: exact bytes and header texts, headers of other writers,
// lying and broken headers. Streaming conversion: every pair of the three
// types checked value by value against a reference computed here,
// independently of the library; block arithmetic; cancel and failure; the
// command line's copy. Round trips and append of the types: tst_core.
#include "formats/catalogue.h"
#include "formats/progress.h"
#include "formats/stream.h"
#include "formats/vantor.h"
#include "formats/wav.h"
#include "formats/wv.h"
#include "testutil.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStorageInfo>
#include <functional>
#include <tuple>

using namespace testutil;

namespace {

enum Kind { Wav, Raw, Wv };
const int kTl[] = {15, 24, 32};    // load list rows
const int kCode[] = {15, 24, 25};  // format codes
const char* const kExt[] = {"wav", "wvd", "wv"};

// Source samples as stored: 16-bit pairs with distinct ranges for I and Q.
struct Source {
    std::vector<int16_t> i, q;
    explicit Source(size_t n) : i(n), q(n)
    {
        uint32_t s = 12345;
        for (size_t k = 0; k < n; ++k) {
            s = s * 1103515245u + 12345u;
            i[k] = int16_t(int((s >> 8) % 60001) - 30000);
            q[k] = int16_t(int((s >> 4) % 40001) - 20000);
        }
        if (n > 3) {
            i[1] = -30000;
            i[n - 2] = 30000;
            q[2] = 20000;
        }
    }
};

// Values as the source type's reader gives them.
Vf asRead(Kind k, const std::vector<int16_t>& v)
{
    Vf out;
    for (const uint16_t u : v)
        out.push_back(k != Raw ? float(int16_t(u)) : float(u < 32768 ? u / 32767.0 : (u - 65534.5) / 32767.0));
    return out;
}

int32_t trunc32(double v) { return v > -2147483649.0 && v < 2147483648.0 ? int32_t(v) : INT32_MIN; }

// The expected sample bytes of the destination; peak and power sum for WV.
QByteArray expected(Kind src, Kind dst, const Vf& I, const Vf& Q, double* peak = nullptr, double* sum = nullptr)
{
    const size_t n = I.size();
    std::vector<int16_t> a(n), b(n);
    double pk = 0, sm = 0;
    float imin = 0, imax = 0, qmin = 0, qmax = 0;
    for (size_t k = 0; k < n; ++k) {
        // A WAV source sums the power in single precision.
        const double p = src == Wav ? double(I[k] * I[k] + Q[k] * Q[k]) : double(I[k]) * I[k] + double(Q[k]) * Q[k];
        sm += p;
        pk = std::max(pk, std::sqrt(p));
        imin = std::min(imin, I[k]);
        imax = std::max(imax, I[k]);
        qmin = std::min(qmin, Q[k]);
        qmax = std::max(qmax, Q[k]);
    }
    if (peak)
        *peak = pk;
    if (sum)
        *sum = sm;
    std::function<int32_t(float)> enc;
    if (dst == Wv) {
        const double scale = pk > 0 ? 32767.0 / pk : 0;
        enc = [scale](float x) { return trunc32(x * scale + 0.5); };
    } else if (dst == Raw) {
        const float s0 = std::max({std::fabs(imin), std::fabs(imax), std::fabs(qmin), std::fabs(qmax)});
        const double s = s0 > 0 ? s0 : 1.0;
        enc = [s](float x) { return trunc32(x / s * 32767.0 + 0.5 - (x < 0 ? 65536.0 : 0.0)); };
    } else {
        // 65535.9 / range per channel, unless that would push a channel past
        // 16 bits; the smaller of the two factors for both.
        auto factor = [](float mn, float mx) -> float {
            if (mx - mn == 0)
                return 0;
            const float f = float(65535.9 / (mx - mn));
            if (mx * double(f) < 32768.0 && mn * double(f) > -32769.0)
                return f;
            return float(32767.95 / std::max(std::fabs(mn), std::fabs(mx)));
        };
        const float fi = factor(imin, imax), fq = factor(qmin, qmax);
        const double scale = fi == 0 || fq == 0 ? std::max(fi, fq) : std::min(fi, fq);
        enc = [scale](float x) { return trunc32(x * scale); };
    }
    for (size_t k = 0; k < n; ++k) {
        const int32_t x = enc(I[k]), y = enc(Q[k]);
        if (dst == Wav && (x < -32768 || x > 32767 || y < -32768 || y > 32767))
            return "reference wraps";
        a[k] = int16_t(x);
        b[k] = int16_t(y);
    }
    return pairs(a, b);
}

// Writes a source file of kind k and returns its path.
QString makeSource(const QTemporaryDir& dir, Kind k, const Source& s, const QString& base)
{
    const QString p = dir.filePath(base + "." + kExt[k]);
    const QByteArray data = pairs(s.i, s.q);
    const auto n = (unsigned long long)s.i.size();
    if (k == Wav) {
        writeFile(p, wav(2, 16, 2500000, data));
    } else if (k == Raw) {
        writeFile(p, data);
        writeFile(dir.filePath(base + ".wvh"), "{TYPE:RAW16LE}{CLOCK:2500000.000000}{REFLEVEL:-5.000}{FREQUENCY:1e9}");
    } else {
        writeFile(p, QString::asprintf("{TYPE:TQX-WV,0}{SAMPLES:%llu} {CLOCK:2500000}{WAVEFORM-%llu:#", n, 4 * n + 1)
                             .toLatin1() + data + "}");
    }
    return p;
}

// The sample bytes of a destination file, after its header checks.
QByteArray samplesOf(Kind k, const QByteArray& f, uint64_t n)
{
    if (k == Wav)
        return f.left(44) == WavHeader(n, 2, 2.5e6) ? f.mid(44) : "bad header";  // checked in tst_wav
    if (k == Raw)
        return f;
    const int hash = f.indexOf('#');
    if (!f.left(hash).contains(QString::asprintf("{WAVEFORM-%llu:", (unsigned long long)(4 * n + 1)).toLatin1())
        || !f.endsWith('}'))
        return "bad header";
    return f.mid(hash + 1, f.size() - hash - 2);
}

// Sets EscFlg once the reported progress passes a point.
struct CancelAt : Progress {
    uint64_t at, total = 0;
    explicit CancelAt(uint64_t a) : at(a) {}
    void begin(const QString&, uint64_t t) override { total = t; }
    void step(uint64_t done) override { EscFlg = done >= at ? 1 : EscFlg; }
    void end() override {}
};

// A load record naming a file of load-list row typ.
IQDatStr source(int typ, const QString& file)
{
    IQDatStr r;
    r.Typ = typ;
    r.FileI = file;
    return r;
}

constexpr int kMono = 14, kStereo = 15, kWvLoad = 32, kRaw = 24;

bool matches(const QByteArray& text, const QString& pattern)
{
    return QRegularExpression("^" + pattern + "$").match(QString::fromLatin1(text)).hasMatch();
}

} // namespace

class TstStream : public FileTest {
    Q_OBJECT

private slots:
    void init() { EscFlg = 0; }
    void cleanup() { SetProgress(nullptr); }

    void blockArithmetic()
    {
        QCOMPARE(kBlockSamples, uint64_t(262144000));
        const struct { uint64_t n, blocks, rest; } rows[] = {
            {0, 0, 0}, {10, 0, 10}, {262143999, 0, 262143999}, {262144000, 1, 0}, {262144001, 1, 1},
            {4294967301, 16, 100663301}};  // 2^32 + 5
        for (const auto& r : rows)
            QVERIFY(SplitBlocks(r.n).blocks == r.blocks && SplitBlocks(r.n).rest == r.rest);
    }

    // Every source/destination pair; one pair per reader and writer over a
    // file of several internal buffers; sizes around one buffer. The record
    // holds data in memory, which a conversion leaves alone.
    void everyPair()
    {
        std::vector<std::tuple<int, int, int>> rows;
        for (int s : {Wav, Raw, Wv})
            for (int d : {Wav, Raw, Wv})
                rows.emplace_back(s, d, 5000);
        const int big = int(2 * kChunkSamples + 7), c = int(kChunkSamples);
        rows.insert(rows.end(), {{Wv, Wav, big}, {Wav, Raw, big}, {Raw, Wv, big}, {Wv, Wav, 0}, {Wv, Wav, 1}, {Wv, Wav, c - 1},
                                 {Wv, Wav, c}, {Wv, Wav, c + 1}});
        for (auto [src, dst, n] : rows) {
            const QString name = QStringLiteral("%1 to %2, %3").arg(kExt[src], kExt[dst]).arg(n);
            const Source s{size_t(n)};
            Rec held({1, 2, 3}, {4, 5, 6}, 1);
            float* const heldI = held->I;
            held->Typ = kTl[src];
            held->FileI = makeSource(dir, Kind(src), s, "src");
            held->RefLev = -12;
            QVERIFY2(CopyDatFile(&held.r, path(QStringLiteral("dst.") + kExt[dst]), kCode[dst]) == ST_OK, qPrintable(name));
            QVERIFY(held->N == uint64_t(n) && held->Clock == 2500000.0 && held->Blocks == 0 && held->Rest == uint64_t(n));
            QVERIFY(held->I == heldI && held->I[2] == 3 && held->Q[0] == 4);
            double peak = 0, sum = 0;
            const QByteArray want = expected(Kind(src), Kind(dst), asRead(Kind(src), s.i), asRead(Kind(src), s.q), &peak, &sum);
            const QByteArray f = readFile(path(QStringLiteral("dst.") + kExt[dst])), got = samplesOf(Kind(dst), f, uint64_t(n));
            const auto d = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
            QVERIFY2(got.size() == want.size() && d == got.size(), qPrintable(name + QStringLiteral(": differs at byte %1").arg(d)));
            // The WV header's crest factor and peak; the raw recorder header
            // carries the source's clock, and the reference level and
            // frequency of a raw source, else the panel's.
            const QString h = dst == Wv ? QString::asprintf("{LEVEL OFFS:%0.3lf,%0.3lf}{SAMPLES:%d} {CLOCK:2500000}",
                                                            20 * std::log10(peak / std::sqrt(sum / double(n))), peak, n)
                            : QString::asprintf("{CLOCK:2500000.000000}{RESOLUTION:16}{SAMPLES:%d}{COMPONENTS:IQ}%s", n,
                                                src == Raw ? "{REFLEVEL:-5.000}{FREQUENCY:1000000000.0}"
                                                           : "{REFLEVEL:-12.000}{FREQUENCY:0.0}");
            QVERIFY2(dst == Wav || (dst == Wv ? f : readFile(path("dst.wvh"))).contains(h.toLatin1()), qPrintable(name + ": " + h));
        }
    }

    // Refusals and failures leave no destination, nor any temporary file.
    void refusals()
    {
        const Source s(8);
        QVERIFY(writeFile(path("scr.wv"), "{TYPE:TQX-WV,0}{SAMPLES:8}{CLOCK:1}{WWAVEFORM-33:#" + testutil::pairs(s.i, s.q) + "}"));
        makeSource(dir, Wv, s, "ok");
        const struct { int typ; const char* src; const char* dst; int code; int32_t st; } rows[] = {
            {kTl[Wv], "scr.wv", "x.wav", 15, ST_REFUSED},
            // A type without block functions takes no part, on either side.
            {kTl[Wv], "ok.wv", "x.iqw", 18, ST_UNSUPP},
            {kTl[Wv], "ok.wv", "x.wav", 14, ST_UNSUPP},
            {18, "ok.wv", "x.wav", 15, ST_UNSUPP},
            {kTl[Wv], "missing.wv", "x.wav", 15, ST_FILE1},
            {kTl[Raw], "ok.wv", "x.wav", 15, ST_FILE1},  // a data file without its ".wvh"
            {kTl[Wav], "ok.wv", "x.wv", 25, ST_WAVFMT},  // not a WAV file
            {kTl[Wv], "ok.wv", "no/such/dir/x", 15, ST_FILE1},
            {kTl[Wv], "ok.wv", "no/such/dir/x", 24, ST_FILE1},
            {kTl[Wv], "ok.wv", "no/such/dir/x", 25, ST_FILE1},
        };
        for (const auto& c : rows) {
            IQDatStr rec = source(c.typ, path(c.src));
            QCOMPARE(CopyDatFile(&rec, path(c.dst), c.code), c.st);
        }
        QCOMPARE(QDir(dir.path()).entryList({"x*", "no"}, QDir::AllEntries | QDir::Hidden), QStringList());
    }

    // A cancel during the scan or the copy leaves no destination, and an
    // existing destination (with its ".wvh") stays as it was.
    void cancel()
    {
        const size_t n = kChunkSamples + kChunkSamples / 2;
        const QString in = makeSource(dir, Wv, Source(n), "big");
        for (bool inCopy : {false, true})
            for (int dst : {Wav, Raw, Wv})
                for (bool existing : {false, true}) {
                    CancelAt sink(inCopy ? n + 1 : 1);
                    SetProgress(&sink);
                    const QString stem = QStringLiteral("c%1%2%3").arg(inCopy).arg(dst).arg(existing);
                    const QString out = path(stem + "." + kExt[dst]), hdr = path(stem + ".wvh");
                    if (existing)
                        QVERIFY(writeFile(out, "old") && writeFile(hdr, "old header"));
                    IQDatStr rec = source(kTl[Wv], in);
                    QCOMPARE(CopyDatFile(&rec, out, kCode[dst]), ST_CANCEL);
                    QVERIFY(EscFlg == 0 && sink.total == 2 * n);
                    QCOMPARE(readFile(out) + "|" + readFile(hdr), QByteArray(existing ? "old|old header" : "|"));
                    // Nothing else with the destination's name, no temporary file either.
                    QCOMPARE(QDir(dir.path()).entryList({stem + "*"}, QDir::Files | QDir::Hidden).size(), existing ? 2 : 0);
                }
    }

    // orvex-cli copy runs the same conversion as the window's Copy IQ, with
    // the panel's values where the file has none.
    void cli()
    {
        const QString in = makeSource(dir, Wv, Source(3000), "cli");
        IQDatStr rec = source(kTl[Wv], in);
        QCOMPARE(CopyDatFile(&rec, path("lib.wav"), kCode[Wav]), ST_OK);
        QProcess p;
        auto run = [&p](const QStringList& args) {
            p.start(ORVEX_CLI, QStringList{"copy", "--from"} + args);
            return p.waitForFinished(60000) ? p.exitCode() : -1;
        };
        QVERIFY(run({"wv", in, "--to", "WAV mixed", path("cli.wav")}) == 0 && readFile(path("cli.wav")) == readFile(path("lib.wav")));
        QVERIFY(writeFile(path("noclk.wv"), "{SAMPLES:1}#" + testutil::pairs({1}, {2}) + "}"));
        QCOMPARE(run({"32", path("noclk.wv"), "--to", "24", path("clk.wvd"), "--clock", "1234", "--reflevel", "-3.5"}), 0);
        QVERIFY(readFile(path("clk.wvh")).contains("{CLOCK:1234.000000}{RESOLUTION:16}{SAMPLES:1}{COMPONENTS:IQ}{REFLEVEL:-3.500}"));
        QVERIFY(writeFile(path("scr.wv"), "{SAMPLES:1}{CLOCK:1}{WWAVEFORM-5:#" + testutil::pairs({1}, {2}) + "}"));
        QCOMPARE(run({"wv", path("scr.wv"), "--to", "WAV mixed", path("scr.wav")}), 1);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.contains(("The file " + path("scr.wv") + " is scrambled. Load aborted.").toUtf8()) && err.contains("-6"), err);
        QVERIFY(run({"18", in, "--to", "WAV mixed", path("u.wav")}) == 1);
        QVERIFY(run({"wv", path("none.wv"), "--to", "WAV mixed", path("u.wav")}) == 1);
        QVERIFY(p.readAllStandardError().contains("File Load Error.") && !QFile::exists(path("scr.wav")) && !QFile::exists(path("u.wav")));
    }

    // Over 4 GiB of output: 64-bit sizes all the way. The source is a sparse
    // raw recorder file with a few non-zero samples at the places where
    // 32-bit arithmetic or block handling would go wrong.
    void beyond4GiB()
    {
        // Half a minute optimised, several minutes unoptimised under the
        // sanitizers: there it runs only when asked for (ORVEX_BIG_TESTS=1;
        // 0 skips it anywhere).
#ifdef NDEBUG
        const char* const byDefault = "1";
#else
        const char* const byDefault = "0";
#endif
        const uint64_t n = (uint64_t(1) << 30) + 1000, outBytes = 80 + 4 * n;
        if (qEnvironmentVariable("ORVEX_BIG_TESTS", byDefault) != "1")
            QSKIP("copies 4.3 GB; runs by default in optimised builds, else with ORVEX_BIG_TESTS=1");
        if (uint64_t(QStorageInfo(dir.path()).bytesAvailable()) < outBytes + (uint64_t(1) << 30))
            QSKIP(qPrintable(QStringLiteral("needs %1 GB free beside %2").arg(double(outBytes) / 1e9 + 1).arg(dir.path())));
        QTemporaryDir big(dir.filePath("big-XXXXXX"));
        const QString in = big.filePath("huge.wvd"), out = big.filePath("huge.wav");
        const uint64_t at[] = {0, kBlockSamples - 1, kBlockSamples, (1u << 29) - 1, 1u << 29, 1u << 30, n - 1};
        const std::vector<int16_t> pi = {11, -12, 13, 14, -32766, 32767, -17}, pq = {-11, 12, -13, -14, 32766, -32767, 17};
        QFile f(in);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(qint64(4 * n)) && writeFile(big.filePath("huge.wvh"), "{CLOCK:1e6}"));
        for (size_t k = 0; k < pi.size(); ++k)
            QVERIFY(f.seek(qint64(4 * at[k])) && f.write(testutil::pairs({pi[k]}, {pq[k]})) == 4);
        f.close();
        IQDatStr rec = source(kTl[Raw], in), back = source(kTl[Wav], out);
        QCOMPARE(CopyDatFile(&rec, out, kCode[Wav]), ST_OK);
        QFile::remove(in);
        QVERIFY(rec.N == n && rec.Blocks == 4 && rec.Rest == n - 4 * kBlockSamples && uint64_t(QFileInfo(out).size()) == outBytes);
        // The RF64 header (byte by byte in tst_wav), the probes (every other
        // sample is 0), and the 64-bit count the reader takes from the header.
        f.setFileName(out);
        QVERIFY(f.open(QIODevice::ReadOnly) && f.read(80) == WavHeader(n, 2, 1e6));
        const QByteArray want = expected(Raw, Wav, asRead(Raw, pi), asRead(Raw, pq));
        for (size_t k = 0; k < pi.size(); ++k)
            QVERIFY(f.seek(qint64(80 + 4 * at[k])) && f.read(4) == want.mid(int(4 * k), 4));
        QVERIFY(f.seek(qint64(80 + 4 * 12345)) && f.read(4) == QByteArray(4, '\0'));
        io::Reader r;
        uint16_t fmt = 0;
        QVERIFY(OpenR_WavStereo(&back, &r, &fmt, false, false) == ST_OK && back.N == n && back.Clock == 1e6);
        QFile::remove(out);
    }

    // One factor for both channels that never lets a channel wrap.
    void scale()
    {
        const struct { const char* name; Vf i, q; std::vector<int> want; } rows[] = {   // interleaved
            {"I=Q=[-1,0,1]", {-1, 0, 1}, {-1, 0, 1}, {-32767, -32767, 0, 0, 32767, 32767}},
            // The smaller factor: I at full scale, Q at half.
            {"ranges differ", {-1, 1}, {-0.5f, 0.5f}, {-32767, -16383, 32767, 16383}},
            // A constant channel has no factor; the other one still counts.
            {"constant Q", {-2, 2}, {0, 0}, {-32767, 0, 32767, 0}},
            // 65535.9 / range would map 1.0 to 65535 and wrap to -1.
            {"positive only", {0, 1}, {0, 1}, {0, 0, 32767, 32767}},
            {"all zero", {0, 0}, {0, 0}, {0, 0, 0, 0}},
        };
        for (const auto& row : rows) {
            Rec rec(row.i, row.q);
            QCOMPARE(SaveWav(rec.r, path("c.wav")), ST_OK);
            const QByteArray f = readFile(path("c.wav"));
            std::vector<int> got;
            for (int k = 44; k < f.size(); k += 2)
                got.push_back(s16(f, k));
            QVERIFY2(got == row.want, row.name);
        }
    }

    // Files of other tools: 16 and 8 bits, extra chunks before the data, an
    // 18-byte format chunk followed by "fact", a data size beyond the file
    // (only the frames present count), RF64 sizes from the ds64 chunk, mono
    // pairs; and the files refused.
    void reads()
    {
        const QByteArray d3 = pairs({1, -2, 3}, {-4, 5, -6}), four = QByteArray::fromHex("01000200");
        const Vf i3{1, -2, 3}, q3{-4, 5, -6};
        QByteArray lying = wav(2, 16, 44100, d3), rf = WavHeader(536870908, 2, 1e6);
        lying.replace(40, 4, QByteArray::fromHex("ffffff7f"));
        rf.replace(20, 16, QByteArray::fromHex("0000000000000000 0800000000000000"));
        QByteArray notPcm = wav(2, 16, 8000, four), noData = notPcm, notRiff = notPcm;
        notPcm[20] = 3;
        noData.replace(36, 4, "LIST");
        notRiff.replace(0, 4, "RIFX");
        const QByteArray mono3 = wav(1, 16, 8000, QByteArray::fromHex("010002000300")),
                         mono2 = wav(1, 16, 8000, four), stereo = wav(2, 16, 8000, four);
        const struct { const char* name; int typ; QByteArray fi, fq; int32_t st; Vf i, q; double clock; } rows[] = {
            {"16-bit", kStereo, wav(2, 16, 8000, QByteArray::fromHex("ff00ffff")), {}, ST_OK, {255}, {-1}, 8000},
            // 8-bit values are signed bytes, as the program always read them.
            {"8-bit signed", kStereo, wav(2, 8, 8000, QByteArray::fromHex("807f0001")), {}, ST_OK, {-128, 0}, {127, 1}, 8000},
            {"LIST chunk", kStereo, wav(2, 16, 44100, d3, "LIST" + le(5) + QByteArray("INFOx\0", 6)), {}, ST_OK, i3, q3,
             44100},   // with the pad byte of an odd chunk
            {"fmt 18 + fact", kStereo, wav(2, 16, 44100, d3, "fact" + le(4) + le(3), 18), {}, ST_OK, i3, q3, 44100},
            {"data size beyond file", kStereo, lying, {}, ST_OK, i3, q3, 44100},
            {"RF64", kStereo, rf + pairs({7, 8}, {-7, -8}) + "junk after the data", {}, ST_OK, {7, 8}, {-7, -8}, 1e6},
            {"mono pair", kMono, mono3, mono3, ST_OK, {1, 2, 3}, {1, 2, 3}, 8000},
            {"mono as mixed", kStereo, wav(1, 16, 8000, four), {}, ST_WAVFMT, {}, {}, 0},
            {"24-bit", kStereo, wav(2, 24, 8000, QByteArray(12, '\1')), {}, ST_WAVFMT, {}, {}, 0},
            {"float format", kStereo, notPcm, {}, ST_WAVFMT, {}, {}, 0},
            {"no data chunk", kStereo, noData, {}, ST_WAVFMT, {}, {}, 0},
            {"not RIFF", kStereo, notRiff, {}, ST_WAVFMT, {}, {}, 0},
            {"short", kStereo, "RIFF", {}, ST_WAVFMT, {}, {}, 0},
            {"stereo as I of a pair", kMono, stereo, mono2, ST_WAVFMT, {}, {}, 0},
            {"stereo as Q of a pair", kMono, mono3, stereo, ST_WAVFMT, {}, {}, 0},
            {"formats of a pair differ", kMono, mono3, wav(1, 8, 8000, QByteArray::fromHex("010203")), ST_WAVFMT, {}, {}, 0},
            {"Q shorter than I", kMono, mono3, mono2, ST_LENGTH, {}, {}, 0},
        };
        for (const auto& row : rows) {
            QVERIFY(writeFile(path("o.wav"), row.fi) && writeFile(path("q.wav"), row.fq));
            Rec r;
            QVERIFY2(load(&r.r, row.typ, path("o.wav"), row.fq.isNull() ? QString() : path("q.wav")) == row.st, row.name);
            QVERIFY2(holds(r.r, row.i, row.q) && (row.st == ST_OK ? r->Clock == row.clock : !r->I && !r->Q), row.name);
        }
    }

    // Beyond the 32-bit size fields the writer switches to RF64.
    void rf64Switch()
    {
        const QByteArray last = WavHeader(536870907, 2, 1e6);
        QCOMPARE(last.size(), 44);
        QCOMPARE(last.left(8), QByteArray::fromHex("52494646 fcffffff"));  // RIFF, 4294967292
        QCOMPARE(u32(last, 40), 4294967256u);
        // ds64: RIFF size 4n + 72, data 4n, n frames, no table; then the
        // usual fmt chunk, and 32-bit sizes of 0xFFFFFFFF.
        QCOMPARE(WavHeader(536870908, 2, 1e6),
                 QByteArray::fromHex("52463634 ffffffff 57415645 64733634 1c000000 3800008000000000"
                                     "f0ffff7f00000000 fcffff1f00000000 00000000 666d7420 10000000 0100 0200"
                                     "40420f00 00093d00 0400 1000 64617461 ffffffff"));
    }

    // Each tool makes a WAV file from the same raw pairs, which we read, and
    // decodes our file to exactly the sample bytes it holds (our files
    // announce twice their data bytes; readers take what is there).
    void interop()
    {
        std::vector<int16_t> i, q;
        for (int k = 0; k < 4000; ++k) {
            i.push_back(int16_t(k * 13 - 26000));
            q.push_back(int16_t(-k * 5));
        }
        i[1] = -32768;
        q[1] = 32767;
        QVERIFY(writeFile(path("in.raw"), pairs(i, q)));
        const Vf fi(i.begin(), i.end()), fq(q.begin(), q.end());
        Rec rec(fi, fq, 32000);
        QCOMPARE(SaveWav(rec.r, path("ours.wav")), ST_OK);
        // Debian's interpreter: the one with the standard wave module.
        const QString python = "/usr/bin/python3", sox = QStandardPaths::findExecutable("sox");
        const QString in = path("in.raw"), ours = path("ours.wav");
        const char* const script = "import wave,sys\n"
                                   "w=wave.open(sys.argv[2],'wb');w.setnchannels(2);w.setsampwidth(2)\n"
                                   "w.setframerate(32000);w.writeframes(open(sys.argv[1],'rb').read());w.close()\n"
                                   "r=wave.open(sys.argv[3]);open(sys.argv[4],'wb').write(r.readframes(r.getnframes()))\n"
                                   "assert (r.getnchannels(),r.getsampwidth(),r.getframerate())==(2,2,32000)\n";
        for (const QString tool : {"py", "sox"}) {
            const QString theirs = path(tool + ".wav"), decoded = path(tool + ".raw");
            if (!QFile::exists(tool == "py" ? python : sox))
                QSKIP(qPrintable(tool + " is not installed"));
            const std::vector<QStringList> runs = tool == "py" ? std::vector<QStringList>{{"-c", script, in, theirs, ours, decoded}}
                : std::vector<QStringList>{{"-q", "-t", "raw", "-r", "32000", "-e", "signed", "-b", "16", "-c", "2", in, theirs},
                                           {"-q", "-V1", ours, "-t", "raw", "-e", "signed", "-b", "16", decoded}};
            for (const QStringList& args : runs)
                QCOMPARE(QProcess::execute(tool == "py" ? python : sox, args), 0);
            QCOMPARE(readFile(decoded), readFile(path("ours.wav")).mid(44));
            Rec r;
            QCOMPARE(load(&r.r, kStereo, theirs), ST_OK);
            QVERIFY2(r->Clock == 32000.0 && holds(r.r, fi, fq), qPrintable(tool));
        }
    }

    // Whole files byte by byte; the 2-sample file reads back as integers,
    // not as the values written from. Silence: no division by the zero peak.
    void wvFiles()
    {
        const QString head = "\\{TYPE:TQX-WV,0\\}\\{COPYRIGHT:\\d+ Halvard TQX\\} \\{DATE:\\d+-\\d+-\\d+;\\d+:\\d+:\\d+\\}";
        const struct { Vf i, q; QString header; QByteArray data; Vf bi, bq; } rows[] = {
            {{1, 0}, {0, -1}, "\\{LEVEL OFFS:0\\.000,1\\.000\\}\\{SAMPLES:2\\} \\{CLOCK:1000000\\}\\{WAVEFORM-9:#",
             QByteArray::fromHex("ff7f0000 00000280"), {32767, 0}, {0, -32766}},
            {{0, 0, 0}, {0, 0, 0}, "\\{LEVEL OFFS:0\\.000,0\\.000\\}\\{SAMPLES:3\\} \\{CLOCK:1000000\\}\\{WAVEFORM-13:#",
             QByteArray(12, '\0'), {0, 0, 0}, {0, 0, 0}},
        };
        for (const auto& row : rows) {
            Rec rec(row.i, row.q, 1e6), r;
            QCOMPARE(SaveHvWv(rec.r, path("w.wv")), ST_OK);
            const QByteArray f = readFile(path("w.wv"));
            const int end = f.indexOf('#') + 1;
            QVERIFY2(matches(f.left(end), head + row.header), f.left(end).constData());
            QCOMPARE(f.mid(end), row.data + "}");
            QCOMPARE(load(&r.r, kWvLoad, path("w.wv")), ST_OK);
            QVERIFY(r->Clock == 1e6 && holds(r.r, row.bi, row.bq));
        }
    }

    // Headers of other writers, scrambled files, and counts and ends that
    // do not fit the file.
    void wvHeaders()
    {
        const QByteArray s3 = pairs({1, 2, 3}, {-1, -2, -3}) + "}";
        const struct { const char* name; QByteArray file; int32_t st; uint64_t n; double clock; } rows[] = {
            {"blanks in count", "{TYPE:TQX-WV,0}{SAMPLES:1 000}{CLOCK:2.5e6}{WAVEFORM-4001:#" + QByteArray(4000, '\1') + "}",
             ST_OK, 1000, 2.5e6},
            {"scrambled", "{TYPE:TQX-WV,0}{SAMPLES:3}{CLOCK:1e6}{WWAVEFORM-13:#" + s3, ST_REFUSED, 0, 0},
            // The padding of an EMPTYTAG may itself hold a "#".
            {"EMPTYTAG", "{TYPE:TQX-WV,0}{SAMPLES:3}{CLOCK:7e3}{EMPTYTAG-5:#ab}{WAVEFORM-13:#" + s3, ST_OK, 3, 7e3},
            {"EMPTYTAG, one #", "{EMPTYTAG-5:#ab}" + QByteArray(20, 'x'), ST_FILE1, 0, 0},
            {"no #", "{TYPE:TQX-WV,0}{SAMPLES:3}" + QByteArray(100000, 'x'), ST_FILE1, 0, 0},
            {"empty", "", ST_FILE1, 0, 0},
            // Without SAMPLES the samples run to the closing brace; without
            // CLOCK the clock given for the load stays.
            {"no SAMPLES", "{TYPE:TQX-WV,0}{CLOCK:5}{WAVEFORM-13:#" + s3, ST_OK, 3, 5.0},
            {"no CLOCK", "{TYPE:TQX-WV,0}{SAMPLES:3}{WAVEFORM-13:#" + s3, ST_OK, 3, 123.0},
            {"SAMPLES unclosed", "{CLOCK:5}{SAMPLES:3 #" + s3, ST_OK, 3, 5.0},
            {"count beyond file", "{SAMPLES:4}{CLOCK:5}#" + s3, ST_FILE1, 0, 0},
            {"count not a number", "{SAMPLES:x3}{CLOCK:5}#" + s3, ST_FILE1, 0, 0},
            {"huge count", "{SAMPLES:99999999999999}{CLOCK:5}#" + s3, ST_FILE1, 0, 0},
        };
        for (const auto& row : rows) {
            QVERIFY(writeFile(path("h.wv"), row.file));
            Rec r;
            r->Clock = 123;
            QVERIFY2(load(&r.r, kWvLoad, path("h.wv")) == row.st && r->N == row.n, row.name);
            QVERIFY2(row.st == ST_OK ? r->Clock == row.clock : !r->I && !r->Q, row.name);
            QVERIFY2(row.n != 3 || holds(r.r, {1, 2, 3}, {-1, -2, -3}), row.name);
        }
        QCOMPARE(LoadErrorText(ST_REFUSED, "x.wv"), QString("The file x.wv is scrambled. Load aborted."));
    }

    // The 3-sample recorder file: data bytes, header text, read-back.
    void rawThreeSamples()
    {
        Rec rec({1, 0, -0.5f}, {-1, 0, 0.5f}, 2e6), r;
        rec->RefLev = -10;
        rec->CFreq = 1e9;
        QCOMPARE(SaveVantorRaw(rec.r, path("rec.wvd")), ST_OK);
        // Negative values are stored 65536 below: -0.5 * 32767 + 0.5 - 65536.
        QCOMPARE(readFile(path("rec.wvd")), QByteArray::fromHex("ff7f0280 00000000 01c00040"));
        const QByteArray h = readFile(path("rec.wvh"));
        QVERIFY2(matches(h, "\\{TYPE:RAW16LE\\}\\{DATE:\\d+-\\d+-\\d+;\\d+:\\d+:\\d+\\}"
                            "\\{COPYRIGHT:2009 Halvard Vantor\\}\\{COMMENT:Orvex {19}\\}"
                            "\\{FWVERSION:4\\.10\\.04\\}\\{CLOCK:2000000\\.000000\\}\\{RESOLUTION:16\\}"
                            "\\{SAMPLES:3\\}\\{COMPONENTS:IQ\\}\\{REFLEVEL:-10\\.000\\}"
                            "\\{FREQUENCY:1000000000\\.0\\}"),
                 h.constData());
        QCOMPARE(load(&r.r, kRaw, path("rec.wvd")), ST_OK);
        QVERIFY(r->Clock == 2e6 && r->RefLev == -10.0f && r->CFreq == 1e9);
        QVERIFY(holds(r.r, Vf{1, 0, float((49153 - 65534.5) / 32767)}, Vf{float(-32764.5 / 32767), 0, float(16384 / 32767.0)}));
        // The 10-byte data file holds two pairs. Header tags that are missing
        // or unreadable keep the load's values, with no frequency 0; a data
        // file without its ".wvh" does not load. The header sits beside the
        // data file.
        const struct { QByteArray data; const char* header; int32_t st; double clock; float ref; Vf i, q; } tags[] = {
            {QByteArray::fromHex("ff7f0080000000000102"), "{TYPE:RAW16LE}{CLOCK:1e5}", ST_OK, 1e5, -7, {1, 0},
             {float((32768 - 65534.5) / 32767), 0}},
            {QByteArray(8, '\0'), "{CLOCK:1 000}{REFLEVEL:-3}{FREQUENCY:2e9", ST_OK, 9, -3, {0, 0}, {0, 0}},
            {QByteArray(8, '\0'), nullptr, ST_FILE1, 0, 0, {}, {}},
        };
        for (const auto& c : tags) {
            QVERIFY(writeFile(path("t.x.wvd"), c.data));
            QVERIFY(c.header ? writeFile(path("t.x.wvh"), c.header) : QFile::remove(path("t.x.wvh")));
            Rec t;
            t->Clock = 9;
            t->RefLev = -7;
            t->CFreq = 55;
            QCOMPARE(load(&t.r, kRaw, path("t.x.wvd")), c.st);
            QVERIFY(holds(t.r, c.i, c.q));
            QVERIFY(c.st == ST_OK ? t->Clock == c.clock && t->RefLev == c.ref && t->CFreq == 0.0 : !t->I);
        }
        QCOMPARE(VantorHeaderName("/a.b/rec"), QString("/a.b/rec.wvh"));
    }
};

QTEST_GUILESS_MAIN(TstStream)
#include "tst_stream.moc"
