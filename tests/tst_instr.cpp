// The instrument type table read against its own labels, and Init of every
// type against the instrument simulator over a raw socket through Orvex's
// VISA library: the messages the instrument receives, what Init stores,
// the option flags, and a dead instrument.
#include "instrument/anaini.h"
#include "instrument/devtable.h"
#include "instrument/hvvisa.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char* const kNames[AG_COUNT] = {"Alder", "Birch", "Cedar", "Dogwood", "Hazel", "Juniper",
                                      "Ginkgo", "Kapok", "Larch", "Maple", "Oak", "Pine",
                                      "Rowan", "Spruce", "Tamarack", "Wattle", "Yew", "Zelkova"};

bool* const kFlags[] = {&GinkgoOptA, &GinkgoOptC, &GinkgoOptD, &GinkgoOptE, &PineOptA, &PineOptB};

int flags()
{
    int m = 0;
    for (int k = 0; k < 6; ++k)
        m |= *kFlags[k] << k;
    return m;
}

void setFlags(int m)
{
    for (int k = 0; k < 6; ++k)
        *kFlags[k] = (m >> k) & 1;
}

// "15.625k" is 15625, "8M" 8000000.
double labelValue(const QString& t)
{
    const double scale = t.endsWith('k') ? 1e3 : t.endsWith('M') ? 1e6 : 1;
    return t.left(t.size() - (scale > 1)).toDouble() * scale;
}

template <size_t N, typename V, typename F>
void checkList(const char* what, int count, const std::array<QString, N>& txt, const std::array<V, N>& val, F expect)
{
    QVERIFY2(count >= 0 && size_t(count) <= N, what);
    for (size_t k = 0; k < N; ++k) {
        const bool listed = k < size_t(count);
        QVERIFY2(txt[k].isEmpty() != listed, what);
        QVERIFY2(listed ? val[k] == expect(txt[k]) : val[k] == V(), qPrintable(QString(what) + ' ' + txt[k]));
    }
}

// A simulator process on a free loopback port, ended with its input.
struct Sim {
    QProcess p;
    QString log;
    QString rsrc;
    Sim(const QStringList& args, const QString& logPath) : log(logPath)
    {
        p.start(QStringLiteral(ORVEX_SIM), args + QStringList{"--socket", "0", "--log", log, "--stdin-exit"});
        QByteArray out;
        while (!out.contains("ready\n") && p.waitForReadyRead(10000))
            out += p.readAllStandardOutput();
        const auto m = QRegularExpression(QStringLiteral("socket 127\\.0\\.0\\.1:(\\d+)")).match(QString(out));
        if (m.hasMatch())
            rsrc = QStringLiteral("TCPIP::127.0.0.1::%1::SOCKET").arg(m.captured(1));
    }
    ~Sim()
    {
        p.closeWriteChannel();
        if (!p.waitForFinished(10000))
            p.kill();
        p.waitForFinished();
    }
    QStringList messages() const
    {
        QFile f(log);
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts)
                                           : QStringList();
    }
};

} // namespace

class InstrTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    unsigned rm = 0;

    // Init of a fresh record of the given type on a simulator of that type.
    ViStatus initOn(Sim& sim, AnaStr* a, const char* name)
    {
        a->DevTyp = int32_t(std::find(std::begin(kNames), std::end(kNames), QByteArray(name)) - std::begin(kNames));
        a->Rm = rm;
        a->RsrcStr = sim.rsrc;
        a->Rbw = 123;
        const ViStatus st = AnaIni(a);
        if (a->Vi)
            hvClose(a->Vi);
        return st;
    }
    QStringList simArgs(const char* name, const QString& opt = QString())
    {
        QStringList args{"--type", name};
        return opt.isEmpty() ? args : args << "--opt" << opt;
    }

private slots:
    void table()
    {
        for (int i = 0; i < AG_COUNT; ++i) {
            const DevStr& d = ag[i];
            QCOMPARE(d.Name, QString(kNames[i]));
            checkList("bandwidth", d.RbwCnt, d.RbwTxt, d.RbwVal, labelValue);
            checkList("sample rate", d.SRateCnt, d.SRateTxt, d.SRateVal, labelValue);
            // The word sent is the long form's capitals and digits.
            const auto word = [](const QString& t) { return t.left(t.indexOf(QRegularExpression("[a-z]"))); };
            checkList("trigger", d.TrgCnt, d.TrgTxt, d.TrgScpi, word);
            checkList("slope", d.SlpCnt, d.SlpTxt, d.SlpScpi, word);
            const QStringList inputs{"RF", "AIQ", "DIQ"};
            checkList("input", d.InpCnt, d.InpTxt, d.InpVal, [&](const QString& t) { return inputs.indexOf(t); });
            QVERIFY(d.TrgCnt >= 1 && d.SlpCnt >= 1 && d.InpCnt >= 1);
            // A list replaces the free range; Yew keeps a range beside its one rate.
            for (auto [count, min, max] : {std::tuple{d.RbwCnt, d.RbwMin, d.RbwMax},
                                           std::tuple{d.SRateCnt, d.SRateMin, d.SRateMax}})
                QVERIFY2(count ? (min == 0 && max == 0) || d.Name == "Yew" : 0 < min && min < max, kNames[i]);
            QVERIFY(d.PreTrgMin <= 0 && 0 <= d.PreTrgMax && uint64_t(d.PreTrgMax) < d.MaxCnt);
        }
    }

    void initTestCase()
    {
        QVERIFY(dir.isValid());
        if (*ORVEX_SIM && *ORVEX_VISA_LIB) {
            QVERIFY(hvVisaDll_InitFrom({QStringLiteral(ORVEX_VISA_LIB)}));
            QCOMPARE(hvOpenDefaultRM(&rm), VI_SUCCESS);
        }
    }
    void init()
    {
        if (!rm && QByteArray(QTest::currentTestFunction()) != "table")
            QSKIP("the simulator or Orvex's VISA library is not part of this build");
    }
    void cleanupTestCase()
    {
        if (rm)
            hvClose(rm);
    }

    void messages_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QStringList>("sent");
        const QString cls = "*CLS;*OPC?\\n", idn = "*IDN?\\n", opt = "*OPT?\\n", gtl = "&GTL\\n",
                      san = "INST SAN;*OPC?\\n", dbm = "UNIT:POW DBM;*OPC?\\n", bwid = "BWID?\\n";
        const QMap<QString, QStringList> extra{
            {"Cedar", {san, dbm}}, {"Hazel", {san, dbm}},        {"Juniper", {san, dbm}},      {"Maple", {san, dbm}},
            {"Kapok", {bwid}},     {"Pine", {bwid, opt, opt}},   {"Rowan", {bwid, opt, opt}},  {"Ginkgo", {opt, opt, opt, opt}}};
        for (const char* n : kNames)
            QTest::newRow(n) << n << false << (qstrcmp(n, "Yew") == 0 ? QStringList{idn} : QStringList{cls, idn} + extra[n]) + QStringList{gtl};
        QTest::newRow("Birch, reset") << "Birch" << true << QStringList{"*RST;*OPC?\\n", cls, idn, gtl};
        QTest::newRow("Yew, reset") << "Yew" << true << QStringList{idn, gtl};
    }
    void messages()
    {
        QFETCH(QString, name);
        QFETCH(bool, reset);
        QFETCH(QStringList, sent);
        Sim sim(simArgs(qPrintable(name)), dir.filePath(name + QString::number(reset)));
        QVERIFY(!sim.rsrc.isEmpty());
        setFlags(0);
        AnaStr a;
        a.Rst = reset;
        QCOMPARE(initOn(sim, &a, qPrintable(name)), VI_SUCCESS);
        QCOMPARE(sim.messages(), sent);
        QCOMPARE(a.DevId, "Halvard," + name + ",100001/001,1.0\n");
        QCOMPARE(a.Rbw, sent.contains("BWID?\\n") ? 1e6 : 123.0);
        QCOMPARE(flags(), name == "Ginkgo" ? 0b001111 : name == "Pine" || name == "Rowan" ? 0b110000 : 0);
    }

    // Bits: Ginkgo A, C, D, E, then Pine A, B.
    void options_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("opt");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("code as prefix") << "Ginkgo" << "OPT-A12,OPT-E" << 0b110000 << 0b111001;
        QTest::newRow("none") << "Ginkgo" << "0" << 0b111111 << 0b110000;
        QTest::newRow("second only") << "Rowan" << "OPT-B" << 0b011111 << 0b101111;
        QTest::newRow("case counts") << "Pine" << "opt-a,opt-b" << 0b110000 << 0;
        QTest::newRow("other type") << "Birch" << "OPT-A,OPT-B,OPT-C,OPT-D,OPT-E" << 0b010101 << 0b010101;
    }
    void options()
    {
        QFETCH(QString, name);
        QFETCH(QString, opt);
        QFETCH(int, before);
        QFETCH(int, after);
        Sim sim(simArgs(qPrintable(name), opt), dir.filePath("opt" + name + opt));
        setFlags(before);
        AnaStr a;
        QCOMPARE(initOn(sim, &a, qPrintable(name)), VI_SUCCESS);
        QCOMPARE(flags(), after);
    }

    // A silent instrument fails after one time-out, with no option asked.
    void deadInstrument()
    {
        Sim sim(simArgs("Ginkgo") << "--stall", dir.filePath("stall"));
        setFlags(0b111111);
        AnaStr a;
        QElapsedTimer t;
        t.start();
        QCOMPARE(initOn(sim, &a, "Ginkgo"), VI_ERROR_TMO);
        QVERIFY2(t.elapsed() >= 4500 && t.elapsed() < 9000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(a.Vi, 0u);
        QCOMPARE(flags(), 0b110000);
        QCOMPARE(sim.messages(), QStringList{"*CLS;*OPC?\\n"});
    }
};

QTEST_GUILESS_MAIN(InstrTest)
#include "tst_instr.moc"
