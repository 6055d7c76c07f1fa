// orvex-cli end to end: exit codes, messages and the files it writes.
#include "formats/binary.h"
#include "testutil.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace testutil;

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
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class TstCli : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& n) const { return dir.filePath(n); }

private slots:
    void initTestCase();
    void usageErrors_data();
    void usageErrors();
    void types();
    void loadFailuresCarryTheWindowsMessage();
    void convertAndInfo();
    void appendWithGuard();
    void saveFailureExitsOne();
    void twoFileTextType();
};

void TstCli::initTestCase()
{
    IQDatStr r = makeRec(5);
    r.Clock = 2.5e6;
    QCOMPARE(SaveIQW(r, path("in.iqw")), ST_OK);
    QCOMPARE(SaveIBN(r, path("in.ibn")), ST_OK);
    FreeArr(&r);
}

void TstCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("says");
    QTest::newRow("no arguments") << QStringList{} << "usage";
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command";
    QTest::newRow("unknown type") << QStringList{"info", "--from", "nosuch", "x"} << "unknown";
    QTest::newRow("ambiguous extension") << QStringList{"info", "--from", "wfm", "a", "b"} << "TDS 5000/6000/7000";
    QTest::newRow("index out of range") << QStringList{"info", "--from", "33", "x"} << "outside 0..32";
    QTest::newRow("two-file type, one file") << QStringList{"info", "--from", "AWG 2000 Series", "a"} << "two files";
    QTest::newRow("one-file type, two files") << QStringList{"info", "--from", "ibn", "a", "b"} << "one file";
    QTest::newRow("guard out of range") << QStringList{"convert", "--from", "18", "a", "--to", "18", "b", "--guard", "100"} << "--guard";
    QTest::newRow("unknown option") << QStringList{"info", "--from", "18", "a", "--bogus"} << "--bogus";
    QTest::newRow("missing value") << QStringList{"info", "--from", "18", "a", "--clock"} << "needs a value";
    QTest::newRow("bad number") << QStringList{"info", "--from", "18", "a", "--clock", "fast"} << "number";
    QTest::newRow("no destination") << QStringList{"convert", "--from", "18", "a"} << "--to";
    QTest::newRow("trace without resource") << QStringList{"trace", "--device", "0"} << "--resource are required";
    QTest::newRow("unknown instrument") << QStringList{"dir", "--device", "Fir", "--resource", "x", "/"} << "unknown instrument type";
}

void TstCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, says);
    Run r = cli(args);
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains(says), qPrintable(r.err));
}

void TstCli::types()
{
    Run r = cli({"types"});
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.contains("load types:") && r.out.contains("save types:"));
    QCOMPARE(r.out.count("Wavesmith"), 2);
    QCOMPARE(r.out.count("TDS 5000/6000/7000"), 1);
    QCOMPARE(r.out.split('\n', Qt::SkipEmptyParts).size(), 2 + 33 + 26);
}

void TstCli::loadFailuresCarryTheWindowsMessage()
{
    Run r = cli({"info", "--from", "18", path("missing.iqw")});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("File Load Error.") && r.err.contains("status -1"), qPrintable(r.err));
    r = cli({"info", "--from", "Wavesmith", path("in.ibn")});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("The file " + path("in.ibn") + " is scrambled. Load aborted."), qPrintable(r.err));
}

void TstCli::convertAndInfo()
{
    // Display names match case-insensitively; unique extensions name a row.
    Run r = cli({"convert", "--from", "iqw mixed, IQIQIQ....iq", path("in.iqw"), "--to", "sig",
                 path("out.sig"), "--clock", "3e6"});
    QCOMPARE(r.code, 0);
    r = cli({"info", "--from", "12", path("out.sig"), "--json"});
    QCOMPARE(r.code, 0);
    QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    QCOMPARE(o.keys(), (QStringList{"center_frequency", "clock", "reflevel", "samples"}));
    QCOMPARE(o["samples"].toDouble(), 5.0);
    QCOMPARE(o["clock"].toDouble(), 3e6); // the panel value was written into the file
    r = cli({"info", "--from", "18", path("in.iqw"), "--reflevel", "-7.5"});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QString("samples: 5\nclock: 100000000\nreflevel: -7.5\ncenter_frequency: 0\n"));
}

void TstCli::appendWithGuard()
{
    QVERIFY(QFile::copy(path("in.iqw"), path("app.iqw")));
    Run r = cli({"convert", "--from", "18", path("in.iqw"), "--to", "18", path("app.iqw"), "--append", "--guard", "2"});
    QCOMPARE(r.code, 0);
    QCOMPARE(QFileInfo(path("app.iqw")).size(), qint64((5 + 2 + 5) * 8));
    r = cli({"convert", "--from", "18", path("in.iqw"), "--to", "18", path("nothere.iqw"), "--append"});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("Memory too low."), qPrintable(r.err));
}

void TstCli::saveFailureExitsOne()
{
    Run r = cli({"convert", "--from", "18", path("in.iqw"), "--to", "18", path("no/dir/x.iqw")});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("File Save Error.") && r.err.contains("status -1"), qPrintable(r.err));
}

void TstCli::twoFileTextType()
{
    // One output name for a two-file type: the Q file is named after it.
    Run r = cli({"convert", "--from", "18", path("in.iqw"), "--to", "SPW ASCII single", path("t.ascsig"),
                 "--clock", "1e6"});
    QCOMPARE(r.code, 0);
    for (const char* f : {"t.ascsig", "t.q"}) {
        const QList<QByteArray> lines = readFile(path(f)).split('\n');
        QCOMPARE(lines.size(), 12 + 5 + 1 + 1);
        QCOMPARE(lines[6], QByteArray("Sampling Frequency = 1e+06"));
        QCOMPARE(lines[9], QByteArray("Number of Points = 5"));
    }
    r = cli({"convert", "--from", "SPW ASCII single", path("t.ascsig"), path("t.q"), "--to", "asc", path("t.asc")});
    QCOMPARE(r.code, 0);
    QCOMPARE(readFile(path("t.asc")).count('\n'), 5);
}

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
