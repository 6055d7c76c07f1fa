// orvex-cli serve end to end: a real process, a real loopback client. The
// wire format itself is tested against the server class; here only what the
// command line feeds it.
#include "formats/binary.h"
#include "remoteutil.h"

#include <QProcess>
#include <QTemporaryDir>
#include <signal.h>

using namespace remoteutil;

namespace {

// A running "orvex-cli serve"; killed if still running when it goes out of scope.
class Serve {
public:
    explicit Serve(const QStringList& args) { p.start(QStringLiteral(ORVEX_CLI), QStringList{"serve"} + args); }
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
    int stop(int signal)
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
    QTcpServer taken;
    testutil::Rec rec{8000, 7};
    QString file() const { return dir.filePath("in.iqw"); }

private slots:
    void initTestCase()
    {
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        QCOMPARE(SaveIQW(rec.r, file()), ST_OK);
    }

    void servesTheLoadedFile()
    {
        const testutil::Vf i(rec->I, rec->I + 8000), q(rec->Q, rec->Q + 8000);
        for (auto [connectTo, signal] : {std::pair{1, SIGTERM}, std::pair{0, SIGINT}}) {
            const quint16 port = freePort();
            Serve s({"--from", "18", file(), "--port", QString::number(port), "--connect-to", QString::number(connectTo),
                     "--clock", "3.84e6"});
            QCOMPARE(s.firstLine(), QString("listening on 127.0.0.1:%1").arg(port));
            Client c(port);
            // As after a successful load: flag set, count and rate of the file.
            QCOMPARE(c.take(24), value(3, 1.0f) + value(1, 8000.0f) + value(0, 3.84e6f));
            const QByteArray sym = symbols(i, q);
            QByteArray want = sym + value(3, 1.0f) + value(0, 3.84e6f) + value(1, 8000.0f) + (connectTo ? sym : "");
            // The length closes the stream: nothing may come between.
            c.send("GetSymbolGetNewStateGetSequenceLength");
            want += value(1, 8000.0f);
            QVERIFY(c.take(want.size()) == want);
            // Exactly one line on stdout.
            QCOMPARE(s.stop(signal), 0);
            QCOMPARE(s.p.readAllStandardOutput(), QByteArray());
        }
    }

    void failures()
    {
        const QString port = QString::number(taken.serverPort()), range = "--port takes a whole number from 0 to 65535";
        const struct { QStringList args; int code; QString message; } rows[] = {
            {{"--from", "18", file(), "--port", port}, 1, "cannot listen on 127.0.0.1:" + port},
            {{"--from", "18", dir.filePath("missing.iqw"), "--port", "0"}, 1, "File Load Error."},
            {{"--from", "18", "x.iqw", "--port", "65536"}, 2, range},
            {{"--from", "18", "x.iqw", "--port", "abc"}, 2, range},
            {{"--from", "18", "x.iqw", "--connect-to", "2"}, 2, "--connect-to takes 0 or 1"},
            {{"--from", "18"}, 2, "--from needs a TYPE and a file"},
            {{"--from", "18", "x.iqw", "--json"}, 2, "unknown option --json"},
        };
        for (const auto& row : rows) {
            Serve s(row.args);
            QVERIFY(s.p.waitForFinished(30000));
            const QString err = QString::fromLocal8Bit(s.p.readAllStandardError());
            QVERIFY2(s.p.exitCode() == row.code && err.contains(row.message), qPrintable(err));
            QCOMPARE(s.p.readAllStandardOutput(), QByteArray());
        }
    }
};

QTEST_GUILESS_MAIN(TstServe)
#include "tst_serve.moc"
