// The 16-bit sample-pair codec behind the WAV, WV and raw recorder block
// functions, checked against the one-sample-at-a-time forms it replaced,
// and the commit of two files as one.
#include "formats/vantor.h"
#include "formats/wav.h"
#include "formats/wv.h"
#include "testutil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <cfloat>
#include <cmath>
#include <limits>
#include <tuple>

using namespace testutil;

namespace {

int32_t trunc32(double v) { return v > -2147483649.0 && v < 2147483648.0 ? int32_t(v) : INT32_MIN; }
uint16_t encWav(float x, double s) { return uint16_t(trunc32(double(x) * s)); }
uint16_t encWv(float x, double s) { return uint16_t(trunc32(double(x) * s + 0.5)); }
uint16_t encRaw(float x, double s)
{
    double v = double(x) / s * 32767.0 + 0.5;
    if (x < 0 || std::isnan(x))
        v -= 65536.0;
    return uint16_t(trunc32(v));
}
float decInt(uint16_t u) { return float(int16_t(u)); }
float decRaw(uint16_t u) { return float(u < 32768 ? u / 32767.0 : (u - 65534.5) / 32767.0); }

using ReadPairsFn = int32_t (*)(IQDatStr*, io::Reader*, uint64_t);
struct Codec {
    const char* name;
    WritFn writ;
    ReadPairsFn read;
    uint16_t (*enc)(float, double);
    float (*dec)(uint16_t);
};

const Codec kCodecs[] = {
    {"WAV", Writ_WavStereo, [](IQDatStr* r, io::Reader* in, uint64_t n) { return Read_WavStereo(r, in, n, 0x0202); },
     encWav, decInt},
    {"WV", Writ_HvWv, [](IQDatStr* r, io::Reader* in, uint64_t n) { return ReadShUnion(r, in, n); }, encWv, decInt},
    {"raw", Writ_VantorRaw, Read_VantorRaw, encRaw, decRaw},
};

const float kInf = std::numeric_limits<float>::infinity();
const std::vector<float> kEdges = {0.0f, -0.0f, 0.49999997f, 0.5f, -0.5f, 1, -1, 32767, 32767.5f, 32768,
                                   -32768, -32769, 65535.5f, -65536.5f, 2147483520.0f, 2147483648.0f,
                                   -2147483648.0f, -2147483904.0f, 3e9f, -3e9f, FLT_MAX, -FLT_MAX, kInf,
                                   -kInf, std::nanf(""), 1e-45f, -1e-45f, 1.17549435e-38f};

QByteArray le16s(const std::vector<uint16_t>& v)
{
    QByteArray b;
    for (uint16_t u : v)
        b.append(char(u & 0xff)).append(char(u >> 8));
    return b;
}

int firstDiff(const QByteArray& a, const QByteArray& b)
{
    for (int k = 0; k < std::min(a.size(), b.size()); ++k)
        if (a[k] != b[k])
            return k;
    return a.size() == b.size() ? -1 : std::min(a.size(), b.size());
}

} // namespace

class TstCodec : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void encodeMatchesScalarForm()
    {
        const uint64_t big = kChunkSamples + 1;
        for (const Codec& c : kCodecs)
            for (uint64_t n : {uint64_t(1), uint64_t(7), uint64_t(8), uint64_t(9), uint64_t(33), big})
                for (double scale : {1.0, 0.5, 21844.5, 1e-3, 3.0}) {
                    if (n == big && scale != 1.0)
                        continue;
                    Rec r;
                    MakeIQArr(&r.r, n);
                    r.r.N = n;
                    std::vector<uint16_t> want;
                    for (uint64_t j = 0; j < n; ++j) {
                        r.r.I[j] = kEdges[j % kEdges.size()];
                        r.r.Q[j] = kEdges[(j * 7 + 3) % kEdges.size()];
                        want.push_back(c.enc(r.r.I[j], scale));
                        want.push_back(c.enc(r.r.Q[j], scale));
                    }
                    BlockOut out(path("enc.bin"));
                    QVERIFY(out.data().open());
                    c.writ(r.r, &out, n, scale);
                    QVERIFY(out.commit());
                    const int at = firstDiff(readFile(path("enc.bin")), le16s(want));
                    QVERIFY2(at < 0, qPrintable(QStringLiteral("%1 n=%2 scale=%3: byte %4")
                                                    .arg(c.name).arg(n).arg(scale).arg(at)));
                }
    }

    void decodeMatchesScalarForm()
    {
        // Every code, in both channels, and a read past the end.
        std::vector<uint16_t> codes;
        for (uint32_t u = 0; u < 65536; ++u)
            codes.insert(codes.end(), {uint16_t(u), uint16_t(65535 - u)});
        QVERIFY(writeFile(path("codes.bin"), le16s(codes)));
        for (const Codec& c : kCodecs) {
            io::Reader in;
            QVERIFY(in.open(path("codes.bin")));
            Rec r;
            MakeIQArr(&r.r, 65537);
            r.r.FileI = path("codes.bin");
            QCOMPARE(c.read(&r.r, &in, 65536), ST_OK);
            for (uint32_t u = 0; u < 65536; ++u) {
                const float wi = c.dec(uint16_t(u)), wq = c.dec(uint16_t(65535 - u));
                QVERIFY2(std::memcmp(&r.r.I[u], &wi, 4) == 0 && std::memcmp(&r.r.Q[u], &wq, 4) == 0,
                         qPrintable(QStringLiteral("%1 code %2").arg(c.name).arg(u)));
            }
            QVERIFY(in.seek(4));
            QCOMPARE(c.read(&r.r, &in, 65536), ST_FILE1);
        }
    }

    // Every failure point of a two-file commit leaves both old files (or
    // none) in place, and nothing beside them. A destination turned into a
    // folder after opening makes its rename fail.
    void pairCommitIsAllOrNothing()
    {
        struct {
            const char* name;
            bool iOld, qOld;
            int breaks;  // 0 none, 1 the I destination, 2 the Q destination
            int result;
        } rows[] = {
            {"both replace old files", true, true, 0, 0},
            {"both new", false, false, 0, 0},
            {"Q fails: old I put back", true, true, 2, 2},
            {"Q fails: new I taken away", false, false, 2, 2},
            {"I fails: Q untouched", true, true, 1, 1},
        };
        for (const auto& row : rows) {
            QTemporaryDir d;
            const QString fi = d.filePath("x.i"), fq = d.filePath("x.q");
            if (row.iOld)
                QVERIFY(writeFile(fi, "old I"));
            if (row.qOld)
                QVERIFY(writeFile(fq, "old Q"));
            io::Writer wi(fi), wq(fq);
            QVERIFY(wi.open() && wq.open());
            wi.write(QByteArray("new I"));
            wq.write(QByteArray("new Q"));
            const QString broken = row.breaks == 1 ? fi : fq;
            if (row.breaks) {
                QFile::remove(broken);
                QVERIFY(QDir().mkpath(broken + "/inside"));
            }
            QVERIFY2(io::CommitPair(wi, wq) == row.result, row.name);
            const bool done = row.result == 0;
            for (auto [f, side, old] : {std::tuple{fi, 1, row.iOld}, std::tuple{fq, 2, row.qOld}}) {
                if (row.breaks == side)
                    QVERIFY2(QFileInfo(f).isDir(), row.name);
                else if (done || old)
                    QVERIFY2(readFile(f) == (done ? "new " : "old ") + QByteArray(side == 1 ? "I" : "Q"), row.name);
                else
                    QVERIFY2(!QFile::exists(f), row.name);
            }
            QCOMPARE(QDir(d.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
                     int(done || row.iOld || row.breaks == 1) + int(done || row.qOld || row.breaks == 2));
        }
    }
};

QTEST_GUILESS_MAIN(TstCodec)
#include "tst_codec.moc"
