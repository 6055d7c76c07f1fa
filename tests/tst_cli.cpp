// orvex-cli end to end: exit codes, messages and the files it writes; serve
// with a real loopback client. The wire format itself is tested against the
// server class; here only what the command line feeds it.
#include "formats/binary.h"
#include "formats/wav.h"
#include "remoteutil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Writes bytes into a FIFO as soon as p has opened it for reading; false
// when p ended first.
bool feed(const QString& fifo, const QByteArray& bytes, const QProcess& p)
{
    int fd = -1;
    waitFor([&] { return (fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK)) >= 0
                         || p.state() == QProcess::NotRunning; }, 30000);
    if (fd < 0)
        return false;
    ::fcntl(fd, F_SETFL, 0);
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    return ok;
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

class TstCli : public FileTest {
    Q_OBJECT
    QTcpServer taken;
    Rec rec{8000, 7};
    QString file() const { return dir.filePath("serve.iqw"); }

private slots:
    void initTestCase()
    {
        Rec r(5);
        QVERIFY(SaveIQW(r.r, path("in.iqw")) == ST_OK && SaveIBN(r.r, path("in.ibn")) == ST_OK && SaveWav(r.r, path("in.wav")) == ST_OK);
        QVERIFY(SaveIQW(rec.r, file()) == ST_OK && taken.listen(QHostAddress::LocalHost, 0));
    }

    // Exit codes (2 for usage errors, 1 for failures) and what is said on
    // stderr: the window's messages with the status, for serve too.
    void exitCodesAndMessages()
    {
        const QString in = path("in.iqw"), taken = QString::number(this->taken.serverPort()),
                      range = "--port takes a whole number from 0 to 65535";
        const struct { QStringList args; int code; QString says; } rows[] = {
            {{}, 2, "usage"},
            {{"frobnicate"}, 2, "unknown command"},
            {{"info", "--from", "nosuch", "x"}, 2, "unknown"},
            {{"info", "--from", "wfm", "a", "b"}, 2, "TDS 5000/6000/7000"},   // an ambiguous extension
            {{"info", "--from", "33", "x"}, 2, "outside 0..32"},
            {{"info", "--from", "AWG 2000 Series", "a"}, 2, "two files"},
            {{"info", "--from", "ibn", "a", "b"}, 2, "one file"},
            {{"convert", "--from", "18", "a", "--to", "18", "b", "--guard", "100"}, 2, "--guard"},
            {{"info", "--from", "18", "a", "--bogus"}, 2, "--bogus"},
            {{"info", "--from", "18", "a", "--clock"}, 2, "needs a value"},
            {{"info", "--from", "18", "a", "--clock", "fast"}, 2, "number"},
            {{"convert", "--from", "18", "a"}, 2, "--to"},
            {{"trace", "--device", "0"}, 2, "--resource are required"},
            {{"dir", "--device", "Fir", "--resource", "x", "/"}, 2, "unknown instrument type"},
            {{"copy", "--from", "wv", "a", "--to", "WAV mixed"}, 2, "--to needs a TYPE and one file"},
            {{"copy", "--from", "wv", "a", "--to", "wv", "b", "--append"}, 2, "unknown option --append"},
            {{"serve", "--from", "18", "x.iqw", "--port", "65536"}, 2, range},
            {{"serve", "--from", "18", "x.iqw", "--connect-to", "2"}, 2, "--connect-to takes 0 or 1"},
            {{"serve", "--from", "18"}, 2, "--from needs a TYPE and a file"},
            {{"serve", "--from", "18", "x.iqw", "--json"}, 2, "unknown option --json"},
            {{"info", "--from", "18", in, "--clock", "nan"}, 2, "--clock takes a finite rate above 0 Hz"},
            {{"info", "--from", "18", in, "--clock", "inf"}, 2, "--clock takes a finite rate above 0 Hz"},
            {{"info", "--from", "18", in, "--clock", "0"}, 2, "--clock takes a finite rate above 0 Hz"},
            {{"copy", "--from", "wv", in, "--to", "wv", "x", "--clock", "-1e6"}, 2, "--clock takes a finite rate"},
            {{"info", "--from", "18", in, "--reflevel", "-inf"}, 2, "--reflevel takes a finite level"},
            {{"info", "--from", "18", in, "--reflevel", "NaN"}, 2, "--reflevel takes a finite level"},
            {{"info", "--from", "MathCAD single", "-", "x.q"}, 2, "one-file types only"},
            {{"convert", "--from", "18", in, "--to", "14", "-"}, 2, "one-file types only"},
            {{"copy", "--from", "wv", "x.wv", "--to", "wvd", "-"}, 2, "header file beside its data"},
            {{"info", "--from", "18", path("missing.iqw")}, 1, "File Load Error. (status -1): " + path("missing.iqw") + " cannot be opened: No such file or directory."},
            {{"info", "--from", "Wavesmith", path("in.ibn")}, 1, "The file " + path("in.ibn") + " is scrambled. Load aborted."},
            {{"convert", "--from", "18", in, "--to", "18", path("nothere.iqw"), "--append"}, 1, "Memory too low."},
            {{"convert", "--from", "18", in, "--to", "18", path("no/dir/x.iqw")}, 1, "File Save Error. (status -1)"},
            {{"copy", "--from", "15", path("in.wav"), "--to", "15", "/dev/full"}, 1,
             "File Save Error. (status -1): /dev/full cannot be written: No space left on device."},
            {{"convert", "--from", "18", in, "--to", "18", "/dev/null", "--append"}, 1, "/dev/null is no regular file; append"},
            {{"serve", "--from", "18", file(), "--port", taken}, 1, "cannot listen on 127.0.0.1:" + taken},
            {{"serve", "--from", "18", path("missing.iqw"), "--port", "0"}, 1, "File Load Error."}};
        for (const auto& row : rows) {
            const Run r = cli(row.args);
            QVERIFY2(r.code == row.code && r.err.contains(row.says) && !r.err.contains("QFile") && r.out.isEmpty(), qPrintable(row.args.join(' ') + ": " + r.err));
        }
        // The lists, each row once.
        const Run r = cli({"types"});
        QVERIFY(r.code == 0 && r.out.contains("load types:") && r.out.contains("save types:") && r.out.count("Wavesmith") == 2);
        QCOMPARE(r.out.split('\n', Qt::SkipEmptyParts).size(), 2 + 33 + 26);
    }

    // --version; --help or -h after any command, wherever it stands and
    // whatever else is wrong on the line, prints that command's usage alone
    // and exits 0. The man page names every command and every option the
    // usage texts give.
    void versionAndHelp()
    {
        const Run v = cli({"--version"});
        QVERIFY2(v.code == 0 && QRegularExpression("^orvex-cli \\d+\\.\\d+\\.\\d+\n$").match(v.out).hasMatch(), qPrintable(v.out));
        QFile page(QStringLiteral(ORVEX_MANPAGE));
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QString man = QString::fromUtf8(page.readAll()).remove('\\');   // "\-" is troff's minus
        QStringList commands;
        for (const QString& line : cli({"--help"}).out.split('\n'))
            if (line.startsWith("  orvex-cli ") && line.size() > 12 && line.at(12).isLower())
                commands << line.mid(12).section(' ', 0, 0);
        QCOMPARE(commands.size(), 7);
        for (const QString& c : commands) {
            for (const QStringList& tail : {QStringList{"--help"}, {"-h"}, {"--from", "--help"}, {"--bogus", "-h"}}) {
                const Run r = cli(QStringList{c} + tail);
                QVERIFY2(r.code == 0 && r.err.isEmpty() && r.out.startsWith("usage:\n") && r.out.count("\n  orvex-cli ") == 1
                             && r.out.section('\n', 1, 1).section(' ', 3, 3) == c, qPrintable(c + ": " + r.out + r.err));
            }
            QVERIFY2(man.contains(".B orvex-cli " + c), qPrintable(c));
            for (const QString& word : cli({c, "--help"}).out.split(QRegularExpression("[\\s\\[\\](),.]")))
                QVERIFY2(!word.startsWith("--") || man.contains(word), qPrintable(c + ": " + word));
        }
    }

    // Display names match case-insensitively, unique extensions name a row;
    // the panel's clock goes into the file; info in plain digits and JSON;
    // append with a guard; one output name for a two-file type names the Q
    // file after it; serve, with a real loopback client (the wire format
    // itself is tested against the server class).
    // MAT-files whose tags announce gigabytes are refused from their few
    // hundred bytes before the library allocates; a version 7.3 file is
    // refused as such. Under an address-space cap where one works.
    void hostileMatFilesUnderMemoryCap()
    {
        QByteArray v73 = QByteArray("MATLAB 7.3 MAT-file, Platform: GLNXA64, HDF5 schema 1.00 .").leftJustified(116, ' ');
        v73 += QByteArray(8, 0) + QByteArray("\x00\x02IM", 4);
        v73 += QByteArray(512 - v73.size(), 0) + QByteArray("\x89HDF\r\n\x1a\n", 8) + QByteArray(64, 0);
        QVERIFY(writeFile(path("v73.mat"), v73));
        const QString data = QStringLiteral(ORVEX_TEST_DATA "/hostile/matfile/");
        const struct { QString file; const char* says; } rows[] = {
            {data + "lying-header.mat", "not a MAT-file of version 5"},
            {data + "lying-name-length.mat", "announces 1409286320 bytes"},
            {path("v73.mat"), "version 7.3"},
        };
#if defined(__SANITIZE_ADDRESS__)
        qInfo("AddressSanitizer reserves terabytes of address space: no memory cap in this build");
        const QStringList cap;
#else
        const QStringList cap{"prlimit", QStringLiteral("--as=%1").arg(512 << 20), "--"};
#endif
        for (const auto& row : rows) {
            for (const QStringList& as : {QStringList{"3", row.file}, QStringList{"2", row.file, row.file}}) {
                QProcess p;
                QElapsedTimer t;
                t.start();
                const QStringList args = cap + QStringList{ORVEX_CLI, "info", "--from"} + as;
                p.start(args[0], args.mid(1));
                QVERIFY(p.waitForFinished(60000));
                const QString err = QString::fromLocal8Bit(p.readAllStandardError());
                QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 1 && err.contains(row.file)
                             && err.contains(row.says) && t.elapsed() < 10000,
                         qPrintable(QStringLiteral("%1 ms: %2").arg(t.elapsed()).arg(err)));
            }
        }
    }

    void convertAndInfo()
    {
        const QString in = path("in.iqw");
        QCOMPARE(cli({"convert", "--from", "iqw mixed, IQIQIQ....iq", in, "--to", "sig", path("out.sig"), "--clock", "3e6"}).code, 0);
        Run r = cli({"info", "--from", "12", path("out.sig"), "--json"});
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QVERIFY(r.code == 0 && o["samples"].toDouble() == 5.0 && o["clock"].toDouble() == 3e6 && o.contains("center_frequency"));
        r = cli({"info", "--from", "18", in, "--reflevel", "-7.5"});
        QVERIFY(r.code == 0 && r.out == "samples: 5\nclock: 100000000\nreflevel: -7.5\ncenter_frequency: 0\n");
        QVERIFY(QFile::copy(in, path("app.iqw")));
        QCOMPARE(cli({"convert", "--from", "18", in, "--to", "18", path("app.iqw"), "--append", "--guard", "2"}).code, 0);
        QCOMPARE(QFileInfo(path("app.iqw")).size(), (5 + 2 + 5) * 8);
        QCOMPARE(cli({"convert", "--from", "18", in, "--to", "SPW ASCII single", path("t.ascsig")}).code, 0);
        QCOMPARE(cli({"convert", "--from", "SPW ASCII single", path("t.ascsig"), path("t.q"), "--to", "asc", path("t.asc")}).code, 0);
        QCOMPARE(readFile(path("t.asc")).count('\n'), 5);
        // serve, ended by SIGTERM or SIGINT as a service manager would.
        const Vf i(rec->I, rec->I + 8000), q(rec->Q, rec->Q + 8000);
        for (auto [connectTo, signal] : {std::pair{1, SIGTERM}, std::pair{0, SIGINT}}) {
            const quint16 port = freePort();
            // Lines per connection only on request: nobody may be reading stderr.
            const bool verbose = connectTo == 0;
            Serve s(QStringList{"--from", "18", file(), "--port", QString::number(port), "--connect-to",
                                QString::number(connectTo), "--clock", "3.84e6"}
                    + (verbose ? QStringList{"--verbose"} : QStringList{}));
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
            QCOMPARE(s.p.readAllStandardError().contains("client connected"), verbose);
        }
    }

    // Input that is no regular file: FIFOs for a one-file type, for both
    // files of a two-file type and for a copy (which reads its source
    // twice); a pipe on standard input; standard output as a file. Sizes
    // around the pipe's own buffer of 64 KiB.
    void specialFiles()
    {
        for (uint64_t n : {0, 1, 8191, 8192, 8193, 40000}) {
            Rec r(n, uint32_t(n + 1));
            const QString iqw = path("s.iqw"), wav = path("s.wav");
            QVERIFY(SaveIQW(r.r, iqw) == ST_OK && saveTo(&r.r, TypeIndex(ts, TS_COUNT, "WAV mixed"), wav, {}) == ST_OK);
            QVERIFY(saveTo(&r.r, TypeIndex(ts, TS_COUNT, "MathCAD single"), path("s.i"), path("s.q")) == ST_OK);
            const QString fi = path("f1"), fq = path("f2");
            QFile::remove(fi), QFile::remove(fq);
            QVERIFY(::mkfifo(QFile::encodeName(fi).constData(), 0600) == 0 && ::mkfifo(QFile::encodeName(fq).constData(), 0600) == 0);
            const QString samples = QString("\"samples\":%1").arg(n);
            const struct { QStringList args; QStringList feeds; QString says; } rows[] = {
                {{"info", "--from", "18", fi, "--json"}, {iqw}, samples},
                {{"info", "--from", "MathCAD single", fi, fq, "--json"}, {path("s.i"), path("s.q")}, samples},
                {{"copy", "--from", "WAV mixed", fi, "--to", "WAV mixed", path("c.wav")}, {wav}, ""}};
            for (const auto& row : rows) {
                QProcess p;
                p.start(ORVEX_CLI, row.args);
                for (const QString& f : row.feeds)
                    QVERIFY(feed(f == row.feeds[0] ? fi : fq, readFile(f), p));
                QVERIFY(p.waitForFinished(30000) && p.exitCode() == 0);
                QVERIFY2(QString(p.readAllStandardOutput()).contains(row.says), qPrintable(row.args.join(' ')));
            }
            QCOMPARE(readFile(path("c.wav")), readFile(wav));
            QProcess p;
            p.setStandardOutputFile(path("o.iqw"));
            p.start(ORVEX_CLI, {"convert", "--from", "18", "-", "--to", "18", "-"});
            p.write(readFile(iqw));
            p.closeWriteChannel();
            QVERIFY(p.waitForFinished(30000) && p.exitCode() == 0);
            QCOMPARE(readFile(path("o.iqw")), readFile(iqw));
        }
    }

    // SIGINT and SIGTERM end a command waiting for a FIFO's writer, cleanly:
    // the cancel's exit code, and no temporary or destination file left.
    void signalEndsWaitForInput()
    {
        const QString fifo = path("wait");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        for (int sig : {SIGINT, SIGTERM})
            for (const QStringList& args : {QStringList{"info", "--from", "18", fifo},
                                           QStringList{"copy", "--from", "WAV mixed", fifo, "--to", "WAV mixed", path("never.wav")}}) {
                QTemporaryDir tmp;
                QProcess p;
                QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                env.insert("TMPDIR", tmp.path());
                p.setProcessEnvironment(env);
                p.start(ORVEX_CLI, args);
                // The copy's folder appears once the handlers are in place.
                QVERIFY(waitFor([&] { return !QDir(tmp.path()).isEmpty(); }, 30000));
                ::kill(pid_t(p.processId()), sig);
                QVERIFY(p.waitForFinished(4000));
                QVERIFY(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 1);
                QVERIFY(p.readAllStandardError().contains("Cancelled. (status -3)"));
                QVERIFY(QDir(tmp.path()).isEmpty() && !QFile::exists(path("never.wav")));
            }
    }

    // What a load had to cut or fill is said on stderr; data, exit code and
    // the four JSON keys stay. WAV rates at and above 2^31 Hz stay positive.
    void loadNotices()
    {
        const QByteArray frames = pairs(std::vector<int16_t>(1000, 1), std::vector<int16_t>(1000, -1));
        QByteArray cut = wav(2, 16, 48000, frames);
        cut.replace(cut.size() - frames.size() - 4, 4, le(400000));
        QVERIFY(writeFile(path("cut.wav"), cut) && writeFile(path("odd.wav"), wav(2, 16, 8000, frames + "x")));
        QVERIFY(writeFile(path("words.asc"), "1 2\nabc\n0 0\n-0.0e+00 .5\n3\n0x1 0\n"));
        QVERIFY(writeFile(path("odd.iqw"), QByteArray(8 * 3 + 5, '\0')) && writeFile(path("empty.iqw"), ""));
        QCOMPARE(cli({"convert", "--from", "18", path("in.iqw"), "--to", "WAV mixed", path("own.wav")}).code, 0);
        const struct { const char* type; const char* file; int samples; QString says; } rows[] = {
            {"WAV mixed", "cut.wav", 1000, path("cut.wav") + " holds 1000 of 100000 announced frames."},
            {"WAV mixed", "odd.wav", 1000, path("odd.wav") + " ends in 1 byte that does not make a whole sample"},
            {"1", "words.asc", 6, path("words.asc") + ": 3 of 6 lines held no number where one was expected"},
            {"18", "odd.iqw", 3, path("odd.iqw") + " ends in 5 bytes"},
            {"18", "empty.iqw", 0, path("empty.iqw") + " is empty."},
            {"WAV mixed", "own.wav", 5, ""}};   // our own files announce twice their data
        for (const auto& row : rows) {
            const Run r = cli({"info", "--from", row.type, path(row.file), "--json"});
            const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
            QVERIFY2(r.code == 0 && o.size() == 4 && o["samples"].toInt() == row.samples, qPrintable(row.file + r.err));
            QVERIFY2(row.says.isEmpty() ? r.err.isEmpty() : r.err.contains(row.says) && r.err.count('\n') == 1, qPrintable(r.err));
        }
        for (uint32_t rate : {48000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
            QVERIFY(writeFile(path("r.wav"), wav(2, 16, rate, frames)));
            const Run r = cli({"info", "--from", "WAV mixed", path("r.wav"), "--json"});
            QCOMPARE(QJsonDocument::fromJson(r.out.toUtf8()).object()["clock"].toDouble(), double(float(rate)));
        }
    }
};

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
