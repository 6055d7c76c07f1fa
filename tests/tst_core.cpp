// The record, the catalogue tables, the shared helpers and the save
// dispatcher with append.
#include "formats/binary.h"
#include "formats/catalogue.h"
#include "formats/save.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

using namespace testutil;

class TstCore : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void catalogueShape();
    void everyWritableRowRoundTrips();
    void readersAreTheNamedFunctions();
    void maxMin();
    void escPressed();
    void revArrAndCh2S();
    void readShUnion();
    void secondFailingLoadLeavesNoArrays();
    void qNameFor();
    void appendWorkedExample();
    void appendGuardLargerThanNewData();
    void appendFailures();
    void instrumentDataTakesAcquisitionSettings();
    void failedSaveKeepsOldFile();
    void unsupportedTypesSayWhy();
};

void TstCore::catalogueShape()
{
    // The lists the window and the command line show.
    QCOMPARE(tl[TL_COUNT].Name, QString());
    QCOMPARE(tl[TL_COUNT].Files, 0);
    QCOMPARE(tl[25].Name, QString("ADS ASCII  TIMe dom. sgl"));
    QCOMPARE(tl[32].Name, QString("H&V WV mixed (unscrambled)"));
    for (int i = 0; i < TL_COUNT; ++i) {
        QVERIFY2(!tl[i].Name.isEmpty(), qPrintable(QString::number(i)));
        QVERIFY(tl[i].Files == 1 || tl[i].Files == 2);
        QCOMPARE(tl[i].PatQ.isEmpty(), tl[i].Files == 1);
        QVERIFY(!TraitsOf(tl[i].Code).proposesQ || tl[i].Files == 2);
        if (i < 25)
            QCOMPARE(tl[i].Code, i);
        for (int j = 0; j < i; ++j)
            QVERIFY(tl[i].Code != tl[j].Code);
    }
    for (int i = 0; i < TS_COUNT; ++i) {
        const TypStr& same = i < 25 ? tl[i] : tl[32];
        QCOMPARE(ts[i].Name, same.Name);
        QCOMPARE(ts[i].Code, same.Code);
        QCOMPARE(ts[i].PatI, same.PatI);
        QCOMPARE(ts[i].Files, same.Files);
    }
    QCOMPARE(FmtOf(34), nullptr);
    QCOMPARE(FmtOf(-1), nullptr);
}

void TstCore::everyWritableRowRoundTrips()
{
    // Walks the save list: every type with a writer and a reader must give
    // back what it wrote (within the type's precision) through the dispatchers.
    IQDatStr src = makeRec(37, 7);
    src.Clock = 2e6;
    int tested = 0;
    for (int s = 0; s < TS_COUNT; ++s) {
        const FmtFn* f = FmtOf(ts[s].Code);
        if (!f->save || !f->load || ts[s].Code == 23) // the IBN reader refuses by design
            continue;
        // The hex types rescale to full scale and quantise; tst_hexdab
        // checks them against their code steps.
        if (ts[s].Code >= 20 && ts[s].Code <= 22)
            continue;
        // WAV, raw recorder and WV likewise scale to 16-bit full scale;
        // tst_wav and tst_wvraw check their exact codes.
        if (ts[s].Code == 14 || ts[s].Code == 15 || ts[s].Code == 24 || ts[s].Code == 25)
            continue;
        IQDatStr dst, sav;
        sav.Typ = s;
        sav.FileI = path(QStringLiteral("rt%1.a").arg(s));
        sav.FileQ = ts[s].Files == 2 ? path(QStringLiteral("rt%1.b").arg(s)) : QString();
        bool res = false;
        QCOMPARE(SaveDatFile(&src, &dst, &sav, AnaStr{}, false, 0, &res), ST_OK);
        int li = s < 25 ? s : 32;
        IQDatStr back;
        QCOMPARE(load(&back, li, sav.FileI, sav.FileQ), ST_OK);
        QCOMPARE(back.N, src.N);
        for (uint64_t i = 0; i < src.N; ++i) {
            QVERIFY2(qAbs(back.I[i] - src.I[i]) < 1e-4f, qPrintable(ts[s].Name));
            QVERIFY2(qAbs(back.Q[i] - src.Q[i]) < 1e-4f, qPrintable(ts[s].Name));
        }
        FreeArr(&back);
        ++tested;
    }
    QVERIFY(tested >= 3);
    FreeArr(&src);
}

void TstCore::readersAreTheNamedFunctions()
{
    const struct { int code; LoadFn fn; } rows[] = {
        {12, LoadAdsSpwBin}, {18, LoadIQW}, {19, LoadIQWBlk}, {23, LoadIbn},
        {27, LoadAdsBinTim}, {28, LoadAdsSpwBin}, {30, LoadAwg2000}, {31, LoadTds5000},
    };
    for (const auto& r : rows)
        QVERIFY2(fmtTab[r.code].load == r.fn, qPrintable(QString::number(r.code)));
    // The load-only types have no writer, and the types whose file cannot be
    // read back offer no append.
    for (int code : {26, 27, 28, 29, 30, 31, 32, 33})
        QVERIFY(fmtTab[code].save == nullptr);
}

void TstCore::maxMin()
{
    float mx, mn;
    uint64_t ix, in;
    const float a[] = {3, 1, 3};
    QCOMPARE(MaxMin1D(a, 3, &mx, &ix, &mn, &in), uint64_t(3));
    QCOMPARE(mx, 3.0f); QCOMPARE(ix, uint64_t(0)); QCOMPARE(mn, 0.0f); QCOMPARE(in, uint64_t(0));
    const float b[] = {-2, -5, -5};
    MaxMin1D(b, 3, &mx, &ix, &mn, &in);
    QCOMPARE(mx, 0.0f); QCOMPARE(ix, uint64_t(0)); QCOMPARE(mn, -5.0f); QCOMPARE(in, uint64_t(1));
    MaxMin1D(nullptr, 0, &mx, &ix, &mn, &in);
    QCOMPARE(mx, 0.0f); QCOMPARE(mn, 0.0f);
}

void TstCore::escPressed()
{
    EscFlg = 1;
    QCOMPARE(EscPressed(0), ST_CANCEL);
    QCOMPARE(EscPressed(50000), ST_CANCEL);
    QCOMPARE(EscPressed(25001), ST_OK);
    EscFlg = 0;
    for (uint64_t i : {0ull, 1ull, 25000ull, 1ull << 40})
        QCOMPARE(EscPressed(i), ST_OK);

    // A load with the flag set stops at index 0 and clears the flag.
    IQDatStr r = makeRec(60000);
    QVERIFY(SaveIQW(r, path("esc.iqw")) == ST_OK);
    FreeArr(&r);
    EscFlg = 1;
    QCOMPARE(load(&r, 18, path("esc.iqw")), ST_CANCEL);
    QCOMPARE(int(EscFlg), 0);
    QVERIFY(r.I == nullptr && r.Q == nullptr);
}

void TstCore::revArrAndCh2S()
{
    char b[] = {1, 2, 3, 4};
    RevArr(b, 4);
    QCOMPARE(QByteArray(b, 4), QByteArray("\x04\x03\x02\x01", 4));
    char one[] = {7};
    RevArr(one, 1);
    QCOMPARE(int(one[0]), 7);
    QCOMPARE(Ch2S(nullptr), QString());
    QCOMPARE(Ch2S("\xc3\xa9t\xc3\xa9"), QString::fromUtf8("été"));
}

void TstCore::readShUnion()
{
    // Sizes around the internal read size of 2048 samples.
    for (uint64_t n : {0ull, 1ull, 2047ull, 2048ull, 2049ull, 5000ull}) {
        QByteArray bytes;
        for (uint64_t i = 0; i < n; ++i) {
            int16_t iv = int16_t(i * 7 - 1000), qv = int16_t(-int(i));
            bytes.append(char(iv & 0xff)).append(char(iv >> 8 & 0xff));
            bytes.append(char(qv & 0xff)).append(char(qv >> 8 & 0xff));
        }
        QVERIFY(writeFile(path("sh.bin"), bytes));
        QFile f(path("sh.bin"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        IQDatStr r;
        MakeIQArr(&r, n);
        QCOMPARE(ReadShUnion(&r, &f, n), ST_OK);
        for (uint64_t i = 0; i < n; ++i) {
            QCOMPARE(r.I[i], float(int16_t(i * 7 - 1000)));
            QCOMPARE(r.Q[i], float(-int(i)));
        }
        FreeArr(&r);
    }
}

void TstCore::secondFailingLoadLeavesNoArrays()
{
    IQDatStr r = makeRec(10);
    QCOMPARE(SaveIQW(r, path("ok.iqw")), ST_OK);
    FreeArr(&r);
    QCOMPARE(load(&r, 18, path("ok.iqw")), ST_OK);
    QCOMPARE(r.N, uint64_t(10));
    QCOMPARE(load(&r, 18, path("missing.iqw")), ST_FILE1);
    QVERIFY(r.I == nullptr && r.Q == nullptr);
    QCOMPARE(r.N, uint64_t(0));
    FreeArr(&r); // releasing again is harmless
    FreeArr(&r);
}

void TstCore::qNameFor()
{
    QCOMPARE(QNameFor("/x/out.dat"), QString("/x/out.q"));
    QCOMPARE(QNameFor("/x/name.i"), QString("/x/name.q"));
    QCOMPARE(QNameFor("/x.d/out"), QString("/x.d/out.q"));
    QCOMPARE(QNameFor("a.b.c"), QString("a.b.q"));
}

void TstCore::appendWorkedExample()
{
    // Existing 1,2,3; new 10..13; guard 2 -> 1,2,3,12,13,10,11,12,13.
    for (int typ : {18, 19, 12}) {
        IQDatStr old;
        MakeIQArr(&old, 3);
        old.N = 3;
        for (int i = 0; i < 3; ++i) { old.I[i] = float(i + 1); old.Q[i] = -float(i + 1); }
        const QString f = path(QStringLiteral("app%1").arg(typ));
        QCOMPARE(fmtTab[ts[typ].Code].save(old, ts[typ].Code, f, QString()), ST_OK);
        FreeArr(&old);

        IQDatStr dat, dst, sav;
        MakeIQArr(&dat, 4);
        dat.N = 4;
        for (int i = 0; i < 4; ++i) { dat.I[i] = float(10 + i); dat.Q[i] = -float(10 + i); }
        sav.Typ = typ;
        sav.FileI = dst.FileI = f;
        bool res = false;
        QCOMPARE(SaveDatFile(&dat, &dst, &sav, AnaStr{}, true, 2, &res), ST_OK);
        QVERIFY(dst.I == nullptr); // the read-back arrays are released

        IQDatStr back;
        QCOMPARE(load(&back, typ, f), ST_OK);
        const float want[] = {1, 2, 3, 12, 13, 10, 11, 12, 13};
        QCOMPARE(back.N, uint64_t(9));
        for (int i = 0; i < 9; ++i) {
            QCOMPARE(back.I[i], want[i]);
            QCOMPARE(back.Q[i], -want[i]);
        }
        FreeArr(&back);
        FreeArr(&dat);
    }
}

void TstCore::appendGuardLargerThanNewData()
{
    // The guard is limited to the new data: nothing is read before its start.
    IQDatStr old = makeRec(2, 3), add = makeRec(3, 4), out;
    QCOMPARE(BldDstArr(&out, old, add, 99, nullptr), ST_OK);
    QCOMPARE(out.N, uint64_t(2 + 3 + 3));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(out.I[2 + i], add.I[i]);
        QCOMPARE(out.I[5 + i], add.I[i]);
    }
    FreeArr(&out);
    QCOMPARE(BldDstArr(&out, old, add, -4, nullptr), ST_OK);
    QCOMPARE(out.N, uint64_t(5));
    FreeArr(&out);
    FreeArr(&old);
    FreeArr(&add);
}

void TstCore::appendFailures()
{
    IQDatStr dat = makeRec(5), dst, sav;
    bool res = false;
    // Destination missing: -1, nothing written.
    sav.Typ = 18;
    sav.FileI = dst.FileI = path("none.iqw");
    QCOMPARE(SaveDatFile(&dat, &dst, &sav, AnaStr{}, true, 0, &res), ST_FILE1);
    QVERIFY(!QFile::exists(sav.FileI));
    // Wavesmith files cannot be read back: -6 and the file stays as it was.
    sav.Typ = 23;
    sav.FileI = dst.FileI = path("w.ibn");
    QCOMPARE(SaveDatFile(&dat, &dst, &sav, AnaStr{}, false, 0, &res), ST_OK);
    const QByteArray before = readFile(sav.FileI);
    QCOMPARE(SaveDatFile(&dat, &dst, &sav, AnaStr{}, true, 0, &res), ST_REFUSED);
    QCOMPARE(readFile(sav.FileI), before);
    FreeArr(&dat);
}

void TstCore::instrumentDataTakesAcquisitionSettings()
{
    IQDatStr dat = makeRec(100), dst, sav;
    dat.SrcTab = 1;
    dat.Clock = 5;
    AnaStr ana;
    ana.SRate = 3.5e6;
    ana.RefLev = -12.3;
    ana.Count = 40;
    sav.Typ = 12;
    sav.FileI = path("trace.sig");
    bool res = false;
    QCOMPARE(SaveDatFile(&dat, &dst, &sav, ana, false, 0, &res), ST_OK);
    QCOMPARE(dat.Clock, 3.5e6);
    QCOMPARE(sav.RefLev, float(-12.3));
    IQDatStr back;
    QCOMPARE(load(&back, 12, sav.FileI), ST_OK);
    QCOMPARE(back.Clock, 3.5e6);
    QCOMPARE(back.N, uint64_t(40));
    FreeArr(&back);
    // A count raised after the trace cannot read past the samples held.
    ana.Count = 1000;
    QCOMPARE(SaveDatFile(&dat, &dst, &sav, ana, false, 0, &res), ST_OK);
    QCOMPARE(load(&back, 12, sav.FileI), ST_OK);
    QCOMPARE(back.N, uint64_t(40));
    FreeArr(&back);
    FreeArr(&dat);
}

void TstCore::failedSaveKeepsOldFile()
{
    const QString f = path("keep.iqw");
    QVERIFY(writeFile(f, "old contents"));
    const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    IQDatStr r = makeRec(30000);
    // A cancel half way through a write leaves the old file whole.
    EscFlg = 1;
    QCOMPARE(SaveIQW(r, f), ST_CANCEL);
    QCOMPARE(int(EscFlg), 0);
    QCOMPARE(readFile(f), QByteArray("old contents"));
    // A destination that cannot be created is reported, not ignored.
    QCOMPARE(SaveIQW(r, path("no/such/folder/x.iqw")), ST_FILE1);
    QVERIFY(!LastDetail().isEmpty());
    QCOMPARE(SaveSPWBin(r, dir.path()), ST_FILE1); // a folder is no file
    FreeArr(&r);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), files); // no temporary left

}

void TstCore::unsupportedTypesSayWhy()
{
    // Types with no reader leave the record empty with a clear reason.
    for (int typ = 0; typ < TL_COUNT; ++typ) {
        if (FmtOf(tl[typ].Code)->load)
            continue;
        IQDatStr r;
        QCOMPARE(load(&r, typ, path("x")), ST_UNSUPP);
        QVERIFY(LastDetail().contains(tl[typ].Name));
    }
    IQDatStr dat = makeRec(1), dst, sav;
    bool res = false;
    for (int typ = 0; typ < TS_COUNT; ++typ) {
        const FmtFn* f = FmtOf(ts[typ].Code);
        sav.Typ = typ;
        sav.FileI = dst.FileI = path("u");
        if (!f->save)
            QCOMPARE(SaveDatFile(&dat, &dst, &sav, AnaStr{}, false, 0, &res), ST_UNSUPP);
        else if (!f->appendLoad)
            QCOMPARE(SaveDatFile(&dat, &dst, &sav, AnaStr{}, true, 0, &res), ST_UNSUPP);
    }
    FreeArr(&dat);
}

QTEST_GUILESS_MAIN(TstCore)
#include "tst_core.moc"
