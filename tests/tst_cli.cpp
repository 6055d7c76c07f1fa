// orvex-cli end to end: exit codes, messages and the files it writes; serve
// with a real loopback client. The wire format itself is tested against the
// server class; here only what the command line feeds it.
#include "formats/binary.h"
#include "remoteutil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <signal.h>

using namespace testutil;
using namespace remoteutil;

namespace {

struct Run {
    int code;
    QString out, err;
};

Run cli(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(ORVEX_CLI), args);
    if (!p.waitForFinished(60000))
        return {-1, {}, QStringLiteral("timed out")};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

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

class TstCli : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QTcpServer taken;
    Rec rec{8000, 7};
    QString path(const QString& n) const { return dir.filePath(n); }
    QString file() const { return dir.filePath("serve.iqw"); }

private slots:
    void initTestCase()
    {
        Rec r(5);
        QVERIFY(SaveIQW(r.r, path("in.iqw")) == ST_OK && SaveIBN(r.r, path("in.ibn")) == ST_OK);
        QVERIFY(SaveIQW(rec.r, file()) == ST_OK && taken.listen(QHostAddress::LocalHost, 0));
    }

    void usageErrors()
    {
        const struct { QStringList args; const char* says; } rows[] = {
            {{}, "usage"},
            {{"frobnicate"}, "unknown command"},
            {{"info", "--from", "nosuch", "x"}, "unknown"},
            {{"info", "--from", "wfm", "a", "b"}, "TDS 5000/6000/7000"},   // an ambiguous extension
            {{"info", "--from", "33", "x"}, "outside 0..32"},
            {{"info", "--from", "AWG 2000 Series", "a"}, "two files"},
            {{"info", "--from", "ibn", "a", "b"}, "one file"},
            {{"convert", "--from", "18", "a", "--to", "18", "b", "--guard", "100"}, "--guard"},
            {{"info", "--from", "18", "a", "--bogus"}, "--bogus"},
            {{"info", "--from", "18", "a", "--clock"}, "needs a value"},
            {{"info", "--from", "18", "a", "--clock", "fast"}, "number"},
            {{"convert", "--from", "18", "a"}, "--to"},
            {{"trace", "--device", "0"}, "not available yet"},
            {{"copy", "--from", "wv", "a", "--to", "WAV mixed"}, "--to needs a TYPE and one file"},
            {{"copy", "--from", "wv", "a"}, "--to needs a TYPE and one file"},
            {{"copy", "--from", "wv", "a", "--to", "wv", "b", "--append"}, "unknown option --append"},
        };
        for (const auto& row : rows) {
            const Run r = cli(row.args);
            QVERIFY2(r.code == 2 && r.err.contains(row.says), qPrintable(row.args.join(' ') + ": " + r.err));
        }
    }

    void types()
    {
        const Run r = cli({"types"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains("load types:") && r.out.contains("save types:"));
        QVERIFY(r.out.count("Wavesmith") == 2 && r.out.count("TDS 5000/6000/7000") == 1);
        QCOMPARE(r.out.split('\n', Qt::SkipEmptyParts).size(), 2 + 33 + 26);
    }

    void loadFailuresCarryTheWindowsMessage()
    {
        Run r = cli({"info", "--from", "18", path("missing.iqw")});
        QVERIFY2(r.code == 1 && r.err.contains("File Load Error.") && r.err.contains("status -1"), qPrintable(r.err));
        r = cli({"info", "--from", "Wavesmith", path("in.ibn")});
        QVERIFY2(r.code == 1 && r.err.contains("The file " + path("in.ibn") + " is scrambled. Load aborted."), qPrintable(r.err));
    }

    void convertAndInfo()
    {
        // Display names match case-insensitively; unique extensions name a row.
        Run r = cli({"convert", "--from", "iqw mixed, IQIQIQ....iq", path("in.iqw"), "--to", "sig", path("out.sig"),
                     "--clock", "3e6"});
        QCOMPARE(r.code, 0);
        r = cli({"info", "--from", "12", path("out.sig"), "--json"});
        QCOMPARE(r.code, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.keys(), (QStringList{"center_frequency", "clock", "reflevel", "samples"}));
        // The panel value was written into the file.
        QVERIFY(o["samples"].toDouble() == 5.0 && o["clock"].toDouble() == 3e6);
        r = cli({"info", "--from", "18", path("in.iqw"), "--reflevel", "-7.5"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QString("samples: 5\nclock: 100000000\nreflevel: -7.5\ncenter_frequency: 0\n"));
    }

    void appendAndSaveFailures()
    {
        QVERIFY(QFile::copy(path("in.iqw"), path("app.iqw")));
        Run r = cli({"convert", "--from", "18", path("in.iqw"), "--to", "18", path("app.iqw"), "--append", "--guard", "2"});
        QCOMPARE(r.code, 0);
        QCOMPARE(QFileInfo(path("app.iqw")).size(), qint64((5 + 2 + 5) * 8));
        r = cli({"convert", "--from", "18", path("in.iqw"), "--to", "18", path("nothere.iqw"), "--append"});
        QVERIFY2(r.code == 1 && r.err.contains("Memory too low."), qPrintable(r.err));
        r = cli({"convert", "--from", "18", path("in.iqw"), "--to", "18", path("no/dir/x.iqw")});
        QVERIFY2(r.code == 1 && r.err.contains("File Save Error.") && r.err.contains("status -1"), qPrintable(r.err));
    }

    void twoFileTextType()
    {
        // One output name for a two-file type: the Q file is named after it.
        Run r = cli({"convert", "--from", "18", path("in.iqw"), "--to", "SPW ASCII single", path("t.ascsig"), "--clock", "1e6"});
        QCOMPARE(r.code, 0);
        for (const char* f : {"t.ascsig", "t.q"}) {
            const QList<QByteArray> lines = readFile(path(f)).split('\n');
            QCOMPARE(lines.size(), 12 + 5 + 1 + 1);
            QVERIFY(lines[6] == "Sampling Frequency = 1e+06" && lines[9] == "Number of Points = 5");
        }
        r = cli({"convert", "--from", "SPW ASCII single", path("t.ascsig"), path("t.q"), "--to", "asc", path("t.asc")});
        QCOMPARE(r.code, 0);
        QCOMPARE(readFile(path("t.asc")).count('\n'), 5);
    }

    void servesTheLoadedFile()
    {
        const Vf i(rec->I, rec->I + 8000), q(rec->Q, rec->Q + 8000);
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

    void serveFailures()
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

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
