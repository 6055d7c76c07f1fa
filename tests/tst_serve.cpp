// orvex-cli serve end to end: a real process, a real loopback client.
#include "formats/binary.h"
#include "remoteutil.h"
#include "testutil.h"

#include <QProcess>
#include <csignal>
#include <signal.h>
#include <QTemporaryDir>
#include <QtTest>

using namespace remoteutil;

namespace {

// A running "orvex-cli serve"; ends it with SIGTERM when it goes out of scope.
class Serve {
public:
    explicit Serve(const QStringList& args)
    {
        p.start(QStringLiteral(ORVEX_CLI), QStringList{"serve"} + args);
    }
    ~Serve()
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(10000);
        }
    }
    // The first stdout line, once the process prints it or ends.
    QString firstLine()
    {
        waitFor([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, 30000);
        return QString::fromLocal8Bit(p.readLine()).trimmed();
    }
    // Ends the process the way a service manager would; returns its exit code.
    int stop(int signal = SIGTERM)
    {
        ::kill(pid_t(p.processId()), signal);
        if (!waitFor([&] { return p.state() == QProcess::NotRunning; }, 30000))
            return -1;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    }
    QProcess p;
};

} // namespace

class TstServe : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::vector<float> i, q;
    QString file() const { return dir.filePath("in.iqw"); }

private slots:
    void initTestCase();
    void servesTheLoadedFile_data();
    void servesTheLoadedFile();
    void portTakenExitsOne();
    void loadFailureExitsOne();
    void usageErrors_data();
    void usageErrors();
};

void TstServe::initTestCase()
{
    // 8000 samples: one whole 64000-byte piece and a 4-byte rest.
    IQDatStr r = testutil::makeRec(8000, 7);
    QCOMPARE(SaveIQW(r, file()), ST_OK);
    i.assign(r.I, r.I + r.N);
    q.assign(r.Q, r.Q + r.N);
    FreeArr(&r);
}

void TstServe::servesTheLoadedFile_data()
{
    QTest::addColumn<QString>("connectTo");
    QTest::addColumn<int>("signal");
    QTest::newRow("connect-to 1, SIGTERM") << "1" << int(SIGTERM);
    QTest::newRow("connect-to 0, SIGINT") << "0" << int(SIGINT);
}

void TstServe::servesTheLoadedFile()
{
    QFETCH(QString, connectTo);
    QFETCH(int, signal);
    const quint16 port = freePort();
    Serve s({"--from", "18", file(), "--port", QString::number(port), "--connect-to", connectTo,
             "--clock", "3.84e6"});
    QCOMPARE(s.firstLine(), QString("listening on 127.0.0.1:%1").arg(port));

    Client c(port);
    // As after a successful load: flag set, count and rate of the file.
    QCOMPARE(c.take(24), value(3, 1.0f) + value(1, 8000.0f) + value(0, 3.84e6f));
    c.send("GetServerID");
    QCOMPARE(c.take(100), serverId());
    c.send("GetSymbol");
    const QByteArray sym = symbols(i, q);
    QCOMPARE(sym.size(), 64004);
    QVERIFY(c.take(sym.size()) == sym);
    c.send("GetNewState");
    QByteArray want = value(3, 1.0f) + value(0, 3.84e6f) + value(1, 8000.0f);
    if (connectTo == "1")
        want += sym;
    c.send("getnewstate");   // ignored: nothing between the two answers
    c.send("GetSequenceLength");
    want += value(1, 8000.0f);
    QVERIFY(c.take(want.size()) == want);

    // Exactly one line on stdout.
    QCOMPARE(s.stop(signal), 0);
    QCOMPARE(s.p.readAllStandardOutput(), QByteArray());
}

void TstServe::portTakenExitsOne()
{
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    Serve s({"--from", "18", file(), "--port", QString::number(taken.serverPort())});
    QVERIFY(s.p.waitForFinished(30000));
    QCOMPARE(s.p.exitCode(), 1);
    QCOMPARE(s.p.readAllStandardOutput(), QByteArray());
    const QString err = QString::fromLocal8Bit(s.p.readAllStandardError());
    QVERIFY2(err.contains(QString("cannot listen on 127.0.0.1:%1").arg(taken.serverPort())), qPrintable(err));
}

void TstServe::loadFailureExitsOne()
{
    Serve s({"--from", "18", dir.filePath("missing.iqw"), "--port", QString::number(freePort())});
    QVERIFY(s.p.waitForFinished(30000));
    QCOMPARE(s.p.exitCode(), 1);
    QCOMPARE(s.p.readAllStandardOutput(), QByteArray());
    QVERIFY(QString::fromLocal8Bit(s.p.readAllStandardError()).contains("File Load Error."));
}

void TstServe::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("port too large") << QStringList{"--from", "18", "x.iqw", "--port", "65536"}
                                    << "--port takes a whole number from 0 to 65535";
    QTest::newRow("port not a number") << QStringList{"--from", "18", "x.iqw", "--port", "abc"}
                                       << "--port takes a whole number from 0 to 65535";
    QTest::newRow("connect-to 2") << QStringList{"--from", "18", "x.iqw", "--connect-to", "2"}
                                  << "--connect-to takes 0 or 1";
    QTest::newRow("no file") << QStringList{"--from", "18"} << "--from needs a TYPE and a file";
    QTest::newRow("foreign option") << QStringList{"--from", "18", "x.iqw", "--json"} << "unknown option --json";
}

void TstServe::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    Serve s(args);
    QVERIFY(s.p.waitForFinished(30000));
    QCOMPARE(s.p.exitCode(), 2);
    QVERIFY2(QString::fromLocal8Bit(s.p.readAllStandardError()).contains(message),
             qPrintable(s.p.readAllStandardError()));
}

QTEST_GUILESS_MAIN(TstServe)
#include "tst_serve.moc"
