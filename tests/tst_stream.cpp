// Streaming conversion: every pair of the three large-file types checked
// value by value against a reference computed here, independently of the
// library; block arithmetic; cancel and failure; the command line's copy.
#include "iqfiles.h"

#include "formats/catalogue.h"
#include "formats/progress.h"
#include "formats/stream.h"
#include "formats/wav.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <functional>

namespace {

enum Kind { Wav, Raw, Wv };
const int kTl[] = {15, 24, 32};    // load list rows
const int kCode[] = {15, 24, 25};  // format codes
const char* const kExt[] = {"wav", "wvd", "wv"};
const char* const kName[] = {"WAV mixed", "H&V Vantor Raw", "H&V WV mixed (unscrambled)"};

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

float rawDecode(int16_t s)
{
    const uint16_t u = uint16_t(s);
    return float(u < 32768 ? u / 32767.0 : (u - 65534.5) / 32767.0);
}

// Values as the source type's reader gives them.
std::vector<float> asRead(Kind k, const std::vector<int16_t>& v)
{
    std::vector<float> out(v.size());
    for (size_t j = 0; j < v.size(); ++j)
        out[j] = k == Raw ? rawDecode(v[j]) : float(v[j]);
    return out;
}

int32_t trunc32(double v)
{
    if (!(v > -2147483649.0 && v < 2147483648.0))
        return INT32_MIN;
    return int32_t(v);
}

// The expected samples of the destination, as bytes.
QByteArray expected(Kind src, Kind dst, const std::vector<float>& I, const std::vector<float>& Q,
                    double* peakOut = nullptr, double* sumOut = nullptr)
{
    const size_t n = I.size();
    std::vector<char> buf(n * 4);
    char* o = buf.data();
    auto put = [&o](int32_t a, int32_t b) {
        o[0] = char(a & 0xFF);
        o[1] = char((a >> 8) & 0xFF);
        o[2] = char(b & 0xFF);
        o[3] = char((b >> 8) & 0xFF);
        o += 4;
    };
    if (dst == Wv) {
        double sum = 0, peak = 0;
        for (size_t k = 0; k < n; ++k) {
            const double p = src == Wav ? double(I[k] * I[k] + Q[k] * Q[k])
                                        : double(I[k]) * I[k] + double(Q[k]) * Q[k];
            sum += p;
            peak = std::max(peak, std::sqrt(p));
        }
        const double scale = peak > 0 ? 32767.0 / peak : 0;
        for (size_t k = 0; k < n; ++k)
            put(trunc32(I[k] * scale + 0.5), trunc32(Q[k] * scale + 0.5));
        if (peakOut)
            *peakOut = peak;
        if (sumOut)
            *sumOut = sum;
        return QByteArray(buf.data(), int(buf.size()));
    }
    float imin = 0, imax = 0, qmin = 0, qmax = 0;
    for (size_t k = 0; k < n; ++k) {
        imin = std::min(imin, I[k]);
        imax = std::max(imax, I[k]);
        qmin = std::min(qmin, Q[k]);
        qmax = std::max(qmax, Q[k]);
    }
    if (dst == Raw) {
        const float s0 = std::max({std::fabs(imin), std::fabs(imax), std::fabs(qmin), std::fabs(qmax)});
        const double s = s0 > 0 ? s0 : 1.0;
        auto enc = [s](float x) {
            double v = x / s * 32767.0 + 0.5;
            if (x < 0)
                v -= 65536.0;
            return trunc32(v);
        };
        for (size_t k = 0; k < n; ++k)
            put(enc(I[k]), enc(Q[k]));
        return QByteArray(buf.data(), int(buf.size()));
    }
    // WAV: 65535.9 / range per channel, unless that would push a channel
    // past 16 bits; the smaller of the two factors for both.
    auto factor = [](float mn, float mx) -> float {
        const float range = mx - mn;
        if (range == 0)
            return 0;
        const float f = float(65535.9 / range);
        if (mx * double(f) < 32768.0 && mn * double(f) > -32769.0)
            return f;
        return float(32767.95 / std::max(std::fabs(mn), std::fabs(mx)));
    };
    const float fi = factor(imin, imax), fq = factor(qmin, qmax);
    const double scale = fi == 0 || fq == 0 ? std::max(fi, fq) : std::min(fi, fq);
    for (size_t k = 0; k < n; ++k) {
        const int a = trunc32(I[k] * scale), b = trunc32(Q[k] * scale);
        if (a < -32768 || a > 32767 || b < -32768 || b > 32767)
            return "reference wraps";
        put(a, b);
    }
    return QByteArray(buf.data(), int(buf.size()));
}

// Writes a source file of kind k and returns its path.
QString makeSource(const QTemporaryDir& dir, Kind k, const Source& s, const QString& base)
{
    const QString p = dir.filePath(base + "." + kExt[k]);
    const QByteArray data = t::pairs(s.i, s.q);
    const uint64_t n = s.i.size();
    if (k == Wav) {
        t::write(p, t::wav(2, 16, 2500000, data));
    } else if (k == Raw) {
        t::write(p, data);
        t::write(dir.filePath(base + ".wvh"), "{TYPE:RAW16LE}{CLOCK:2500000.000000}{REFLEVEL:-5.000}{FREQUENCY:1e9}");
    } else {
        t::write(p, QString::asprintf("{TYPE:TQX-WV,0}{SAMPLES:%llu} {CLOCK:2500000}{WAVEFORM-%llu:#",
                                      (unsigned long long)n, (unsigned long long)(4 * n + 1))
                        .toLatin1()
                    + data + "}");
    }
    return p;
}

// The sample bytes of a destination file, and its header checks.
QByteArray samplesOf(Kind k, const QByteArray& f, uint64_t n)
{
    if (k == Wav) {
        if (f.left(4) != "RIFF" || t::u32(f, 40) != uint32_t(8 * n))
            return "bad header";
        return f.mid(44);
    }
    if (k == Raw)
        return f;
    const int hash = f.indexOf('#');
    if (!f.left(hash).contains(QString::asprintf("{WAVEFORM-%llu:", (unsigned long long)(4 * n + 1)).toLatin1())
        || !f.endsWith('}'))
        return "bad header";
    return f.mid(hash + 1, f.size() - hash - 2);
}

// Sets EscFlg once the reported progress passes a point.
class CancelAt : public Progress {
public:
    explicit CancelAt(uint64_t at) : at_(at) {}
    void begin(const QString&, uint64_t total) override { total_ = total; }
    void step(uint64_t done) override
    {
        if (done >= at_)
            EscFlg = 1;
    }
    void end() override {}
    uint64_t total_ = 0;

private:
    uint64_t at_;
};

IQDatStr source(Kind k, const QString& file)
{
    IQDatStr r;
    r.Typ = kTl[k];
    r.FileI = file;
    return r;
}

} // namespace

class TstStream : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) { return dir.filePath(name); }

private slots:
    void init() { EscFlg = 0; }
    void cleanup() { SetProgress(nullptr); }

    void blockArithmetic_data()
    {
        QTest::addColumn<qulonglong>("n");
        QTest::addColumn<qulonglong>("blocks");
        QTest::addColumn<qulonglong>("rest");
        QTest::newRow("0") << 0ull << 0ull << 0ull;
        QTest::newRow("10") << 10ull << 0ull << 10ull;
        QTest::newRow("block-1") << 262143999ull << 0ull << 262143999ull;
        QTest::newRow("block") << 262144000ull << 1ull << 0ull;
        QTest::newRow("block+1") << 262144001ull << 1ull << 1ull;
        QTest::newRow("2^32+5") << 4294967301ull << 16ull << 100663301ull;
    }
    void blockArithmetic()
    {
        QFETCH(qulonglong, n);
        QFETCH(qulonglong, blocks);
        QFETCH(qulonglong, rest);
        const BlockSplit s = SplitBlocks(n);
        QCOMPARE(qulonglong(s.blocks), blocks);
        QCOMPARE(qulonglong(s.rest), rest);
        QCOMPARE(kBlockSamples, uint64_t(262144000));
    }

    // Every source/destination pair, and one pair per reader and writer over
    // a file of several internal buffers.
    void pairs_data()
    {
        QTest::addColumn<int>("src");
        QTest::addColumn<int>("dst");
        QTest::addColumn<int>("n");
        for (int s : {Wav, Raw, Wv})
            for (int d : {Wav, Raw, Wv})
                QTest::newRow(qPrintable(QStringLiteral("%1 to %2").arg(kExt[s], kExt[d]))) << s << d << 5000;
        const int big = int(2 * kChunkSamples + 7);
        QTest::newRow("wv to wav, 3 buffers") << int(Wv) << int(Wav) << big;
        QTest::newRow("wav to wvd, 3 buffers") << int(Wav) << int(Raw) << big;
        QTest::newRow("wvd to wv, 3 buffers") << int(Raw) << int(Wv) << big;
    }
    void pairs()
    {
        QFETCH(int, src);
        QFETCH(int, dst);
        QFETCH(int, n);
        const Source s(n);
        const QString in = makeSource(dir, Kind(src), s, "src");
        const QString out = path(QStringLiteral("dst.") + kExt[dst]);
        IQDatStr rec = source(Kind(src), in);
        rec.Clock = 1;
        rec.RefLev = -12;
        QCOMPARE(CopyDatFile(&rec, out, kCode[dst]), ST_OK);
        QCOMPARE(rec.N, uint64_t(n));
        QCOMPARE(rec.Clock, 2500000.0);
        QCOMPARE(rec.Blocks, uint64_t(0));
        QCOMPARE(rec.Rest, uint64_t(n));
        QVERIFY(!rec.I && !rec.Q);
        const uint64_t nn = uint64_t(n);

        const std::vector<float> I = asRead(Kind(src), s.i), Q = asRead(Kind(src), s.q);
        double peak = 0, sum = 0;
        const QByteArray want = expected(Kind(src), Kind(dst), I, Q, &peak, &sum);
        const QByteArray f = t::read(out);
        const QByteArray got = samplesOf(Kind(dst), f, nn);
        const qint64 d = t::firstDiff(got, want);
        QVERIFY2(d < 0, qPrintable(QStringLiteral("first difference at byte %1 of %2").arg(d).arg(want.size())));

        if (dst == Wv) {
            const QString lev = QString::asprintf("{LEVEL OFFS:%0.3lf,%0.3lf}{SAMPLES:%d} {CLOCK:2500000}",
                                                  20 * std::log10(peak / std::sqrt(sum / double(n))), peak, n);
            QVERIFY2(f.contains(lev.toLatin1()), qPrintable(lev));
        }
        if (dst == Raw) {
            // The header carries the source's clock; the reference level and
            // frequency are the source's for a raw source, else the panel's.
            const QByteArray h = t::read(path("dst.wvh"));
            QVERIFY(h.contains("{CLOCK:2500000.000000}"));
            QVERIFY(h.contains(QString::asprintf("{SAMPLES:%d}", n).toLatin1()));
            QVERIFY(h.contains(src == Raw ? "{REFLEVEL:-5.000}{FREQUENCY:1000000000.0}"
                                          : "{REFLEVEL:-12.000}{FREQUENCY:0.0}"));
        }
    }

    // Sizes around the internal buffer, including an empty file.
    void sizes_data()
    {
        QTest::addColumn<int>("n");
        for (int n : {0, 1, int(kChunkSamples) - 1, int(kChunkSamples), int(kChunkSamples) + 1})
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }
    void sizes()
    {
        QFETCH(int, n);
        const Source s{size_t(n)};
        const QString in = makeSource(dir, Wv, s, "sz");
        const QString out = path("sz-out.wav");
        IQDatStr rec = source(Wv, in);
        QCOMPARE(CopyDatFile(&rec, out, kCode[Wav]), ST_OK);
        QCOMPARE(rec.N, uint64_t(n));
        const QByteArray got = samplesOf(Wav, t::read(out), uint64_t(n));
        QCOMPARE(t::firstDiff(got, expected(Wv, Wav, asRead(Wv, s.i), asRead(Wv, s.q))), qint64(-1));
    }

    // A WV file spanning -32767..32767 goes to WAV with 65535.9 / 65534; one
    // whose peak exceeds its most negative value keeps its peak at 32767
    // instead of wrapping to -32768.
    void wvToWavFactor()
    {
        Source s(4);
        s.i = {-32767, 32767, 5, -5};
        s.q = {0, 0, 32767, -32766};
        const QString in = makeSource(dir, Wv, s, "fac");
        IQDatStr rec = source(Wv, in);
        QCOMPARE(CopyDatFile(&rec, path("fac.wav"), 15), ST_OK);
        const QByteArray f = t::read(path("fac.wav"));
        const int16_t want[] = {-32767, 0, 32767, 0, 5, 32767, -5, -32766};
        for (int k = 0; k < 8; ++k)
            QCOMPARE(t::s16(f, 44 + 2 * k), want[k]);
    }

    // The data in memory is not replaced by a conversion.
    void memoryUntouched()
    {
        const QString in = makeSource(dir, Wv, Source(10), "mem");
        t::Rec held({1, 2, 3}, {4, 5, 6});
        held.r.Typ = kTl[Wv];
        held.r.FileI = in;
        float* const i0 = held.r.I;
        QCOMPARE(CopyDatFile(&held.r, path("mem.wav"), 15), ST_OK);
        QCOMPARE(held.r.I, i0);
        QCOMPARE(held.r.I[2], 3.0f);
        QCOMPARE(held.r.Q[0], 4.0f);
        QCOMPARE(held.r.N, uint64_t(10));
    }

    void refusals()
    {
        const Source s(8);
        QVERIFY(t::write(path("scr.wv"), "{TYPE:TQX-WV,0}{SAMPLES:8}{CLOCK:1}{WWAVEFORM-33:#" + t::pairs(s.i, s.q) + "}"));
        IQDatStr rec = source(Wv, path("scr.wv"));
        QCOMPARE(CopyDatFile(&rec, path("scr.wav"), 15), ST_REFUSED);
        QVERIFY(!QFile::exists(path("scr.wav")));
        QCOMPARE(LoadErrorText(ST_REFUSED, rec.FileI), "The file " + rec.FileI + " is scrambled. Load aborted.");

        const QString in = makeSource(dir, Wv, s, "ok");
        // A type without block functions takes no part, on either side.
        rec = source(Wv, in);
        QCOMPARE(CopyDatFile(&rec, path("x.iqw"), 18), ST_UNSUPP);
        QCOMPARE(CopyDatFile(&rec, path("x.wav"), 14), ST_UNSUPP);
        QVERIFY(!QFile::exists(path("x.iqw")) && !QFile::exists(path("x.wav")));
        IQDatStr iqw;
        iqw.Typ = 18;
        iqw.FileI = in;
        QCOMPARE(CopyDatFile(&iqw, path("x.wav"), 15), ST_UNSUPP);

        rec = source(Wv, path("missing.wv"));
        QCOMPARE(CopyDatFile(&rec, path("x.wav"), 15), ST_FILE1);
        rec = source(Raw, path("ok.wv"));   // a data file without its ".wvh"
        QCOMPARE(CopyDatFile(&rec, path("x.wav"), 15), ST_FILE1);
        rec = source(Wav, in);              // not a WAV file
        QCOMPARE(CopyDatFile(&rec, path("x.wv"), 25), ST_WAVFMT);

        rec = source(Wv, in);
        for (int code : {15, 24, 25})
            QCOMPARE(CopyDatFile(&rec, path("no/such/dir/x"), code), ST_FILE1);
        QVERIFY(!QFile::exists(path("x.wav")) && !QFile::exists(path("x.wv")));
    }

    // A cancel during the scan or the copy leaves no destination, and an
    // existing destination (with its ".wvh") stays as it was.
    void cancel_data()
    {
        QTest::addColumn<bool>("inCopy");
        QTest::addColumn<int>("dst");
        for (int d : {Wav, Raw, Wv}) {
            QTest::newRow(qPrintable(QStringLiteral("scan, %1").arg(kExt[d]))) << false << d;
            QTest::newRow(qPrintable(QStringLiteral("copy, %1").arg(kExt[d]))) << true << d;
        }
    }
    void cancel()
    {
        QFETCH(bool, inCopy);
        QFETCH(int, dst);
        const size_t n = kChunkSamples + kChunkSamples / 2;
        const QString in = path("big.wv");
        if (!QFile::exists(in))
            makeSource(dir, Wv, Source(n), "big");
        CancelAt sink(inCopy ? n + 1 : 1);
        SetProgress(&sink);
        for (bool existing : {false, true}) {
            const QString stem = QStringLiteral("c%1%2%3").arg(inCopy).arg(dst).arg(existing);
            const QString out = path(stem + "." + kExt[dst]);
            const QString hdr = path(stem + ".wvh");
            if (existing) {
                QVERIFY(t::write(out, "old"));
                QVERIFY(t::write(hdr, "old header"));
            }
            IQDatStr rec = source(Wv, in);
            QCOMPARE(CopyDatFile(&rec, out, kCode[dst]), ST_CANCEL);
            QCOMPARE(int(EscFlg), 0);
            QCOMPARE(sink.total_, uint64_t(2 * n));
            if (existing) {
                QCOMPARE(t::read(out), QByteArray("old"));
                QCOMPARE(t::read(hdr), QByteArray("old header"));
            } else {
                QVERIFY(!QFile::exists(out));
                QVERIFY(!QFile::exists(hdr));
            }
            // Nothing else with the destination's name, no temporary file either.
            const QStringList left = QDir(dir.path()).entryList({stem + "*"}, QDir::Files);
            QCOMPARE(left.size(), existing ? 2 : 0);
        }
    }

    // orvex-cli copy runs the same conversion as the window's Copy IQ.
    void cli()
    {
        const Source s(3000);
        const QString in = makeSource(dir, Wv, s, "cli");
        IQDatStr rec = source(Wv, in);
        QCOMPARE(CopyDatFile(&rec, path("lib.wav"), 15), ST_OK);

        auto run = [](const QStringList& args, QByteArray* err = nullptr) {
            QProcess p;
            p.start(ORVEX_CLI, args);
            p.waitForFinished(60000);
            if (err)
                *err = p.readAllStandardError();
            return p.exitCode();
        };
        QCOMPARE(run({"copy", "--from", "wv", in, "--to", "WAV mixed", path("cli.wav")}), 0);
        QCOMPARE(t::read(path("cli.wav")), t::read(path("lib.wav")));
        QCOMPARE(run({"copy", "--from", "32", in, "--to", "24", path("cli.wvd"), "--reflevel", "-3.5"}), 0);
        QVERIFY(t::read(path("cli.wvh")).contains("{CLOCK:2500000.000000}"));
        QVERIFY(t::read(path("cli.wvh")).contains("{REFLEVEL:-3.500}"));

        // The panel's clock stands where the file has none.
        QVERIFY(t::write(path("noclk.wv"), "{SAMPLES:1}#" + t::pairs({1}, {2}) + "}"));
        QCOMPARE(run({"copy", "--from", "wv", path("noclk.wv"), "--to", "wvd", path("clk.wvd"), "--clock", "1234"}), 0);
        QVERIFY(t::read(path("clk.wvh")).contains("{CLOCK:1234.000000}"));

        QByteArray err;
        QVERIFY(t::write(path("scr.wv"), "{SAMPLES:1}{CLOCK:1}{WWAVEFORM-5:#" + t::pairs({1}, {2}) + "}"));
        QCOMPARE(run({"copy", "--from", "wv", path("scr.wv"), "--to", "WAV mixed", path("scr.wav")}, &err), 1);
        QVERIFY2(err.contains(("The file " + path("scr.wv") + " is scrambled. Load aborted.").toUtf8()), err);
        QVERIFY(err.contains("-6"));
        QVERIFY(!QFile::exists(path("scr.wav")));
        QCOMPARE(run({"copy", "--from", "18", in, "--to", "WAV mixed", path("u.wav")}, &err), 1);
        QCOMPARE(run({"copy", "--from", "wv", path("none.wv"), "--to", "WAV mixed", path("u.wav")}, &err), 1);
        QVERIFY(err.contains("File Load Error."));

        QCOMPARE(run({"copy", "--from", "wv", in, "--to", "WAV mixed"}), 2);
        QCOMPARE(run({"copy", "--from", "wv", in}), 2);
        QCOMPARE(run({"copy", "--from", "nosuchtype", in, "--to", "wv", path("u.wv")}), 2);
        QCOMPARE(run({"copy", "--from", "wv", in, "--to", "wv", path("u.wv"), "--append"}), 2);
        QVERIFY(!QFile::exists(path("u.wav")) && !QFile::exists(path("u.wv")));
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
        const uint64_t n = (uint64_t(1) << 30) + 1000;
        const uint64_t outBytes = 80 + 4 * n;
        QStorageInfo disk(dir.path());
        if (uint64_t(disk.bytesAvailable()) < outBytes + (uint64_t(1) << 30))
            QSKIP(qPrintable(QStringLiteral("needs %1 GB free beside %2, has %3 GB")
                                 .arg(double(outBytes) / 1e9 + 1, 0, 'f', 1)
                                 .arg(dir.path())
                                 .arg(double(disk.bytesAvailable()) / 1e9, 0, 'f', 1)));
        QTemporaryDir big(dir.filePath("big-XXXXXX"));
        const QString in = big.filePath("huge.wvd"), out = big.filePath("huge.wav");
        const std::vector<std::pair<uint64_t, int16_t>> probes = {
            {0, 11},           {kBlockSamples - 1, -12}, {kBlockSamples, 13},  {(uint64_t(1) << 29) - 1, 14},
            {uint64_t(1) << 29, -32766}, {uint64_t(1) << 30, 32767}, {n - 1, -17}};
        {
            QFile f(in);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(qint64(4 * n)));
            for (auto [pos, v] : probes) {
                QVERIFY(f.seek(qint64(4 * pos)));
                QByteArray b;
                t::le16(b, v);
                t::le16(b, -v);
                QVERIFY(f.write(b) == 4);
            }
        }
        QVERIFY(t::write(big.filePath("huge.wvh"), "{CLOCK:1e6}"));
        IQDatStr rec = source(Raw, in);
        QCOMPARE(CopyDatFile(&rec, out, 15), ST_OK);
        QFile::remove(in);
        QCOMPARE(rec.N, n);
        QCOMPARE(rec.Blocks, uint64_t(4));
        QCOMPARE(rec.Rest, n - 4 * kBlockSamples);
        QCOMPARE(uint64_t(QFileInfo(out).size()), outBytes);

        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray h = f.read(80);
        QCOMPARE(h.left(4), QByteArray("RF64"));
        QCOMPARE(t::u64(h, 20), 4 * n + 72);
        QCOMPARE(t::u64(h, 28), 4 * n);
        QCOMPARE(t::u64(h, 36), n);
        // Expected values from the probes alone: every other sample is 0.
        std::vector<float> I, Q;
        for (auto [pos, v] : probes) {
            I.push_back(rawDecode(v));
            Q.push_back(rawDecode(int16_t(-v)));
        }
        const QByteArray want = expected(Raw, Wav, I, Q);
        for (size_t k = 0; k < probes.size(); ++k) {
            QVERIFY(f.seek(qint64(80 + 4 * probes[k].first)));
            QCOMPARE(f.read(4), want.mid(int(4 * k), 4));
        }
        QVERIFY(f.seek(qint64(80 + 4 * 12345)));
        QCOMPARE(f.read(4), QByteArray(4, '\0'));
        f.close();

        // The reader takes the 64-bit count from the RF64 header.
        IQDatStr back = source(Wav, out);
        io::Reader r;
        uint16_t fmt = 0;
        QCOMPARE(OpenR_WavStereo(&back, &r, &fmt, false, false), ST_OK);
        QCOMPARE(back.N, n);
        QCOMPARE(back.Clock, 1e6);
        QFile::remove(out);
    }
};

QTEST_GUILESS_MAIN(TstStream)
#include "tst_stream.moc"
