// Streaming conversion: every pair of the three large-file types checked
// value by value against a reference computed here, independently of the
// library; block arithmetic; cancel and failure; the command line's copy.
#include "formats/catalogue.h"
#include "formats/progress.h"
#include "formats/stream.h"
#include "formats/wav.h"
#include "testutil.h"

#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <cmath>
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
    void pairs()
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
            QVERIFY2(got.size() == want.size() && d == got.size(), qPrintable(name + QStringLiteral(": first difference at byte %1").arg(d)));
            // The WV header's crest factor and peak; the raw recorder header
            // carries the source's clock, and the reference level and
            // frequency of a raw source, else the panel's.
            const QString h = dst == Wv ? QString::asprintf("{LEVEL OFFS:%0.3lf,%0.3lf}{SAMPLES:%d} {CLOCK:2500000}",
                                                            20 * std::log10(peak / std::sqrt(sum / double(n))), peak, n)
                            : QString::asprintf("{CLOCK:2500000.000000}{RESOLUTION:16}{SAMPLES:%d}{COMPONENTS:IQ}%s", n,
                                                src == Raw ? "{REFLEVEL:-5.000}{FREQUENCY:1000000000.0}" : "{REFLEVEL:-12.000}{FREQUENCY:0.0}");
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
        QVERIFY(run({"18", in, "--to", "WAV mixed", path("u.wav")}) == 1 && run({"wv", path("none.wv"), "--to", "WAV mixed", path("u.wav")}) == 1);
        QVERIFY(p.readAllStandardError().contains("File Load Error.") && !QFile::exists(path("scr.wav")) && !QFile::exists(path("u.wav")));
    }

    // Over 4 GiB of output: 64-bit sizes all the way. The source is a sparse
    // raw recorder file with a few non-zero samples at the places where
    // 32-bit arithmetic or block handling would go wrong.
    void beyond4GiB()
    {
        // Half a minute optimised, several minutes unoptimised under the
        // sanitizers: there it runs only when asked for.
#ifdef NDEBUG
        const bool byDefault = true;
#else
        const bool byDefault = false;
#endif
        const QByteArray ask = qgetenv("ORVEX_BIG_TESTS");
        if (ask == "0" || (!byDefault && ask.isEmpty()))
            QSKIP("copies 4.3 GB; runs by default in optimised builds, else with ORVEX_BIG_TESTS=1");
        const uint64_t n = (uint64_t(1) << 30) + 1000, outBytes = 80 + 4 * n;
        if (uint64_t(QStorageInfo(dir.path()).bytesAvailable()) < outBytes + (uint64_t(1) << 30))
            QSKIP(qPrintable(QStringLiteral("needs %1 GB free beside %2").arg(double(outBytes) / 1e9 + 1).arg(dir.path())));
        QTemporaryDir big(dir.filePath("big-XXXXXX"));
        const QString in = big.filePath("huge.wvd"), out = big.filePath("huge.wav");
        const uint64_t at[] = {0, kBlockSamples - 1, kBlockSamples, (1u << 29) - 1, 1u << 29, 1u << 30, n - 1};
        const std::vector<int16_t> pi = {11, -12, 13, 14, -32766, 32767, -17}, pq = {-11, 12, -13, -14, 32766, -32767, 17};
        QFile f(in);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(qint64(4 * n)));
        for (size_t k = 0; k < pi.size(); ++k)
            QVERIFY(f.seek(qint64(4 * at[k])) && f.write(testutil::pairs({pi[k]}, {pq[k]})) == 4);
        f.close();
        QVERIFY(writeFile(big.filePath("huge.wvh"), "{CLOCK:1e6}"));
        IQDatStr rec = source(kTl[Raw], in);
        QCOMPARE(CopyDatFile(&rec, out, kCode[Wav]), ST_OK);
        QFile::remove(in);
        QVERIFY(rec.N == n && rec.Blocks == 4 && rec.Rest == n - 4 * kBlockSamples && uint64_t(QFileInfo(out).size()) == outBytes);
        // The RF64 header (byte by byte in tst_wav); expected values from the
        // probes alone: every other sample is 0.
        f.setFileName(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(80), WavHeader(n, 2, 1e6));
        const QByteArray want = expected(Raw, Wav, asRead(Raw, pi), asRead(Raw, pq));
        for (size_t k = 0; k < pi.size(); ++k)
            QVERIFY(f.seek(qint64(80 + 4 * at[k])) && f.read(4) == want.mid(int(4 * k), 4));
        QVERIFY(f.seek(qint64(80 + 4 * 12345)) && f.read(4) == QByteArray(4, '\0'));
        f.close();
        // The reader takes the 64-bit count from the RF64 header.
        IQDatStr back = source(kTl[Wav], out);
        io::Reader r;
        uint16_t fmt = 0;
        QVERIFY(OpenR_WavStereo(&back, &r, &fmt, false, false) == ST_OK && back.N == n && back.Clock == 1e6);
        QFile::remove(out);
    }
};

QTEST_GUILESS_MAIN(TstStream)
#include "tst_stream.moc"
