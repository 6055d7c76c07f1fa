// The catalogue and its dispatchers: a round trip, an append and the
// failures of every save row; the shared record helpers, and the save
// dispatcher's own rules. The type tests check exact bytes and odd files.
#include "formats/binary.h"
#include "formats/blockio.h"
#include "formats/catalogue.h"
#include "formats/fileio_inject.h"
#include "testutil.h"

#include <cfloat>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <tuple>

using namespace testutil;

namespace {

// How the values of a format code come back: bit for bit, as printf's
// "%0.7e" read by QString::toFloat, or rescaled to the type's full scale
// (compared after dividing by the peak, within tol). Every code is tried at
// 0, 1 and 37 samples and on both sides of each of its internal chunk sizes.
enum Back { Exact, Text, Scaled };
struct Kind {
    Back back;
    double tol;
    bool clock;   // the file keeps the sample rate
    std::vector<uint64_t> chunks;
};

Kind kindOf(int32_t code)
{
    switch (code) {
    case 0: return {Text, 0, false, {25000}};           // the cancel cadence
    case 1: return {Text, 0, false, {25000, 150000}};   // and the 4 MB read chunk
    case 10: return {Text, 0, false, {150000}};
    case 17: return {Text, 0, false, {50000}};
    case 2: case 3: return {Exact, 0, false, {}};
    case 12: return {Exact, 0, true, {250000}};
    case 18: return {Exact, 0, false, {250000}};
    case 19: return {Exact, 0, false, {250000, 500000}};
    case 20: return {Scaled, 0.51 / 32767, false, {50000}};
    // Offset binary: the zero code covers one and a half code steps.
    case 21: return {Scaled, 1.51 * 2 / 1023, false, {50000}};
    case 22: return {Scaled, 1.51 * 2 / 131071, false, {50000}};
    case 14: case 15: case 24: case 25: return {Scaled, 2e-4, true, {kChunkSamples}};
    default: return {Text, 0, false, {}};
    }
}

int loadRowOf(int32_t code) { return int(std::find_if(tl, tl + TL_COUNT, [&](const TypStr& t) { return t.Code == code; }) - tl); }

float throughText(float v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%0.7e", double(v));
    return QString::fromLatin1(buf).toFloat();
}

// Empty when r holds the wanted samples as the kind says, else the first
// difference.
QString differs(const IQDatStr& r, const Vf& wi, const Vf& wq, const Kind& k)
{
    if (r.N != wi.size())
        return QStringLiteral("%1 samples instead of %2").arg(r.N).arg(wi.size());
    auto peak = [](const float* a, const float* b, size_t n) {
        double p = 0;
        for (size_t j = 0; j < n; ++j)
            p = std::max({p, std::fabs(double(a[j])), std::fabs(double(b[j]))});
        return p > 0 ? p : 1;
    };
    const double pr = peak(r.I, r.Q, r.N), pw = peak(wi.data(), wq.data(), wi.size());
    for (size_t j = 0; j < 2 * r.N; ++j) {
        const float got = j < r.N ? r.I[j] : r.Q[j - r.N], want = j < r.N ? wi[j] : wq[j - r.N];
        if (k.back == Scaled ? std::fabs(got / pr - want / pw) > k.tol : !sameFloat(got, k.back == Text ? throughText(want) : want))
            return QStringLiteral("value %1 (%2 = Q): %3 instead of %4").arg(j).arg(r.N).arg(got).arg(want);
    }
    return QString();
}

// Every file below a folder with its bytes.
QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> m;
    for (const QString& f : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        m[f] = readFile(folder + "/" + f);
    return m;
}

} // namespace

class TstCore : public FileTest {
    Q_OBJECT
    // The file names of save row s.
    std::pair<QString, QString> files(int s, const QString& stem) const
    {
        const QString f = path(stem + QString::number(s));
        return {f + ".a", ts[s].Files == 2 ? f + ".b" : QString()};
    }

private slots:
    void init() { EscFlg = 0; }

    void catalogueRows()
    {
        // Every format code names one load row; the terminator row is empty.
        for (int i = 0; i <= TL_COUNT; ++i) {
            QVERIFY2(i == TL_COUNT ? tl[i].Files == 0 : loadRowOf(tl[i].Code) == i, qPrintable(QString::number(i)));
            QVERIFY(i == TL_COUNT || !TraitsOf(tl[i].Code).proposesQ || tl[i].Files == 2);
        }
        // The save list is the load list's first 25 rows (where row and
        // format code agree) and the WV row.
        for (int i = 0; i < TS_COUNT; ++i) {
            const TypStr& same = tl[i < 25 ? i : loadRowOf(25)];
            QVERIFY(ts[i].Name == same.Name && ts[i].Code == same.Code && ts[i].PatI == same.PatI && ts[i].Files == same.Files);
            QVERIFY(i >= 25 || ts[i].Code == i);
        }
        QVERIFY(FmtOf(FMT_CODES) == nullptr && FmtOf(-1) == nullptr);
        // Every load row refuses a missing file and a folder, leaving no
        // arrays (a failed load also releases what an earlier one held);
        // types without a reader say why.
        Rec ok(7), r;
        QVERIFY(SaveIQW(ok.r, path("ok.iqw")) == ST_OK);
        for (int typ = 0; typ < TL_COUNT; ++typ)
            for (const QString& bad : {path("missing"), dir.path()}) {
                QCOMPARE(load(&r.r, 18, path("ok.iqw")), ST_OK);
                const int32_t st = load(&r.r, typ, bad, tl[typ].Files == 2 ? bad : QString());
                QVERIFY2(!r->I && !r->Q && r->N == 0, qPrintable(tl[typ].Name));
                QVERIFY2(FmtOf(tl[typ].Code)->load ? st < 0 && (st == ST_FILE1 || bad == dir.path())
                                                    : st == ST_UNSUPP && LastDetail().contains(tl[typ].Name),
                         qPrintable(tl[typ].Name));
            }
    }

    // Every save row through both dispatchers; the hex types also write back
    // what they read unchanged.
    void roundTrip_data()
    {
        QTest::addColumn<int>("s");
        QTest::addColumn<qulonglong>("n");
        for (int s = 0; s < TS_COUNT; ++s) {
            std::vector<uint64_t> sizes{0, 1, 37};
            for (uint64_t c : kindOf(ts[s].Code).chunks)
                sizes.insert(sizes.end(), {c - 1, c, c + 1});
            for (uint64_t n : sizes)
                QTest::addRow("%s n=%llu", qPrintable(ts[s].Name), (unsigned long long)n) << s << qulonglong(n);
        }
    }
    void roundTrip()
    {
        QFETCH(int, s);
        QFETCH(qulonglong, n);
        const int32_t code = ts[s].Code;
        const Kind k = kindOf(code);
        Rec src(n, uint32_t(s + n)), back;
        src->Clock = 2.5e6;
        if (k.back != Scaled && code != 17 && n >= 3)   // signed zero, extremes, subnormals
            std::tie(src->I[0], src->Q[0], src->I[1], src->Q[1], src->I[2]) = std::make_tuple(-0.0f, 1.4e-45f, FLT_MAX, -FLT_MIN, 1e-40f);
        const auto [fi, fq] = files(s, "rt");
        QCOMPARE(saveTo(&src.r, s, fi, fq), ST_OK);
        QCOMPARE(load(&back.r, loadRowOf(code), fi, fq), code == 23 ? ST_REFUSED : ST_OK);   // Wavesmith files are refused
        const QString d = code == 23 ? QString() : differs(back.r, Vf(src->I, src->I + n), Vf(src->Q, src->Q + n), k);
        QVERIFY2(d.isEmpty(), qPrintable(d));
        QVERIFY(code == 23 || back->Clock == (k.clock ? 2.5e6 : 1e8));
        if (code >= 20 && code <= 22) {
            // The 16-bit code FFFF (minus zero) comes back as 0, the same value.
            QCOMPARE(fmtTab[code].save(back.r, code, fi + ".again", QString()), ST_OK);
            QCOMPARE(readFile(fi + ".again"), code == 20 ? readFile(fi).replace("FFFF", "   0") : readFile(fi));
        }
    }

    // Every save row through the dispatcher's append: the samples the file
    // held, the last g new ones, the new ones. The new samples are given the
    // scale of what the file reads back as, so a type that rescales the
    // whole file keeps both parts comparable.
    void appendEveryRow()
    {
        for (int s = 0; s < TS_COUNT; ++s) {
            const int32_t code = ts[s].Code;
            const int guard = std::vector<int>{0, 2, 99}[s % 3];   // none, some, more than the new data
            const auto [fi, fq] = files(s, "ap");
            Rec old({1, 0.5f, -0.25f}, {-1, 0.125f, 0}), was, got;
            QCOMPARE(fmtTab[code].save(old.r, code, fi, fq), ST_OK);
            if (code == 23) {   // no reader: refused, the file stays as it was
                const QByteArray before = readFile(fi);
                QVERIFY(saveTo(&old.r, s, fi, fq, true, guard) == ST_REFUSED && readFile(fi) == before);
                continue;
            }
            QCOMPARE(load(&was.r, loadRowOf(code), fi, fq), ST_OK);
            Vf wi(was->I, was->I + 3), wq(was->Q, was->Q + 3);
            const float p = *std::max_element(wi.begin(), wi.end());
            Rec add({0.1f * p, 0.2f * p, 0.3f * p, 0.4f * p}, {-0.1f * p, -0.2f * p, -0.3f * p, -0.4f * p});
            QCOMPARE(saveTo(&add.r, s, fi, fq, true, guard), ST_OK);
            for (int j = 4 - std::min(guard, 4); j < 8; ++j) {
                wi.push_back(add->I[j % 4]);
                wq.push_back(add->Q[j % 4]);
            }
            QCOMPARE(load(&got.r, loadRowOf(code), fi, fq), ST_OK);
            const QString d = differs(got.r, wi, wq, kindOf(code));
            QVERIFY2(d.isEmpty(), qPrintable(ts[s].Name + ": " + d));
        }
        // No destination: the read-back fails and nothing is written.
        Rec dat(5);
        QVERIFY(saveTo(&dat.r, 18, path("none.iqw"), QString(), true) == ST_FILE1 && !QFile::exists(path("none.iqw")));
    }

    // Every save row: a cancelled read leaves no arrays and a cancelled write
    // the old files (a raw recorder header too) and nothing else; a file that
    // cannot be created is reported, for a pair with the file at fault. MAT
    // files are written and read by the library in one go: no cancel.
    void failuresEveryRow()
    {
        for (int s = 0; s < TS_COUNT; ++s) {
            QTemporaryDir d;
            const int32_t code = ts[s].Code;
            const bool two = ts[s].Files == 2, mat = code == 2 || code == 3;
            const QString fi = d.filePath("f.a"), fq = two ? d.filePath("f.b") : QString(), no = d.filePath("no/x");
            Rec big(30000), in;
            QVERIFY(writeFile(fi, "old I") && writeFile(d.filePath("f.wvh"), "old header") && (!two || writeFile(fq, "old Q")));
            const auto before = snapshot(d.path());
            EscFlg = 1;
            QVERIFY2(fmtTab[code].save(big.r, code, fi, fq) == (mat ? ST_OK : ST_CANCEL) && EscFlg == 0, qPrintable(ts[s].Name));
            QVERIFY(mat || snapshot(d.path()) == before);
            QCOMPARE(fmtTab[code].save(big.r, code, no, two ? d.filePath("no/y") : QString()), ST_FILE1);
            const QByteArray was = readFile(fi);
            QVERIFY(!two || (fmtTab[code].save(big.r, code, fi, no) == ST_FILE2 && readFile(fi) == was));
            QCOMPARE(fmtTab[code].save(big.r, code, fi, fq), ST_OK);
            QVERIFY2(!two || load(&in.r, loadRowOf(code), fi, no) == ST_FILE2, qPrintable(ts[s].Name));
            EscFlg = 1;
            const int32_t st = load(&in.r, loadRowOf(code), fi, fq);
            QVERIFY2(st == (code == 23 ? ST_REFUSED : mat ? ST_OK : ST_CANCEL) && EscFlg == 0, qPrintable(ts[s].Name));
            QVERIFY(st == ST_OK || (!in->I && !in->Q && in->N == 0));
        }
        QVERIFY(SaveSPWBin(Rec(10).r, dir.path()) == ST_FILE1 && !LastDetail().isEmpty());   // a folder is no file
    }

    // Trace data: count, rate and level from the acquisition settings; a
    // count raised after the trace cannot reach past the samples held.
    void instrumentDataTakesAcquisitionSettings()
    {
        for (uint64_t count : {40ull, 1000ull}) {
            Rec dat(100), back;
            dat->SrcTab = 1;
            AnaStr ana;
            ana.SRate = 3.5e6;
            ana.RefLev = -12.3;
            ana.Count = count;
            QVERIFY(saveTo(&dat.r, 12, path("trace.sig"), QString(), false, 0, ana) == ST_OK && dat->RefLev == float(-12.3));
            QVERIFY(load(&back.r, 12, path("trace.sig")) == ST_OK && back->Clock == 3.5e6 && back->N == std::min<uint64_t>(count, 100));
        }
    }

    void helpers()
    {
        char b[] = {1, 2, 3, 4, 5}, one[] = {7};
        RevArr(b, 4);
        RevArr(one, 1);
        QCOMPARE(QByteArray(b, 5) + one[0], QByteArray("\x04\x03\x02\x01\x05\x07", 6));
        QVERIFY(Ch2S(nullptr).isNull() && Ch2S("\xc3\xa9t\xc3\xa9") == QString::fromUtf8("été"));
        const std::pair<const char*, const char*> names[] = {
            {"/x/out.dat", "/x/out.q"}, {"/x/name.i", "/x/name.q"}, {"/x.d/out", "/x.d/out.q"}, {"a.b.c", "a.b.q"}};
        for (auto [in, q] : names)
            QCOMPARE(QNameFor(in), QString(q));
        // Extremes start at zero: the range always includes it. Ties keep
        // the first index.
        const struct { Vf v; float mx; uint64_t ix; float mn; uint64_t in; } ranges[] = {
            {{3, 1, 3}, 3, 0, 0, 0}, {{-2, -5, -5}, 0, 0, -5, 1}, {{}, 0, 0, 0, 0}};
        for (const auto& r : ranges) {
            float mx = 9, mn = 9;
            uint64_t ix = 9, in = 9;
            QCOMPARE(MaxMin1D(r.v.data(), r.v.size(), &mx, &ix, &mn, &in), uint64_t(r.v.size()));
            QVERIFY(mx == r.mx && ix == r.ix && mn == r.mn && in == r.in);
        }
        // The cancel flag counts at every 25000th sample only.
        for (int flag : {0, 1})
            for (uint64_t i : {0ull, 1ull, 25000ull, 25001ull, 50000ull, 1ull << 40}) {
                EscFlg = flag;
                QCOMPARE(EscPressed(i), flag && i % 25000 == 0 ? ST_CANCEL : ST_OK);
            }
        // 16-bit pairs from a file, across the 2048-sample read size.
        for (uint64_t n : {0ull, 1ull, 2047ull, 2048ull, 2049ull, 5000ull}) {
            std::vector<int16_t> vi, vq;
            for (uint64_t i = 0; i < n; ++i)
                vi.push_back(int16_t(i * 7 - 1000)), vq.push_back(int16_t(-int(i)));
            QFile f(path("sh.bin"));
            QVERIFY(writeFile(f.fileName(), pairs(vi, vq)) && f.open(QIODevice::ReadOnly));
            Rec r;
            MakeIQArr(&r.r, r->N = n);
            QVERIFY(ReadShUnion(&r.r, &f, n) == ST_OK && holds(r.r, Vf(vi.begin(), vi.end()), Vf(vq.begin(), vq.end())));
        }
    }

    // A failure at each write, sync and rename in turn, for every save
    // row and its append: the old files stay byte for byte, no temporary file
    // remains, and the detail names the file and the reason.
    void injectedFailuresEveryRow()
    {
        for (int s = 0; s < TS_COUNT; ++s)
            for (bool append : {false, true}) {
                QTemporaryDir d;
                const QString fi = d.filePath("f.a"), fq = ts[s].Files == 2 ? d.filePath("f.b") : QString();
                Rec old(5, 1), add(9000, 2);
                QCOMPARE(saveTo(&old.r, s, fi, fq), ST_OK);
                const auto before = snapshot(d.path());
                for (int n = 1;; ++n) {
                    io::inject::failNth(n, ENOSPC);
                    const int32_t st = saveTo(&add.r, s, fi, fq, append);
                    if (io::inject::failNth(0, 0) > 0) {
                        QVERIFY2(ts[s].Code == 23 && append ? st == ST_REFUSED : st == ST_OK && n > 2, qPrintable(ts[s].Name));
                        break;
                    }
                    QVERIFY2((st == ST_FILE1 || st == ST_FILE2) && snapshot(d.path()) == before && LastDetail().startsWith(d.path())
                                 && LastDetail().endsWith(": No space left on device."), qPrintable(ts[s].Name + ": " + LastDetail()));
                }
            }
    }

    // Devices and pipes are written in place: /dev/null stays a device,
    // /dev/full fails with its reason before a plain Q file beside it is
    // made, a pipe's reader gets the bytes of a plain file, and one that
    // leaves early a "Broken pipe", not the end of the program. Links lead to the
    // file replaced and stay links, dangling ones too; names of 255 bytes
    // work; a name the system cannot encode is refused, not changed.
    void specialDestinations()
    {
        QTemporaryDir d;
        Rec rec(20000);
        const QString fifo = d.filePath("pipe"), n255 = d.filePath(QString(251, 'n') + ".dat"), m255 = d.filePath(QString(255, 'm'));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        for (int s = 0; s < TS_COUNT; ++s) {
            const int32_t code = ts[s].Code;
            auto save = [&](const QString& fi, const QString& fq) { return fmtTab[code].save(rec.r, code, fi, ts[s].Files == 2 ? fq : QString()); };
            const QString row = ts[s].Name, q = d.filePath("q");
            // A type with its header beside the data cannot put one beside a device.
            if (TraitsOf(code).sideHeader)
                QVERIFY2(save("/dev/null", q) == ST_FILE1 && !QFile::exists("/dev/null.wvh") && LastDetail().contains("no regular file"), qPrintable(row));
            else
                QVERIFY2(save("/dev/null", "/dev/null") == ST_OK && save("/dev/full", q) == ST_FILE1 && !QFile::exists(q)
                             && LastDetail() == "/dev/full cannot be written: No space left on device.", qPrintable(row));
            QVERIFY(writeFile(d.filePath("t"), "old") && QFile::link("t", d.filePath("l")) && QFile::link("dt", d.filePath("dl")));
            QVERIFY2(save(d.filePath("p"), q) == ST_OK && save(d.filePath("l"), q) == ST_OK && save(d.filePath("dl"), q) == ST_OK, qPrintable(row));
            for (const char* t : {"l", "dl"})
                QVERIFY2(QFileInfo(d.filePath(t)).isSymLink() && QFileInfo(d.filePath(t)).size() == QFileInfo(d.filePath("p")).size(), qPrintable(row));
            QVERIFY2(save(n255, m255) == ST_OK && QFileInfo(n255).size() == QFileInfo(d.filePath("p")).size(), qPrintable(row));
            for (const char* f : {"t", "dt", "l", "dl", "p", "q"})
                QFile::remove(d.filePath(f));
            if (code != 18 && code != 3)
                continue;
            QByteArray got;
            std::thread reader([&] { got = readFile(fifo); });
            QVERIFY2(save(fifo, QString()) == ST_OK, qPrintable(row));
            reader.join();
            QVERIFY2(got == readFile(n255) && !QFileInfo(fifo).isFile(), qPrintable(row));
        }
        std::thread quitter([&] { QFile f(fifo); (void)(f.open(QIODevice::ReadOnly) && f.read(10).size()); });
        const bool broke = SaveIQW(rec.r, fifo) == ST_FILE1 && LastDetail().endsWith("Broken pipe.");
        quitter.join();
        const QString odd = d.filePath(QStringLiteral("b\uFFFD.iqw"));
        QVERIFY(SaveIQW(rec.r, odd) == ST_FILE1 && LastDetail().contains("cannot represent") && load(&rec.r, 18, odd) == ST_FILE1);
        QVERIFY(broke && LastDetail().contains("cannot represent") && QFileInfo("/dev/null").exists() && !QFileInfo("/dev/null").isFile() && QDir(d.path()).entryList({"b*", ".*"}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    }

    // The temporary file's name is fixed per destination: one left by a
    // killed save goes with the next save, as does the kept old file of a
    // pair; one locked by a save still running is left alone and refused.
    void staleAndBusyTemporaries()
    {
        QTemporaryDir d;
        Rec rec(10);
        const QString f = d.filePath("x.a"), q = d.filePath("x.b"), part = d.filePath(".x.a.orvex-part");
        QVERIFY(writeFile(f, "old") && writeFile(part, "left over") && writeFile(d.filePath(".x.a.orvex-old"), "kept"));
        QCOMPARE(fmtTab[14].save(rec.r, 14, f, q), ST_OK);
        QCOMPARE(QDir(d.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"x.a", "x.b"}));
        const QByteArray was = readFile(f);
        QFile running(part);
        QVERIFY(writeFile(part, "running") && running.open(QIODevice::ReadOnly) && ::flock(running.handle(), LOCK_EX) == 0);
        QVERIFY(SaveIQW(rec.r, f) == ST_FILE1 && LastDetail().contains("still running") && readFile(part) == "running" && readFile(f) == was);
    }

    // A full disk at the first and at the second file of every save row:
    // the old files stay byte for byte, no temporary file remains, and the
    // detail says why. On a small file system of its own (tests/tmpfs.sh).
    void fullDisk()
    {
        const QString root = qEnvironmentVariable("ORVEX_TMPFS");
        if (root.isEmpty())
            QSKIP("no small file system to fill (tests/tmpfs.sh mounts one where namespaces are permitted)");
        Rec old(5), big(60000);
        for (int s = 0; s < TS_COUNT; ++s) {
            const bool two = ts[s].Files == 2;
            const QString pi = path("p.a"), pq = two ? path("p.b") : QString();
            QCOMPARE(saveTo(&big.r, s, pi, pq), ST_OK);
            const qint64 need = QFileInfo(pi).size() + (two ? QFileInfo(pq).size() : 0);
            for (double part : {0.3, 0.8}) {
                QTemporaryDir d(root + "/XXXXXX");
                const QString fi = d.filePath("f.a"), fq = two ? d.filePath("f.b") : QString();
                QCOMPARE(saveTo(&old.r, s, fi, fq), ST_OK);
                const auto before = snapshot(d.path());
                struct statvfs vfs;
                QFile fill(root + "/fill");
                QVERIFY(::statvfs(QFile::encodeName(root).constData(), &vfs) == 0 && fill.open(QIODevice::WriteOnly)
                        && ::posix_fallocate(fill.handle(), 0, off_t(vfs.f_bavail * vfs.f_frsize - part * need)) == 0);
                const int32_t st = saveTo(&big.r, s, fi, fq);
                fill.remove();
                QVERIFY2((st == ST_FILE1 || st == ST_FILE2) && LastDetail().endsWith("No space left on device.")
                             && snapshot(d.path()) == before, qPrintable(ts[s].Name + ": " + LastDetail()));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstCore)
#include "tst_core.moc"
