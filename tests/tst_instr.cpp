// The instrument library on two VISA libraries: a stub (loader, failing
// I/O, REN, the window's fatal start-up), then Orvex's own library talking
// to the instrument simulator over a socket (replies, Init of every type).
// The type table is read against its own labels.
#include "app/mainwindow.h"
#include "instrument/anaini.h"
#include "instrument/devtable.h"
#include "instrument/hvvisa.h"
#include "guitest.h"
#include "testutil.h"

namespace {

int unfilledPointers()
{
#define P(name) reinterpret_cast<void*>(p_vi##name)
    const void* p[] = {P(OpenDefaultRM), P(FindRsrc), P(FindNext), P(StatusDesc), P(Open), P(Write), P(Read),
                       P(Queryf_s), P(Queryf_f), P(Queryf_i), P(Printf), P(Scanf_s), P(Scanf_f), P(ReadToFile),
                       P(Clear), P(Close), P(SetAttribute), P(GetAttribute), P(SetBuf), P(ReadSTB), P(GpibControlREN)};
    return int(std::count(std::begin(p), std::end(p), nullptr));
}

const char* const kNames[AG_COUNT] = {"Alder", "Birch", "Cedar", "Dogwood", "Hazel", "Juniper", "Ginkgo", "Kapok",
                                      "Larch", "Maple", "Oak", "Pine", "Rowan", "Spruce", "Tamarack", "Wattle",
                                      "Yew", "Zelkova"};
// Bits of the flag masks: Ginkgo A, C, D, E, then Pine A, B.
bool* const kFlags[] = {&GinkgoOptA, &GinkgoOptC, &GinkgoOptD, &GinkgoOptE, &PineOptA, &PineOptB};

template <size_t N, typename V, typename F>
void checkList(const char* what, int count, const std::array<QString, N>& txt, const std::array<V, N>& val, F expect)
{
    for (size_t k = 0; k < N; ++k)
        QVERIFY2(size_t(count) <= N && (k < size_t(count) ? !txt[k].isEmpty() && val[k] == expect(txt[k])
                                                          : txt[k].isEmpty() && val[k] == V()),
                 qPrintable(QString(what) + ' ' + txt[k]));
}

// A simulator process; it ends with its input.
struct Sim : QProcess { ~Sim() override { closeWriteChannel(), waitForFinished(10000); } };

// Starts a simulator on a free loopback port; returns its resource string.
QString startSim(Sim* p, const QStringList& args, const QString& log)
{
    p->start(QStringLiteral(ORVEX_SIM), args + QStringList{"--socket", "0", "--log", log, "--stdin-exit"});
    QByteArray out;
    while (!out.contains("ready\n") && p->waitForReadyRead(10000))
        out += p->readAllStandardOutput();
    return "TCPIP::127.0.0.1::" + QString(out).section("socket 127.0.0.1:", 1).section('\n', 0, 0) + "::SOCKET";
}

} // namespace

class InstrTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    unsigned rm = 0;
    int* stub(const char* name) { return reinterpret_cast<int*>(QLibrary(QStringLiteral(STUB_FULL)).resolve(name)); }

private slots:
    // The stub library; in order, since the pointers are one table for the
    // whole process.
    void stubLibrary()
    {
        const QString none = QStringLiteral("/nonexistent/libvisa.so"), tmp = QDir::tempPath();
        const std::tuple<QStringList, bool, int> rows[] = {{{none, tmp, "libnonexistent-visa.so.0"}, false, 21},
                                                           {{none, STUB_NO_QUERYF, STUB_FULL}, false, 14},   // to viRead
                                                           {{__FILE__, STUB_FULL}, false, 14},
                                                           {{none, tmp, STUB_FULL}, true, 1}};
        QCOMPARE(hvOpenDefaultRM(&rm), VI_ERROR_LIBRARY_NFOUND);   // not loaded: no jump through null
        for (const auto& [candidates, ok, unfilled] : rows) {
            QCOMPARE(hvVisaDll_InitFrom(candidates), ok);
            QCOMPARE(unfilledPointers(), unfilled);
        }
        QVERIFY(!p_viScanf_s && p_viQueryf_f == p_viQueryf_s && p_viQueryf_i == p_viQueryf_s);
        // The stub fails every write: the query reads nothing after it and assigns nothing.
        QString s = "old";
        double d = -1;
        QVERIFY(hvQueryf_s(2, "*IDN?\n", &s) == VI_ERROR_TMO && hvQueryf_f(2, "BWID?\n", &d) == VI_ERROR_TMO);
        QVERIFY(s == "old" && d == -1 && *stub("stubReads") == 0);
        QCOMPARE([] { AnaStr a; a.DevTyp = AG_COUNT; return AnaIni(&a); }(), VI_ERROR_INV_PARAMETER);
        // Back to local: GPIB by the REN line, LAN by a write, nothing else.
        const std::tuple<QString, ViStatus, int, int> locals[] = {   // status, writes, REN mode
            {"GPIB0::5::INSTR", VI_ERROR_NSUP_OPER, 0, 6}, {"gpib1::5::INSTR", VI_ERROR_NSUP_OPER, 0, 6},
            {"tcpip0::127.0.0.1::inst0::INSTR", VI_ERROR_TMO, 1, -1}, {"USB0::1::2::3::INSTR", 0, 0, -1}};
        for (const auto& [rsrc, status, writes, ren] : locals) {
            *stub("stubWrites") = 0;
            *stub("stubRen") = -1;
            AnaStr a;
            a.RsrcStr = rsrc;
            QVERIFY2(DevLocal(a) == status && *stub("stubWrites") == writes && *stub("stubRen") == ren, qPrintable(rsrc));
        }
    }

    void fatalStart()
    {
        qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
        const std::tuple<QString, ViStatus, int, QString> rows[] = {
            {"/nonexistent/liborvexvisa.so", 0, 1, "VISA driver!|VISA driver not installed. Program quits."},
            {STUB_FULL, VI_ERROR_SYSTEM_ERROR, 1, "VISA Error!|Please install VISA Runtime driver. Program quits."},
            {STUB_FULL, 0x3FFF0077, 0, "|"},   // configuration not loaded: a warning, no failure
            {STUB_FULL, 0, 0, "|"}};
        for (const auto& [lib, rmStatus, exitCode, shown] : rows) {
            QProcess p;
            p.start(QCoreApplication::applicationFilePath(), {"--start", lib, QString::number(rmStatus)});
            QVERIFY(p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit);
            QCOMPARE(QString(p.readAllStandardOutput()), shown);
            QCOMPARE(p.exitCode(), exitCode);
        }
    }

    void tables()
    {
        // The number at the start of a reply.
        const std::tuple<QByteArray, double, int> replies[] = {
            {"1.5E6\n", 1.5e6, 1}, {"abc", 0, 0},   {"+12,3", 12, 12}, {"-.5e-3x", -0.0005, 0}, {"7e;", 7, 7},
            {"+-3", 0, 0},         {" 42\n", 42, 42}, {"1.", 1, 1},    {".", 0, 0},            {"", 0, 0},
            {"99999999999", 99999999999.0, 0}};   // beyond int: none
        for (const auto& [text, real, whole] : replies)
            QVERIFY2(hvLeadingDouble(text, size_t(text.size())) == real && hvLeadingInt(text, size_t(text.size())) == whole, text);
        // The type table against its own labels.
        const auto number = [](const QString& t) {   // "15.625k" is 15625
            const double scale = t.endsWith('k') ? 1e3 : t.endsWith('M') ? 1e6 : 1;
            return t.left(t.size() - (scale > 1)).toDouble() * scale;
        };
        const auto word = [](const QString& t) { return t.left(t.indexOf(QRegularExpression("[a-z]"))); };
        const auto code = [](const QString& t) { return QStringList{"RF", "AIQ", "DIQ"}.indexOf(t); };
        for (int i = 0; i < AG_COUNT; ++i) {
            const DevStr& d = ag[i];
            QCOMPARE(d.Name, QString(kNames[i]));
            checkList("bandwidth", d.RbwCnt, d.RbwTxt, d.RbwVal, number);
            checkList("sample rate", d.SRateCnt, d.SRateTxt, d.SRateVal, number);
            checkList("trigger", d.TrgCnt, d.TrgTxt, d.TrgScpi, word);
            checkList("slope", d.SlpCnt, d.SlpTxt, d.SlpScpi, word);
            checkList("input", d.InpCnt, d.InpTxt, d.InpVal, code);
            // A list replaces the free range; Yew keeps a range beside its one rate.
            for (auto [count, min, max] : {std::tuple{d.RbwCnt, d.RbwMin, d.RbwMax},
                                           std::tuple{d.SRateCnt, d.SRateMin, d.SRateMax}})
                QVERIFY2(count ? (min == 0 && max == 0) || d.Name == "Yew" : 0 < min && min < max, kNames[i]);
            QVERIFY(d.TrgCnt && d.SlpCnt && d.InpCnt && d.PreTrgMin <= 0 && uint64_t(d.PreTrgMax) < d.MaxCnt);
        }
    }

    // Orvex's library on the simulator: replies at the buffer sizes, then
    // Init of every type: what the instrument receives, what Init keeps, the
    // option flags it sets and those it leaves alone.
    void simulator()
    {
        if (!*ORVEX_SIM || !*ORVEX_VISA_LIB)
            QSKIP("the simulator or Orvex's VISA library is not part of this build");
        QVERIFY(hvVisaDll_InitFrom({QStringLiteral(ORVEX_VISA_LIB)}) && hvOpenDefaultRM(&rm) == VI_SUCCESS);
        Sim sim;
        unsigned vi = 0;
        double d = -1;
        QString s;
        QCOMPARE(hvOpen(rm, startSim(&sim, {}, dir.filePath("replies")), 0, 10000, &vi), VI_SUCCESS);
        // 100 bytes fit a number, 20000 a text; the rest of a longer reply
        // is not assigned and comes with the next read.
        QVERIFY(hvQueryf_f(vi, "SIM:TEXT? 99\n", &d) == 0 && d == 0);   // letters: no number, 0
        QVERIFY(hvQueryf_f(vi, "SIM:TEXT? 100\n", &(d = -1)) == VI_SUCCESS_MAX_CNT && d == -1);
        QVERIFY(hvScanf_s(vi, &s) == 0 && s == "\n");
        QVERIFY(hvQueryf_s(vi, "SIM:TEXT? 19999\n", &s) == 0 && s.size() == 20000 && s.endsWith("BCDE\n"));
        QVERIFY(hvQueryf_s(vi, "SIM:TEXT? 20000\n", &s) == VI_SUCCESS_MAX_CNT && s.endsWith("BCDE\n"));
        QVERIFY(hvScanf_s(vi, &s) == 0 && s == "\n");

        const QString cls = "*CLS;*OPC?\\n", idn = "*IDN?\\n", opt = "*OPT?\\n", gtl = "&GTL\\n",
                      san = "INST SAN;*OPC?\\n", dbm = "UNIT:POW DBM;*OPC?\\n", bwid = "BWID?\\n", sync = "*OPC?\\n";
        const QMap<QString, QStringList> extra{{"Cedar", {san, dbm}},      {"Hazel", {san, dbm}},  {"Juniper", {san, dbm}},
                                               {"Maple", {san, dbm}},      {"Kapok", {bwid}},      {"Pine", {bwid, opt, opt}},
                                               {"Rowan", {bwid, opt, opt}}, {"Ginkgo", {opt, opt, opt, opt}}};
        // Type, simulator options, reset, flags before, status, messages, flags after.
        using Row = std::tuple<int, QStringList, bool, int, ViStatus, QStringList, int>;
        std::vector<Row> rows;
        for (const QString n : kNames)
            rows.push_back({int(rows.size()), {}, false, 0, 0, (n == "Yew" ? QStringList{idn} : QStringList{cls, idn} + extra[n]) << gtl << sync,
                            n == "Ginkgo" ? 0b001111 : n == "Pine" || n == "Rowan" ? 0b110000 : 0});
        rows.insert(rows.end(), {
            {1, {}, true, 0, 0, {"*RST;*OPC?\\n", cls, idn, gtl, sync}, 0},   // Birch
            {6, {"--opt", "OPT-A12,OPT-E"}, false, 0b110000, 0, {cls, idn, opt, opt, opt, opt, gtl, sync}, 0b111001},   // a prefix counts
            {12, {"--opt", "OPT-B"}, false, 0b011111, 0, {cls, idn, bwid, opt, opt, gtl, sync}, 0b101111},          // Rowan
            {11, {"--opt", "opt-a,opt-b"}, false, 0b110000, 0, {cls, idn, bwid, opt, opt, gtl, sync}, 0},           // Pine
            // Silent: one time-out, then the options count as absent unasked.
            {6, {"--stall"}, false, 0b111111, VI_ERROR_TMO, {cls}, 0b110000}});
        for (const auto& [type, simArgs, reset, before, status, sent, after] : rows) {
            Sim p;
            const QString log = dir.filePath(QString::number(type) + simArgs.join(' ') + QString::number(reset));
            AnaStr a;
            a.RsrcStr = startSim(&p, QStringList{"--type", QString::number(type)} + simArgs, log);
            a.DevTyp = type;
            a.Rm = rm;
            a.Rst = reset;
            a.Rbw = 123;
            for (int k = 0; k < 6; ++k)
                *kFlags[k] = (before >> k) & 1;
            const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
            QCOMPARE(AnaIni(&a), status);
            const qint64 ms = QDateTime::currentMSecsSinceEpoch() - t0;   // a silent one waits out 5 s once
            QVERIFY(ms < 9000 && (status != VI_ERROR_TMO || ms >= 4500));
            // "&GTL" has no reply: a query after it shows that it arrived.
            QVERIFY(status ? a.Vi == 0 : hvQueryf_s(a.Vi, "*OPC?\n", &s) == 0);
            QCOMPARE(QString::fromLatin1(testutil::readFile(log)).split('\n', Qt::SkipEmptyParts), sent);
            QCOMPARE(a.DevId, status ? "" : "Halvard," + QString(kNames[type]) + ",100001/001,1.0\n");
            QCOMPARE(a.Rbw, sent.contains(bwid) ? 1e6 : 123.0);
            for (int k = 0; k < 6; ++k)
                QVERIFY2(*kFlags[k] == ((after >> k) & 1), qPrintable(QStringLiteral("%1 flag %2").arg(kNames[type]).arg(k)));
        }
    }
};

int main(int argc, char** argv)
{
    // The window on the VISA library of argument 2, whose resource manager
    // opens with the status of argument 3; a fatal start ends the process in
    // the constructor, after the one box it shows. A harness that ends in
    // exit(): what it allocates is not what the test looks at.
    if (argc == 4 && qstrcmp(argv[1], "--start") == 0) {
        ORVEX_LSAN_OFF;
        QApplication app(argc, argv);
        static FakePrompts ask;
        SetPrompts(&ask);
        std::atexit([] { std::printf("%s", qPrintable(ask.boxes.value(0).title + '|' + ask.boxes.value(0).text)); });
        MainWindow::visaLoader = [] {
            return hvVisaDll_InitFrom({qApp->arguments().at(2)}) && (p_viOpenDefaultRM = [](ViSession* rm) {
                       return *rm = 1, ViStatus(qApp->arguments().at(3).toInt());
                   });
        };
        return MainWindow(), 0;
    }
    QCoreApplication app(argc, argv);
    InstrTest tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_instr.moc"
