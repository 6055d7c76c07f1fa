// WV waveform files and raw recorder files: exact bytes and header texts,
// headers of other writers, lying and broken headers. Round trips and
// append: tst_core.
#include "formats/catalogue.h"
#include "formats/vantor.h"
#include "formats/wv.h"
#include "testutil.h"

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace testutil;

namespace {

constexpr int kWvLoad = 32, kRaw = 24;

bool matches(const QByteArray& text, const QString& pattern)
{
    return QRegularExpression("^" + pattern + "$").match(QString::fromLatin1(text)).hasMatch();
}

} // namespace

class TstWvRaw : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) { return dir.filePath(name); }

private slots:
    void init() { EscFlg = 0; }

    void wvHeaderText()
    {
        // Peak 2, rms 1: a crest factor of 6.021 dB; the clock is truncated.
        // Emptiness has no crest factor.
        const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
        QCOMPARE(WvHeader(2.0, 4.0, 4, 2.9, when),
                 QByteArray("{TYPE:TQX-WV,0}{COPYRIGHT:2026 Halvard TQX} {DATE:2026-3-4;5:6:7}"
                            "{LEVEL OFFS:6.021,2.000}{SAMPLES:4} {CLOCK:2}{WAVEFORM-17:#"));
        QVERIFY(WvHeader(0, 0, 0, 1e6, when).contains("{LEVEL OFFS:0.000,0.000}{SAMPLES:0} {CLOCK:1000000}{WAVEFORM-1:#"));
    }

    // Whole files byte by byte; the 2-sample file reads back as integers,
    // not as the values written from. Silence: no division by the zero peak.
    void wvFiles()
    {
        const QString head = "\\{TYPE:TQX-WV,0\\}\\{COPYRIGHT:\\d+ Halvard TQX\\} \\{DATE:\\d+-\\d+-\\d+;\\d+:\\d+:\\d+\\}";
        const struct { Vf i, q; QString header; QByteArray data; Vf bi, bq; } rows[] = {
            {{1, 0}, {0, -1}, "\\{LEVEL OFFS:0\\.000,1\\.000\\}\\{SAMPLES:2\\} \\{CLOCK:1000000\\}\\{WAVEFORM-9:#",
             QByteArray::fromHex("ff7f0000 00000280"), {32767, 0}, {0, -32766}},
            {{0, 0, 0}, {0, 0, 0}, "\\{LEVEL OFFS:0\\.000,0\\.000\\}\\{SAMPLES:3\\} \\{CLOCK:1000000\\}\\{WAVEFORM-13:#",
             QByteArray(12, '\0'), {0, 0, 0}, {0, 0, 0}},
        };
        for (const auto& row : rows) {
            Rec rec(row.i, row.q, 1e6), r;
            QCOMPARE(SaveHvWv(rec.r, path("w.wv")), ST_OK);
            const QByteArray f = readFile(path("w.wv"));
            const int end = f.indexOf('#') + 1;
            QVERIFY2(matches(f.left(end), head + row.header), f.left(end).constData());
            QCOMPARE(f.mid(end), row.data + "}");
            QCOMPARE(load(&r.r, kWvLoad, path("w.wv")), ST_OK);
            QVERIFY(r->Clock == 1e6 && holds(r.r, row.bi, row.bq));
        }
    }

    // Headers of other writers, scrambled files, and counts and ends that
    // do not fit the file.
    void wvHeaders()
    {
        const QByteArray s3 = pairs({1, 2, 3}, {-1, -2, -3}) + "}";
        const struct { const char* name; QByteArray file; int32_t st; uint64_t n; double clock; } rows[] = {
            {"blanks in count", "{TYPE:TQX-WV,0}{SAMPLES:1 000}{CLOCK:2.5e6}{WAVEFORM-4001:#" + QByteArray(4000, '\1') + "}",
             ST_OK, 1000, 2.5e6},
            {"scrambled", "{TYPE:TQX-WV,0}{SAMPLES:3}{CLOCK:1e6}{WWAVEFORM-13:#" + s3, ST_REFUSED, 0, 0},
            // The padding of an EMPTYTAG may itself hold a "#".
            {"EMPTYTAG", "{TYPE:TQX-WV,0}{SAMPLES:3}{CLOCK:7e3}{EMPTYTAG-5:#ab}{WAVEFORM-13:#" + s3, ST_OK, 3, 7e3},
            {"EMPTYTAG, one #", "{EMPTYTAG-5:#ab}" + QByteArray(20, 'x'), ST_FILE1, 0, 0},
            {"no #", "{TYPE:TQX-WV,0}{SAMPLES:3}" + QByteArray(100000, 'x'), ST_FILE1, 0, 0},
            {"empty", "", ST_FILE1, 0, 0},
            // Without SAMPLES the samples run to the closing brace; without
            // CLOCK the clock given for the load stays.
            {"no SAMPLES", "{TYPE:TQX-WV,0}{CLOCK:5}{WAVEFORM-13:#" + s3, ST_OK, 3, 5.0},
            {"no CLOCK", "{TYPE:TQX-WV,0}{SAMPLES:3}{WAVEFORM-13:#" + s3, ST_OK, 3, 123.0},
            {"SAMPLES unclosed", "{CLOCK:5}{SAMPLES:3 #" + s3, ST_OK, 3, 5.0},
            {"count beyond file", "{SAMPLES:4}{CLOCK:5}#" + s3, ST_FILE1, 0, 0},
            {"count not a number", "{SAMPLES:x3}{CLOCK:5}#" + s3, ST_FILE1, 0, 0},
            {"huge count", "{SAMPLES:99999999999999}{CLOCK:5}#" + s3, ST_FILE1, 0, 0},
        };
        for (const auto& row : rows) {
            QVERIFY(writeFile(path("h.wv"), row.file));
            Rec r;
            r->Clock = 123;
            QVERIFY2(load(&r.r, kWvLoad, path("h.wv")) == row.st && r->N == row.n, row.name);
            QVERIFY2(row.st == ST_OK ? r->Clock == row.clock : !r->I && !r->Q, row.name);
            QVERIFY2(row.n != 3 || holds(r.r, {1, 2, 3}, {-1, -2, -3}), row.name);
        }
        QCOMPARE(LoadErrorText(ST_REFUSED, "x.wv"), QString("The file x.wv is scrambled. Load aborted."));
    }

    // The 3-sample recorder file: data bytes, header text, read-back.
    void rawThreeSamples()
    {
        Rec rec({1, 0, -0.5f}, {-1, 0, 0.5f}, 2e6), r;
        rec->RefLev = -10;
        rec->CFreq = 1e9;
        QCOMPARE(SaveVantorRaw(rec.r, path("rec.wvd")), ST_OK);
        // Negative values are stored 65536 below: -0.5 * 32767 + 0.5 - 65536.
        QCOMPARE(readFile(path("rec.wvd")), QByteArray::fromHex("ff7f0280 00000000 01c00040"));
        const QByteArray h = readFile(path("rec.wvh"));
        QVERIFY2(matches(h, "\\{TYPE:RAW16LE\\}\\{DATE:\\d+-\\d+-\\d+;\\d+:\\d+:\\d+\\}"
                            "\\{COPYRIGHT:2009 Halvard Vantor\\}\\{COMMENT:Orvex {19}\\}"
                            "\\{FWVERSION:4\\.10\\.04\\}\\{CLOCK:2000000\\.000000\\}\\{RESOLUTION:16\\}"
                            "\\{SAMPLES:3\\}\\{COMPONENTS:IQ\\}\\{REFLEVEL:-10\\.000\\}"
                            "\\{FREQUENCY:1000000000\\.0\\}"),
                 h.constData());
        QCOMPARE(load(&r.r, kRaw, path("rec.wvd")), ST_OK);
        QVERIFY(r->Clock == 2e6 && r->RefLev == -10.0f && r->CFreq == 1e9);
        QVERIFY(holds(r.r, Vf{1, 0, float((49153 - 65534.5) / 32767)}, Vf{float(-32764.5 / 32767), 0, float(16384 / 32767.0)}));
    }

    // The 10-byte data file holds two pairs. Header tags that are missing or
    // unreadable keep the load's values, with no frequency 0; a data file
    // without its ".wvh" does not load. The header sits beside the data file.
    void rawHeaderTags()
    {
        const struct { QByteArray data; const char* header; int32_t st; double clock; float ref; Vf i, q; } rows[] = {
            {QByteArray::fromHex("ff7f0080000000000102"), "{TYPE:RAW16LE}{CLOCK:1e5}", ST_OK, 1e5, -7, {1, 0},
             {float((32768 - 65534.5) / 32767), 0}},
            {QByteArray(8, '\0'), "{CLOCK:1 000}{REFLEVEL:-3}{FREQUENCY:2e9", ST_OK, 9, -3, {0, 0}, {0, 0}},
            {QByteArray(8, '\0'), nullptr, ST_FILE1, 0, 0, {}, {}},
        };
        for (const auto& c : rows) {
            QVERIFY(writeFile(path("t.x.wvd"), c.data));
            QVERIFY(c.header ? writeFile(path("t.x.wvh"), c.header) : QFile::remove(path("t.x.wvh")));
            Rec r;
            r->Clock = 9;
            r->RefLev = -7;
            r->CFreq = 55;
            QCOMPARE(load(&r.r, kRaw, path("t.x.wvd")), c.st);
            QVERIFY(holds(r.r, c.i, c.q));
            QVERIFY(c.st == ST_OK ? r->Clock == c.clock && r->RefLev == c.ref && r->CFreq == 0.0 : !r->I);
        }
        QCOMPARE(VantorHeaderName("/a.b/rec"), QString("/a.b/rec.wvh"));
    }

    // A cancelled save leaves an existing pair as it was (tst_stream checks
    // the same writer with no pair before, and failures).
    void rawSaveCancel()
    {
        Rec rec({1}, {1});
        QVERIFY(writeFile(path("old.wvd"), "1234") && writeFile(path("old.wvh"), "{CLOCK:1}"));
        EscFlg = 1;
        QCOMPARE(SaveVantorRaw(rec.r, path("old.wvd")), ST_CANCEL);
        QCOMPARE(int(EscFlg), 0);
        QVERIFY(readFile(path("old.wvd")) == "1234" && readFile(path("old.wvh")) == "{CLOCK:1}");
    }
};

QTEST_GUILESS_MAIN(TstWvRaw)
#include "tst_wvraw.moc"
