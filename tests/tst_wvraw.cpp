// WV waveform files and raw recorder files.
#include "iqfiles.h"

#include "formats/catalogue.h"
#include "formats/save.h"
#include "formats/vantor.h"
#include "formats/wv.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <tuple>

namespace {

constexpr int kWvLoad = 32, kWvSave = 25, kRaw = 24;
using Vf = std::vector<float>;

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
        const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
        QCOMPARE(WvHeader(2.0, 4.0, 4, 2.9, when),
                 QByteArray("{TYPE:TQX-WV,0}{COPYRIGHT:2026 Halvard TQX} {DATE:2026-3-4;5:6:7}"
                            "{LEVEL OFFS:6.021,2.000}{SAMPLES:4} {CLOCK:2}{WAVEFORM-17:#"));
        // Emptiness has no crest factor (silence: wvAllZero).
        QVERIFY(WvHeader(0, 0, 0, 1e6, when).contains("{LEVEL OFFS:0.000,0.000}{SAMPLES:0} {CLOCK:1000000}{WAVEFORM-1:#"));
    }

    // The 2-sample file byte by byte; it reads back as integers, not as the
    // values written from.
    void wvTwoSamples()
    {
        t::Rec rec({1, 0}, {0, -1}, 1e6), r;
        QCOMPARE(SaveHvWv(rec.r, path("two.wv")), ST_OK);
        const QByteArray f = t::readFile(path("two.wv"));
        const int end = f.indexOf('#') + 1;
        QVERIFY2(matches(f.left(end), "\\{TYPE:TQX-WV,0\\}\\{COPYRIGHT:\\d+ Halvard TQX\\} "
                                      "\\{DATE:\\d+-\\d+-\\d+;\\d+:\\d+:\\d+\\}\\{LEVEL OFFS:0\\.000,1\\.000\\}"
                                      "\\{SAMPLES:2\\} \\{CLOCK:1000000\\}\\{WAVEFORM-9:#"),
                 f.left(end).constData());
        QCOMPARE(f.mid(end), QByteArray::fromHex("ff7f0000 00000280") + "}");
        QCOMPARE(t::load(&r.r, kWvLoad, path("two.wv")), ST_OK);
        QCOMPARE(r->Clock, 1e6);
        QVERIFY(t::holds(r.r, Vf{32767, 0}, Vf{0, -32766}));
    }

    // Silence: no division by the zero peak.
    void wvAllZero()
    {
        t::Rec rec({0, 0, 0}, {0, 0, 0});
        QCOMPARE(SaveHvWv(rec.r, path("z.wv")), ST_OK);
        const QByteArray f = t::readFile(path("z.wv"));
        QVERIFY(f.contains("{LEVEL OFFS:0.000,0.000}"));
        QCOMPARE(f.mid(f.indexOf('#') + 1), QByteArray(12, '\0') + "}");
    }

    void wvHeaders_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("status");
        QTest::addColumn<qulonglong>("n");
        QTest::addColumn<double>("clock");
        const QByteArray s3 = t::pairs({1, 2, 3}, {-1, -2, -3}) + "}";
        auto row = [](const char* name, const QByteArray& f, int st, qulonglong n = 0, double clock = 0) {
            QTest::newRow(name) << f << st << n << clock;
        };
        row("blanks in count", "{TYPE:TQX-WV,0}{SAMPLES:1 000}{CLOCK:2.5e6}{WAVEFORM-4001:#" + QByteArray(4000, '\1') + "}",
            ST_OK, 1000, 2.5e6);
        row("scrambled", "{TYPE:TQX-WV,0}{SAMPLES:3}{CLOCK:1e6}{WWAVEFORM-13:#" + s3, ST_REFUSED);
        // The padding of an EMPTYTAG may itself hold a "#".
        row("EMPTYTAG", "{TYPE:TQX-WV,0}{SAMPLES:3}{CLOCK:7e3}{EMPTYTAG-5:#ab}{WAVEFORM-13:#" + s3, ST_OK, 3, 7e3);
        row("EMPTYTAG, one #", "{EMPTYTAG-5:#ab}" + QByteArray(20, 'x'), ST_FILE1);
        row("no #", "{TYPE:TQX-WV,0}{SAMPLES:3}" + QByteArray(100000, 'x'), ST_FILE1);
        row("empty", QByteArray(), ST_FILE1);
        // Without SAMPLES the samples run to the closing brace; without CLOCK
        // the clock given for the load stays.
        row("no SAMPLES", "{TYPE:TQX-WV,0}{CLOCK:5}{WAVEFORM-13:#" + s3, ST_OK, 3, 5.0);
        row("no CLOCK", "{TYPE:TQX-WV,0}{SAMPLES:3}{WAVEFORM-13:#" + s3, ST_OK, 3, 123.0);
        row("SAMPLES unclosed", "{CLOCK:5}{SAMPLES:3 #" + s3, ST_OK, 3, 5.0);
        row("count beyond file", "{SAMPLES:4}{CLOCK:5}#" + s3, ST_FILE1);
        row("count not a number", "{SAMPLES:x3}{CLOCK:5}#" + s3, ST_FILE1);
        row("huge count", "{SAMPLES:99999999999999}{CLOCK:5}#" + s3, ST_FILE1);
    }
    void wvHeaders()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, status);
        QFETCH(qulonglong, n);
        QFETCH(double, clock);
        QVERIFY(t::writeFile(path("h.wv"), file));
        t::Rec r;
        r->Clock = 123;
        QCOMPARE(t::load(&r.r, kWvLoad, path("h.wv")), status);
        QCOMPARE(r->N, uint64_t(n));
        QVERIFY(status == ST_OK ? r->Clock == clock : !r->I && !r->Q);
        if (n == 3)
            QVERIFY(t::holds(r.r, Vf{1, 2, 3}, Vf{-1, -2, -3}));
        if (status == ST_REFUSED)
            QCOMPARE(LoadErrorText(status, r->FileI), "The file " + r->FileI + " is scrambled. Load aborted.");
    }

    // The 3-sample recorder file: data bytes, header text, read-back.
    void rawThreeSamples()
    {
        t::Rec rec({1, 0, -0.5f}, {-1, 0, 0.5f}, 2e6), r;
        rec->RefLev = -10;
        rec->CFreq = 1e9;
        QCOMPARE(SaveVantorRaw(rec.r, path("rec.wvd")), ST_OK);
        // Negative values are stored 65536 below: -0.5 * 32767 + 0.5 - 65536.
        QCOMPARE(t::readFile(path("rec.wvd")), QByteArray::fromHex("ff7f0280 00000000 01c00040"));
        const QByteArray h = t::readFile(path("rec.wvh"));
        QVERIFY2(matches(h, "\\{TYPE:RAW16LE\\}\\{DATE:\\d+-\\d+-\\d+;\\d+:\\d+:\\d+\\}"
                            "\\{COPYRIGHT:2009 Halvard Vantor\\}\\{COMMENT:Orvex {19}\\}"
                            "\\{FWVERSION:4\\.10\\.04\\}\\{CLOCK:2000000\\.000000\\}\\{RESOLUTION:16\\}"
                            "\\{SAMPLES:3\\}\\{COMPONENTS:IQ\\}\\{REFLEVEL:-10\\.000\\}"
                            "\\{FREQUENCY:1000000000\\.0\\}"),
                 h.constData());
        QCOMPARE(t::load(&r.r, kRaw, path("rec.wvd")), ST_OK);
        QCOMPARE(r->Clock, 2e6);
        QCOMPARE(r->RefLev, -10.0f);
        QCOMPARE(r->CFreq, 1e9);
        QVERIFY(t::holds(r.r, Vf{1, 0, float((49153 - 65534.5) / 32767)},
                         Vf{float(-32764.5 / 32767), 0, float(16384 / 32767.0)}));
    }

    // The 10-byte data file holds two pairs. Header tags that are missing or
    // unreadable keep the load's values, with no frequency 0; a data file
    // without its ".wvh" does not load.
    void rawHeaderTags()
    {
        const struct { QByteArray data; const char* header; int32_t st; double clock; float ref; Vf i, q; } rows[] = {
            {QByteArray::fromHex("ff7f0080000000000102"), "{TYPE:RAW16LE}{CLOCK:1e5}", ST_OK, 1e5, -7, {1, 0},
             {float((32768 - 65534.5) / 32767), 0}},
            {QByteArray(8, '\0'), "{CLOCK:1 000}{REFLEVEL:-3}{FREQUENCY:2e9", ST_OK, 9, -3, {0, 0}, {0, 0}},
            {QByteArray(8, '\0'), nullptr, ST_FILE1, 0, 0, {}, {}},
        };
        for (const auto& c : rows) {
            QVERIFY(t::writeFile(path("tags.wvd"), c.data));
            QVERIFY(c.header ? t::writeFile(path("tags.wvh"), c.header) : QFile::remove(path("tags.wvh")));
            t::Rec r;
            r->Clock = 9;
            r->RefLev = -7;
            r->CFreq = 55;
            QCOMPARE(t::load(&r.r, kRaw, path("tags.wvd")), c.st);
            QVERIFY(t::holds(r.r, c.i, c.q));
            QVERIFY(c.st == ST_OK || !r->I);
            if (c.st == ST_OK) {
                QCOMPARE(r->Clock, c.clock);
                QCOMPARE(r->RefLev, c.ref);
                QCOMPARE(r->CFreq, 0.0);
            }
        }
    }

    void rawHeaderNames()
    {
        QCOMPARE(VantorHeaderName("/data/rec.wvd"), QString("/data/rec.wvh"));
        QCOMPARE(VantorHeaderName("/data/x.y.wvd"), QString("/data/x.y.wvh"));
        QCOMPARE(VantorHeaderName("/a.b/rec"), QString("/a.b/rec.wvh"));
    }

    // A cancelled save leaves an existing pair as it was (tst_stream checks
    // the same writer with no pair before, and failures).
    void rawSaveCancel()
    {
        t::Rec rec({1}, {1});
        QVERIFY(t::writeFile(path("old.wvd"), "1234") && t::writeFile(path("old.wvh"), "{CLOCK:1}"));
        EscFlg = 1;
        QCOMPARE(SaveVantorRaw(rec.r, path("old.wvd")), ST_CANCEL);
        QCOMPARE(int(EscFlg), 0);
        QCOMPARE(t::readFile(path("old.wvd")), QByteArray("1234"));
        QCOMPARE(t::readFile(path("old.wvh")), QByteArray("{CLOCK:1}"));
    }

    // Append reads the existing file back whole and writes the combination.
    void append()
    {
        for (auto [saveType, loadType, name] : {std::tuple{kRaw, kRaw, "app.wvd"}, std::tuple{kWvSave, kWvLoad, "app.wv"}}) {
            t::Rec first({1, 0, -1}, {0, 1, 0}, 3e6), more({0.5f, -0.5f}, {0.25f, 0}, 3e6), r;
            IQDatStr sav, dst;
            sav.Typ = saveType;
            sav.FileI = dst.FileI = path(name);
            bool result;
            QCOMPARE(SaveDatFile(&first.r, &dst, &sav, AnaStr{}, false, 0, &result), ST_OK);
            QCOMPARE(SaveDatFile(&more.r, &dst, &sav, AnaStr{}, true, 1, &result), ST_OK);
            QCOMPARE(t::load(&r.r, loadType, path(name)), ST_OK);
            QCOMPARE(r->N, uint64_t(6));
            QCOMPARE(r->Clock, 3e6);
        }
    }
};

QTEST_GUILESS_MAIN(TstWvRaw)
#include "tst_wvraw.moc"
