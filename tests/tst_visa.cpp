// The VISA layer on a stub library: which library the loader takes and what
// it looks up, the wrappers' replies and statuses, the return to local
// control, and the window's two fatal start-up messages.
#include "app/mainwindow.h"
#include "instrument/anaini.h"
#include "instrument/hvvisa.h"
#include "windowtest.h"

#include <QApplication>
#include <QLibrary>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

using StubSet = void (*)(const char*, unsigned, ViStatus, ViStatus);
using StubLog = const char* (*)();

StubSet stubSet = nullptr;
StubLog stubLog = nullptr;

void reply(const QByteArray& b, ViStatus ws = VI_SUCCESS, ViStatus rs = VI_SUCCESS)
{
    stubSet(b.constData(), unsigned(b.size()), ws, rs);
}

int filledPointers()
{
    const void* p[] = {(void*)p_viOpenDefaultRM, (void*)p_viFindRsrc, (void*)p_viFindNext, (void*)p_viStatusDesc,
                       (void*)p_viOpen, (void*)p_viWrite, (void*)p_viRead, (void*)p_viQueryf_s, (void*)p_viQueryf_f,
                       (void*)p_viQueryf_i, (void*)p_viPrintf, (void*)p_viScanf_s, (void*)p_viScanf_f,
                       (void*)p_viReadToFile, (void*)p_viClear, (void*)p_viClose, (void*)p_viSetAttribute,
                       (void*)p_viGetAttribute, (void*)p_viSetBuf, (void*)p_viReadSTB, (void*)p_viGpibControlREN};
    return int(std::count_if(std::begin(p), std::end(p), [](const void* f) { return f != nullptr; }));
}

// Start-up variants of the window, run as child processes because a fatal
// start ends the process.
struct Start {
    const char* name;
    bool (*loader)();
};
const Start kStarts[] = {
    {"none", [] { return hvVisaDll_InitFrom({QStringLiteral("/nonexistent/liborvexvisa.so")}); }},
    {"ok", [] { return hvVisaDll_InitFrom({QStringLiteral(STUB_FULL)}); }},
    {"rm-warning", [] {
         const bool ok = hvVisaDll_InitFrom({QStringLiteral(STUB_FULL)});
         p_viOpenDefaultRM = [](ViSession* rm) { *rm = 1; return ViStatus(0x3FFF0077); };   // config not loaded
         return ok;
     }},
    {"rm-error", [] {
         const bool ok = hvVisaDll_InitFrom({QStringLiteral(STUB_FULL)});
         p_viOpenDefaultRM = [](ViSession*) { return VI_ERROR_SYSTEM_ERROR; };
         return ok;
     }},
};

class PrintingPrompts : public FakePrompts {
    void warning(QWidget*, const QString& t, const QString& x, const QString&) override
    {
        std::printf("%s|%s\n", qPrintable(t), qPrintable(x));
    }
};

} // namespace

class VisaTest : public QObject {
    Q_OBJECT
public:
    static int startWindow(const char* mode)
    {
        PrintingPrompts ask;
        SetPrompts(&ask);
        for (const Start& s : kStarts)
            if (qstrcmp(s.name, mode) == 0)
                MainWindow::visaLoader = s.loader;
        // A fatal start ends inside the constructor with exit code 1.
        MainWindow w;
        return w.ana.Rm == 0 ? 2 : 0;
    }

private slots:
    // Rows run in order against one process-wide pointer table.
    void loader_data()
    {
        QTest::addColumn<QStringList>("candidates");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("filled");
        const QString dir = QDir::tempPath(), none = QStringLiteral("/nonexistent/libvisa.so");
        QTest::newRow("nothing there") << QStringList{none, dir, QStringLiteral("libnonexistent-visa.so.0")} << false << 0;
        QTest::newRow("no viQueryf") << QStringList{none, STUB_NO_QUERYF, STUB_FULL} << false << 7;
        QTest::newRow("present but no library") << QStringList{QStringLiteral(NOT_A_LIBRARY), STUB_FULL} << false << 7;
        QTest::newRow("complete") << QStringList{none, dir, STUB_FULL} << true << 20;
    }
    void loader()
    {
        QFETCH(QStringList, candidates);
        QFETCH(bool, ok);
        QFETCH(int, filled);
        QCOMPARE(hvVisaDll_InitFrom(candidates), ok);
        QCOMPARE(filledPointers(), filled);
        QVERIFY(!p_viScanf_s);
        if (ok) {
            QCOMPARE((void*)p_viQueryf_f, (void*)p_viQueryf_s);
            QCOMPARE((void*)p_viQueryf_i, (void*)p_viQueryf_s);
            QLibrary stub(QStringLiteral(STUB_FULL));
            stubSet = reinterpret_cast<StubSet>(stub.resolve("stubSet"));
            stubLog = reinterpret_cast<StubLog>(stub.resolve("stubLog"));
            QVERIFY(stubSet && stubLog);
        }
    }

    void numbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("status");
        QTest::addColumn<double>("real");
        QTest::addColumn<int>("whole");
        QTest::newRow("exponent") << QByteArray("1.5E6\n") << 0 << 1.5e6 << 1;
        QTest::newRow("no number") << QByteArray("abc") << 0 << 0.0 << 0;
        QTest::newRow("comma stops") << QByteArray("+12,3") << 0 << 12.0 << 12;
        QTest::newRow("point first") << QByteArray("-.5e-3x") << 0 << -0.0005 << 0;
        QTest::newRow("bare exponent mark") << QByteArray("7e;") << 0 << 7.0 << 7;
        QTest::newRow("two signs") << QByteArray("+-3") << 0 << 0.0 << 0;
        QTest::newRow("blank first") << QByteArray(" 42\n") << 0 << 42.0 << 42;
        QTest::newRow("beyond int") << QByteArray("99999999999") << 0 << 99999999999.0 << 0;
        QTest::newRow("empty") << QByteArray() << 0 << 0.0 << 0;
        QTest::newRow("99 bytes") << QByteArray("5").append(QByteArray(98, ' ')) << 0 << 5.0 << 5;
        QTest::newRow("100 bytes") << QByteArray("5").append(QByteArray(99, ' ')) << 0 << 5.0 << 5;
        QTest::newRow("101 bytes") << QByteArray("5").append(QByteArray(100, ' ')) << int(VI_SUCCESS_MAX_CNT) << -1.0 << -1;
    }
    void numbers()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, status);
        QFETCH(double, real);
        QFETCH(int, whole);
        double d = -1;
        int i = -1;
        reply(text);
        QCOMPARE(hvQueryf_f(2, QStringLiteral("BWID?\n"), &d), status);
        reply(text);
        QCOMPARE(hvQueryf_i(2, QStringLiteral("INST:NSEL?\n"), &i), status);
        QCOMPARE(d, real);
        QCOMPARE(i, whole);
        QCOMPARE(QByteArray(stubLog()), QByteArray("W:INST:NSEL?\n|"));
    }

    void text_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("writeStatus");
        QTest::addColumn<int>("readStatus");
        QTest::addColumn<int>("status");
        for (int n : {0, 1, 19999, 20000})
            QTest::addRow("%d bytes", n) << n << 0 << 0 << 0;
        QTest::newRow("20001 bytes") << 20001 << 0 << 0 << int(VI_SUCCESS_MAX_CNT);
        QTest::newRow("write fails") << 5 << int(VI_ERROR_TMO) << 0 << int(VI_ERROR_TMO);
        QTest::newRow("write warns") << 5 << int(VI_WARN_UNKNOWN_STATUS) << 0 << int(VI_WARN_UNKNOWN_STATUS);
        QTest::newRow("read fails") << 5 << 0 << int(VI_ERROR_IO) << int(VI_ERROR_IO);
    }
    void text()
    {
        QFETCH(int, size);
        QFETCH(int, writeStatus);
        QFETCH(int, readStatus);
        QFETCH(int, status);
        QByteArray bytes(size, 'A');
        for (int k = 0; k < size; ++k)
            bytes[k] = char('A' + k % 26);
        reply(bytes, writeStatus, readStatus);
        QString got = QStringLiteral("old");
        QCOMPARE(hvQueryf_s(2, QStringLiteral("SIM:TEXT?\n"), &got), status);
        QCOMPARE(QByteArray(stubLog()), QByteArray("W:SIM:TEXT?\n|"));
        QCOMPARE(got, status == 0 ? QString::fromLatin1(bytes) : QStringLiteral("old"));
        // What a failed query left unread arrives with the next read.
        if (readStatus == 0) {
            const int taken = status == 0 ? size : writeStatus != 0 ? 0 : 20000;
            QCOMPARE(hvScanf_s(2, &got), 0);
            QCOMPARE(got, QString::fromLatin1(bytes.mid(taken)));
        }
    }

    void devLocal_data()
    {
        QTest::addColumn<QString>("rsrc");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("GPIB") << "GPIB0::5::INSTR" << 0 << QByteArray("REN:6|");
        QTest::newRow("gpib, failing") << "gpib0::5::INSTR" << int(VI_ERROR_NSUP_OPER) << QByteArray("REN:6|");
        QTest::newRow("LAN") << "TCPIP::127.0.0.1::5025::SOCKET" << 0 << QByteArray("W:&GTL\n|");
        QTest::newRow("LAN, failing") << "tcpip0::127.0.0.1::inst0::INSTR" << int(VI_ERROR_TMO) << QByteArray("W:&GTL\n|");
        QTest::newRow("HVIB") << "HVIB::1::INSTR" << 0 << QByteArray("W:&GTL\n|");
        QTest::newRow("USB") << "USB0::1::2::3::INSTR" << 0 << QByteArray();
        QTest::newRow("serial") << "ASRL1::INSTR" << 0 << QByteArray();
    }
    void devLocal()
    {
        QFETCH(QString, rsrc);
        QFETCH(int, status);
        QFETCH(QByteArray, sent);
        AnaStr a;
        a.RsrcStr = rsrc;
        a.Vi = 2;
        reply({}, status);
        QCOMPARE(DevLocal(a), sent.isEmpty() ? 0 : status);
        QCOMPARE(QByteArray(stubLog()), sent);
    }

    void fatalStart_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no library") << "none" << 1 << "VISA driver!|VISA driver not installed. Program quits.\n";
        QTest::newRow("no manager") << "rm-error" << 1
                                    << "VISA Error!|Please install VISA Runtime driver. Program quits.\n";
        QTest::newRow("manager with warning") << "rm-warning" << 0 << "";
        QTest::newRow("ready") << "ok" << 0 << "";
    }
    void fatalStart()
    {
        QFETCH(QString, mode);
        QFETCH(int, exitCode);
        QFETCH(QString, shown);
        QTemporaryDir home;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--start"), mode});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(QString::fromLocal8Bit(p.readAllStandardOutput()), shown);
        QCOMPARE(p.exitCode(), exitCode);
        // A fatal start writes no configuration.
        QCOMPARE(QFile::exists(home.filePath(QStringLiteral("Halvard/OrvexMc/Orvex.ini"))), exitCode == 0);
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--start") == 0) {
        QApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("OrvexMc"));
        return VisaTest::startWindow(argv[2]);
    }
    QApplication app(argc, argv);
    VisaTest tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_visa.moc"
