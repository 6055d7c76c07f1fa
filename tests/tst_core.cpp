// The catalogue and its dispatchers: one round trip and one append through
// every save row, the shared record helpers, and the save dispatcher's own
// rules. The type tests check exact bytes and odd files; the values of a
// plain write-then-read live here.
#include "formats/binary.h"
#include "formats/blockio.h"
#include "formats/catalogue.h"
#include "formats/save.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
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
    const double bits16 = 2e-4;
    switch (code) {
    case 0: return {Text, 0, false, {25000}};   // the cancel cadence
    case 1: return {Text, 0, false, {25000, 150000}};   // and the 4 MB read chunk
    case 10: return {Text, 0, false, {150000}};
    case 2: case 3: return {Exact, 0, false, {}};
    case 12: return {Exact, 0, true, {250000}};
    case 18: return {Exact, 0, false, {250000}};
    case 19: return {Exact, 0, false, {250000, 500000}};
    case 17: return {Text, 0, false, {50000}};
    case 20: return {Scaled, 0.51 / 32767, false, {50000}};
    // Offset binary: the zero code covers one and a half code steps.
    case 21: return {Scaled, 1.51 * 2 / 1023, false, {50000}};
    case 22: return {Scaled, 1.51 * 2 / 131071, false, {50000}};
    case 14: case 15: case 24: case 25: return {Scaled, bits16, true, {kChunkSamples}};
    default: return {Text, 0, false, {}};
    }
}

int loadRowOf(int32_t code)
{
    for (int i = 0; i < TL_COUNT; ++i)
        if (tl[i].Code == code)
            return i;
    return -1;
}

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
        const float got = j < r.N ? r.I[j] : r.Q[j - r.N];
        const float want = j < r.N ? wi[j] : wq[j - r.N];
        const bool ok = k.back == Scaled ? std::fabs(got / pr - want / pw) <= k.tol
                                         : sameFloat(got, k.back == Text ? throughText(want) : want);
        if (!ok)
            return QStringLiteral("value %1 (%2 = Q): %3 instead of %4").arg(j).arg(r.N).arg(got).arg(want);
    }
    return QString();
}

} // namespace

class TstCore : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
    // The file names of save row s.
    std::pair<QString, QString> files(int s, const char* stem) const
    {
        const QString f = path(QStringLiteral("%1%2").arg(stem).arg(s));
        return {f + ".a", ts[s].Files == 2 ? f + ".b" : QString()};
    }

private slots:
    void init() { EscFlg = 0; }

    void catalogueShape()
    {
        QCOMPARE(tl[TL_COUNT].Files, 0);   // the terminator row
        for (int i = 0; i < TL_COUNT; ++i) {
            QVERIFY2(!tl[i].Name.isEmpty() && (tl[i].Files == 1 || tl[i].Files == 2), qPrintable(QString::number(i)));
            QCOMPARE(tl[i].PatQ.isEmpty(), tl[i].Files == 1);
            for (int j = 0; j < i; ++j)
                QVERIFY(tl[i].Code != tl[j].Code);
        }
        // The save list is the load list's first 25 rows (where row and
        // format code agree) and the WV row.
        for (int i = 0; i < TS_COUNT; ++i) {
            const TypStr& same = i < 25 ? tl[i] : tl[loadRowOf(25)];
            QVERIFY(ts[i].Name == same.Name && ts[i].Code == same.Code && ts[i].PatI == same.PatI
                    && ts[i].Files == same.Files);
            QVERIFY(i >= 25 || ts[i].Code == i);
        }
        QCOMPARE(FmtOf(FMT_CODES), nullptr);
        QCOMPARE(FmtOf(-1), nullptr);
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
            std::tie(src->I[0], src->Q[0], src->I[1], src->Q[1], src->I[2]) =
                std::make_tuple(-0.0f, 1.4e-45f, FLT_MAX, -FLT_MIN, 1e-40f);
        const auto [fi, fq] = files(s, "rt");
        IQDatStr dst, sav;
        sav.Typ = s;
        sav.FileI = fi;
        sav.FileQ = fq;
        bool res = false;
        QCOMPARE(SaveDatFile(&src.r, &dst, &sav, AnaStr{}, false, 0, &res), ST_OK);
        const int32_t st = load(&back.r, loadRowOf(code), fi, fq);
        if (code == 23) {   // Wavesmith files are refused as scrambled
            QCOMPARE(st, ST_REFUSED);
            return;
        }
        QCOMPARE(st, ST_OK);
        const QString d = differs(back.r, Vf(src->I, src->I + n), Vf(src->Q, src->Q + n), k);
        QVERIFY2(d.isEmpty(), qPrintable(d));
        QCOMPARE(back->Clock, k.clock ? 2.5e6 : 1e8);
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
            const Kind k = kindOf(code);
            const int guards[] = {0, 2, 99};   // none, some, more than the new data
            const int guard = guards[s % 3];
            const auto [fi, fq] = files(s, "ap");
            Rec old({1, 0.5f, -0.25f}, {-1, 0.125f, 0}, 3e6), was;
            QCOMPARE(fmtTab[code].save(old.r, code, fi, fq), ST_OK);
            if (code == 23) {   // no reader: refused, the file stays as it was
                const QByteArray before = readFile(fi);
                QCOMPARE(appendTo(&old.r, s, fi, fq, guard), ST_REFUSED);
                QCOMPARE(readFile(fi), before);
                continue;
            }
            QCOMPARE(load(&was.r, loadRowOf(code), fi, fq), ST_OK);
            Vf wi(was->I, was->I + 3), wq(was->Q, was->Q + 3);
            const float p = *std::max_element(wi.begin(), wi.end());
            Rec add({0.1f * p, 0.2f * p, 0.3f * p, 0.4f * p}, {-0.1f * p, -0.2f * p, -0.3f * p, -0.4f * p}, 3e6), got;
            QCOMPARE(appendTo(&add.r, s, fi, fq, guard), ST_OK);
            for (int j = 4 - std::min(guard, 4); j < 8; ++j) {
                wi.push_back(add->I[j % 4]);
                wq.push_back(add->Q[j % 4]);
            }
            QCOMPARE(load(&got.r, loadRowOf(code), fi, fq), ST_OK);
            const QString d = differs(got.r, wi, wq, k);
            QVERIFY2(d.isEmpty(), qPrintable(ts[s].Name + ": " + d));
        }
        // No destination: the read-back fails and nothing is written.
        Rec dat(5);
        QCOMPARE(appendTo(&dat.r, 18, path("none.iqw"), QString(), 0), ST_FILE1);
        QVERIFY(!QFile::exists(path("none.iqw")));
    }

    // Existing 1,2,3; new 10..13: the guard repeats the last new samples, and
    // never reaches before the new data's start.
    void buildAppended()
    {
        const struct { int guard; Vf want; } rows[] = {
            {2, {1, 2, 3, 12, 13, 10, 11, 12, 13}},
            {99, {1, 2, 3, 10, 11, 12, 13, 10, 11, 12, 13}},
            {-4, {1, 2, 3, 10, 11, 12, 13}},
        };
        Rec old({1, 2, 3}, {-1, -2, -3}), add({10, 11, 12, 13}, {-10, -11, -12, -13});
        for (const auto& row : rows) {
            Rec out;
            QCOMPARE(BldDstArr(&out.r, old.r, add.r, row.guard, nullptr), ST_OK);
            Vf neg(row.want);
            for (float& v : neg)
                v = -v;
            QVERIFY2(holds(out.r, row.want, neg), qPrintable(QString::number(row.guard)));
        }
    }

    // Trace data: count, rate and level from the acquisition settings; a
    // count raised after the trace cannot reach past the samples held.
    void instrumentDataTakesAcquisitionSettings()
    {
        for (uint64_t count : {40ull, 1000ull}) {
            Rec dat(100), back;
            dat->SrcTab = 1;
            dat->Clock = 5;
            AnaStr ana;
            ana.SRate = 3.5e6;
            ana.RefLev = -12.3;
            ana.Count = count;
            IQDatStr dst, sav;
            sav.Typ = 12;
            sav.FileI = path("trace.sig");
            bool res = false;
            QCOMPARE(SaveDatFile(&dat.r, &dst, &sav, ana, false, 0, &res), ST_OK);
            QCOMPARE(sav.RefLev, float(-12.3));
            QCOMPARE(load(&back.r, 12, sav.FileI), ST_OK);
            QCOMPARE(back->Clock, 3.5e6);
            QCOMPARE(back->N, std::min<uint64_t>(count, 100));
        }
    }

    // The small shared helpers.
    void helpers()
    {
        char b[] = {1, 2, 3, 4, 5}, one[] = {7};
        RevArr(b, 4);
        RevArr(one, 1);
        QCOMPARE(QByteArray(b, 5) + one[0], QByteArray("\x04\x03\x02\x01\x05\x07", 6));
        QCOMPARE(Ch2S(nullptr), QString());
        QCOMPARE(Ch2S("\xc3\xa9t\xc3\xa9"), QString::fromUtf8("été"));
        const struct { const char* in; const char* q; } names[] = {
            {"/x/out.dat", "/x/out.q"}, {"/x/name.i", "/x/name.q"}, {"/x.d/out", "/x.d/out.q"}, {"a.b.c", "a.b.q"}};
        for (const auto& n : names)
            QCOMPARE(QNameFor(n.in), QString(n.q));
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
    }

    // 16-bit pairs from a file, across the 2048-sample read size.
    void readShUnion()
    {
        for (uint64_t n : {0ull, 1ull, 2047ull, 2048ull, 2049ull, 5000ull}) {
            std::vector<int16_t> vi, vq;
            for (uint64_t i = 0; i < n; ++i) {
                vi.push_back(int16_t(i * 7 - 1000));
                vq.push_back(int16_t(-int(i)));
            }
            QVERIFY(writeFile(path("sh.bin"), pairs(vi, vq)));
            QFile f(path("sh.bin"));
            QVERIFY(f.open(QIODevice::ReadOnly));
            Rec r;
            MakeIQArr(&r.r, n);
            r->N = n;
            QCOMPARE(ReadShUnion(&r.r, &f, n), ST_OK);
            QVERIFY(holds(r.r, Vf(vi.begin(), vi.end()), Vf(vq.begin(), vq.end())));
        }
    }

    // A failed or cancelled load leaves no arrays and clears the flag; a
    // cancelled or impossible save leaves the old file and no temporary one.
    void failuresLeaveNothingBehind()
    {
        Rec r(60000), in;
        QCOMPARE(SaveIQW(r.r, path("ok.iqw")), ST_OK);
        QCOMPARE(load(&in.r, 18, path("ok.iqw")), ST_OK);
        QCOMPARE(load(&in.r, 18, path("missing.iqw")), ST_FILE1);
        QVERIFY(!in->I && !in->Q && in->N == 0);
        EscFlg = 1;
        QCOMPARE(load(&in.r, 18, path("ok.iqw")), ST_CANCEL);
        QVERIFY(!in->I && EscFlg == 0);

        const QString f = path("keep.iqw");
        QVERIFY(writeFile(f, "old contents"));
        const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        EscFlg = 1;
        QCOMPARE(SaveIQW(r.r, f), ST_CANCEL);
        QCOMPARE(int(EscFlg), 0);
        QCOMPARE(readFile(f), QByteArray("old contents"));
        QCOMPARE(SaveIQW(r.r, path("no/such/folder/x.iqw")), ST_FILE1);
        QVERIFY(!LastDetail().isEmpty());
        QCOMPARE(SaveSPWBin(r.r, dir.path()), ST_FILE1);   // a folder is no file
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
    }

    // Types without a reader leave the record empty with a clear reason.
    void unreadableTypesSayWhy()
    {
        for (int typ = 0; typ < TL_COUNT; ++typ) {
            if (FmtOf(tl[typ].Code)->load)
                continue;
            Rec r;
            QCOMPARE(load(&r.r, typ, path("x")), ST_UNSUPP);
            QVERIFY(LastDetail().contains(tl[typ].Name));
        }
    }
};

QTEST_GUILESS_MAIN(TstCore)
#include "tst_core.moc"
