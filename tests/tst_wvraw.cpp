// WV waveform files and raw recorder files.
#include "iqfiles.h"

#include "formats/catalogue.h"
#include "formats/save.h"
#include "formats/vantor.h"
#include "formats/wv.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

namespace {

constexpr int kWvLoad = 32, kWvSave = 25, kRaw = 24;

IQDatStr loadAs(int tlIndex, const QString& file)
{
    IQDatStr r;
    r.Typ = tlIndex;
    r.FileI = file;
    return r;
}

QByteArray wvFile(const QByteArray& header, const QByteArray& samples)
{
    return header + samples + "}";
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
        const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
        QCOMPARE(WvHeader(1.0, 2.0, 2, 1e6, when),
                 QByteArray("{TYPE:TQX-WV,0}{COPYRIGHT:2026 Halvard TQX} {DATE:2026-3-4;5:6:7}"
                            "{LEVEL OFFS:0.000,1.000}{SAMPLES:2} {CLOCK:1000000}{WAVEFORM-9:#"));
        // Peak 2, rms 1: a crest factor of 6.021 dB; the clock is truncated.
        QVERIFY(WvHeader(2.0, 4.0, 4, 2.9, when).contains("{LEVEL OFFS:6.021,2.000}{SAMPLES:4} {CLOCK:2}"));
        // Silence and emptiness have no crest factor.
        QVERIFY(WvHeader(0, 0, 5, 1e6, when).contains("{LEVEL OFFS:0.000,0.000}"));
        QVERIFY(WvHeader(0, 0, 0, 1e6, when).contains("{LEVEL OFFS:0.000,0.000}{SAMPLES:0} {CLOCK:1000000}{WAVEFORM-1:#"));
    }

    void wvTwoSamples()
    {
        t::Rec rec({1, 0}, {0, -1}, 1e6);
        QCOMPARE(SaveHvWv(rec.r, path("two.wv")), ST_OK);
        const QByteArray f = t::read(path("two.wv"));
        const int hash = f.indexOf('#');
        const QByteArray head = f.left(hash + 1);
        QVERIFY2(QRegularExpression("^\\{TYPE:TQX-WV,0\\}\\{COPYRIGHT:\\d+ Halvard TQX\\} "
                                    "\\{DATE:\\d+-\\d+-\\d+;\\d+:\\d+:\\d+\\}\\{LEVEL OFFS:0\\.000,1\\.000\\}"
                                    "\\{SAMPLES:2\\} \\{CLOCK:1000000\\}\\{WAVEFORM-9:#$")
                     .match(QString::fromLatin1(head))
                     .hasMatch(),
                 head.constData());
        QCOMPARE(f.size(), head.size() + 9);
        const int16_t want[] = {32767, 0, 0, -32766};
        for (int k = 0; k < 4; ++k)
            QCOMPARE(t::s16(f, hash + 1 + 2 * k), want[k]);
        QCOMPARE(f.right(1), QByteArray("}"));

        // Read back: integers, not the values written from.
        IQDatStr r = loadAs(kWvLoad, path("two.wv"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(2));
        QCOMPARE(r.Clock, 1e6);
        QCOMPARE(r.I[0], 32767.0f);
        QCOMPARE(r.Q[1], -32766.0f);
        FreeArr(&r);
    }

    void wvAllZero()
    {
        t::Rec rec({0, 0, 0}, {0, 0, 0});
        QCOMPARE(SaveHvWv(rec.r, path("z.wv")), ST_OK);
        const QByteArray f = t::read(path("z.wv"));
        QVERIFY(f.contains("{LEVEL OFFS:0.000,0.000}"));
        QCOMPARE(f.mid(f.indexOf('#') + 1), QByteArray(12, '\0') + "}");
    }

    void wvHeaders_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("status");
        QTest::addColumn<qulonglong>("n");
        QTest::addColumn<double>("clock");
        const QByteArray s3 = t::pairs({1, 2, 3}, {-1, -2, -3});
        const QByteArray s1000 = QByteArray(4000, '\1');
        QTest::newRow("blanks in count") << wvFile("{TYPE:TQX-WV,0}{SAMPLES:1 000}{CLOCK:2.5e6}{WAVEFORM-4001:#", s1000)
                                         << int(ST_OK) << 1000ull << 2.5e6;
        QTest::newRow("scrambled") << wvFile("{TYPE:TQX-WV,0}{SAMPLES:3}{CLOCK:1e6}{WWAVEFORM-13:#", s3)
                                   << int(ST_REFUSED) << 0ull << 0.0;
        // The padding of an EMPTYTAG may itself hold a "#".
        QTest::newRow("EMPTYTAG") << wvFile("{TYPE:TQX-WV,0}{SAMPLES:3}{CLOCK:7e3}{EMPTYTAG-5:#ab}{WAVEFORM-13:#", s3)
                                  << int(ST_OK) << 3ull << 7e3;
        QTest::newRow("EMPTYTAG, one #") << QByteArray("{EMPTYTAG-5:#ab}") + QByteArray(20, 'x')
                                         << int(ST_FILE1) << 0ull << 0.0;
        QTest::newRow("no #") << QByteArray("{TYPE:TQX-WV,0}{SAMPLES:3}") + QByteArray(100000, 'x')
                              << int(ST_FILE1) << 0ull << 0.0;
        QTest::newRow("empty") << QByteArray() << int(ST_FILE1) << 0ull << 0.0;
        // Without SAMPLES the samples run to the closing brace; without CLOCK
        // the clock given for the load stays.
        QTest::newRow("no SAMPLES") << wvFile("{TYPE:TQX-WV,0}{CLOCK:5}{WAVEFORM-13:#", s3)
                                    << int(ST_OK) << 3ull << 5.0;
        QTest::newRow("no CLOCK") << wvFile("{TYPE:TQX-WV,0}{SAMPLES:3}{WAVEFORM-13:#", s3)
                                  << int(ST_OK) << 3ull << 123.0;
        QTest::newRow("SAMPLES unclosed") << wvFile("{CLOCK:5}{SAMPLES:3 #", s3) << int(ST_OK) << 3ull << 5.0;
        QTest::newRow("count beyond file") << wvFile("{SAMPLES:4}{CLOCK:5}#", s3) << int(ST_FILE1) << 0ull << 0.0;
        QTest::newRow("count not a number") << wvFile("{SAMPLES:x3}{CLOCK:5}#", s3) << int(ST_FILE1) << 0ull << 0.0;
        QTest::newRow("huge count") << wvFile("{SAMPLES:99999999999999}{CLOCK:5}#", s3) << int(ST_FILE1) << 0ull << 0.0;
    }
    void wvHeaders()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, status);
        QFETCH(qulonglong, n);
        QFETCH(double, clock);
        QVERIFY(t::write(path("h.wv"), file));
        IQDatStr r = loadAs(kWvLoad, path("h.wv"));
        r.Clock = 123;
        QCOMPARE(LoadDatFile(&r), status);
        if (status == ST_REFUSED)
            QCOMPARE(LoadErrorText(status, r.FileI), "The file " + r.FileI + " is scrambled. Load aborted.");
        if (status != ST_OK) {
            QVERIFY(!r.I && !r.Q);
            return;
        }
        QCOMPARE(r.N, uint64_t(n));
        QCOMPARE(r.Clock, clock);
        if (n == 3) {
            QCOMPARE(r.I[2], 3.0f);
            QCOMPARE(r.Q[2], -3.0f);
        }
        FreeArr(&r);
    }

    void wvScrambledAppendRefused()
    {
        const QByteArray scrambled = wvFile("{SAMPLES:1}{CLOCK:1}{WWAVEFORM-5:#", QByteArray(4, '\1'));
        QVERIFY(t::write(path("s.wv"), scrambled));
        t::Rec dat({1}, {1});
        IQDatStr sav, dst;
        sav.Typ = kWvSave;
        sav.FileI = dst.FileI = path("s.wv");
        bool result;
        QCOMPARE(SaveDatFile(&dat.r, &dst, &sav, AnaStr{}, true, 0, &result), ST_REFUSED);
        QCOMPARE(t::read(path("s.wv")), scrambled);
    }

    void rawThreeSamples()
    {
        t::Rec rec({1, 0, -0.5f}, {-1, 0, 0.5f}, 2e6);
        rec.r.RefLev = -10;
        rec.r.CFreq = 1e9;
        QCOMPARE(SaveVantorRaw(rec.r, path("rec.wvd")), ST_OK);
        const QByteArray d = t::read(path("rec.wvd"));
        QCOMPARE(d.size(), 12);
        QCOMPARE(d.left(4), QByteArray::fromHex("ff7f0280"));
        QCOMPARE(t::s16(d, 8), int16_t(-16383));   // -0.5 * 32767 + 0.5 - 65536
        QCOMPARE(t::s16(d, 10), int16_t(16384));
        const QByteArray h = t::read(path("rec.wvh"));
        QVERIFY2(QRegularExpression("^\\{TYPE:RAW16LE\\}\\{DATE:\\d+-\\d+-\\d+;\\d+:\\d+:\\d+\\}"
                                    "\\{COPYRIGHT:2009 Halvard Vantor\\}\\{COMMENT:Orvex {19}\\}"
                                    "\\{FWVERSION:4\\.10\\.04\\}\\{CLOCK:2000000\\.000000\\}\\{RESOLUTION:16\\}"
                                    "\\{SAMPLES:3\\}\\{COMPONENTS:IQ\\}\\{REFLEVEL:-10\\.000\\}"
                                    "\\{FREQUENCY:1000000000\\.0\\}$")
                     .match(QString::fromLatin1(h))
                     .hasMatch(),
                 h.constData());

        IQDatStr r = loadAs(kRaw, path("rec.wvd"));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(3));
        QCOMPARE(r.I[0], 1.0f);
        QCOMPARE(r.Q[0], float(-32764.5 / 32767));
        QVERIFY(std::fabs(r.Q[0] + 0.99991f) < 5e-5f);
        QCOMPARE(r.I[1], 0.0f);
        QCOMPARE(r.Clock, 2e6);
        QCOMPARE(r.RefLev, -10.0f);
        QCOMPARE(r.CFreq, 1e9);
        FreeArr(&r);
    }

    void rawDataAndHeader()
    {
        QVERIFY(t::write(path("ten.wvd"), QByteArray::fromHex("ff7f0080000000000102")));
        QVERIFY(t::write(path("ten.wvh"), "{TYPE:RAW16LE}{CLOCK:1e5}"));
        IQDatStr r = loadAs(kRaw, path("ten.wvd"));
        r.RefLev = -7;
        r.CFreq = 55;
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(2));
        QCOMPARE(r.Q[0], float((32768 - 65534.5) / 32767));
        // Tags that are missing keep the load's values; no frequency is 0.
        QCOMPARE(r.Clock, 1e5);
        QCOMPARE(r.RefLev, -7.0f);
        QCOMPARE(r.CFreq, 0.0);
        FreeArr(&r);

        QVERIFY(t::write(path("bad.wvd"), QByteArray(8, '\0')));
        QVERIFY(t::write(path("bad.wvh"), "{CLOCK:1 000}{REFLEVEL:-3}{FREQUENCY:2e9"));
        r = loadAs(kRaw, path("bad.wvd"));
        r.Clock = 9;
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.Clock, 9.0);
        QCOMPARE(r.RefLev, -3.0f);
        QCOMPARE(r.CFreq, 0.0);
        FreeArr(&r);

        QVERIFY(t::write(path("lone.wvd"), QByteArray(8, '\0')));
        r = loadAs(kRaw, path("lone.wvd"));
        QCOMPARE(LoadDatFile(&r), ST_FILE1);
        QVERIFY(!r.I);
    }

    void rawHeaderNames()
    {
        QCOMPARE(VantorHeaderName("/data/rec.wvd"), QString("/data/rec.wvh"));
        QCOMPARE(VantorHeaderName("/data/x.y.wvd"), QString("/data/x.y.wvh"));
        QCOMPARE(VantorHeaderName("/a.b/rec"), QString("/a.b/rec.wvh"));
    }

    void rawAllZero()
    {
        t::Rec rec({0, 0}, {0, 0});
        QCOMPARE(SaveVantorRaw(rec.r, path("z.wvd")), ST_OK);
        QCOMPARE(t::read(path("z.wvd")), QByteArray(8, '\0'));
    }

    // A failed or cancelled save leaves neither file behind, nor damages an
    // existing pair.
    void rawSaveFailures()
    {
        t::Rec rec({1}, {1});
        QCOMPARE(SaveVantorRaw(rec.r, path("no/dir/x.wvd")), ST_FILE1);
        EscFlg = 1;
        QCOMPARE(SaveVantorRaw(rec.r, path("c.wvd")), ST_CANCEL);
        QVERIFY(!QFile::exists(path("c.wvd")));
        QVERIFY(!QFile::exists(path("c.wvh")));
        QCOMPARE(int(EscFlg), 0);
        QVERIFY(t::write(path("old.wvd"), "1234"));
        QVERIFY(t::write(path("old.wvh"), "{CLOCK:1}"));
        EscFlg = 1;
        QCOMPARE(SaveVantorRaw(rec.r, path("old.wvd")), ST_CANCEL);
        QCOMPARE(t::read(path("old.wvd")), QByteArray("1234"));
        QCOMPARE(t::read(path("old.wvh")), QByteArray("{CLOCK:1}"));
    }

    // Append reads the existing file back whole and writes the combination.
    void append_data()
    {
        QTest::addColumn<int>("saveType");
        QTest::addColumn<QString>("name");
        QTest::newRow("raw recorder") << kRaw << "app.wvd";
        QTest::newRow("WV") << kWvSave << "app.wv";
    }
    void append()
    {
        QFETCH(int, saveType);
        QFETCH(QString, name);
        t::Rec first({1, 0, -1}, {0, 1, 0}, 3e6);
        t::Rec more({0.5f, -0.5f}, {0.25f, 0}, 3e6);
        IQDatStr sav, dst;
        sav.Typ = saveType;
        sav.FileI = dst.FileI = path(name);
        bool result;
        QCOMPARE(SaveDatFile(&first.r, &dst, &sav, AnaStr{}, false, 0, &result), ST_OK);
        QCOMPARE(SaveDatFile(&more.r, &dst, &sav, AnaStr{}, true, 1, &result), ST_OK);
        IQDatStr r = loadAs(saveType == kRaw ? kRaw : kWvLoad, path(name));
        QCOMPARE(LoadDatFile(&r), ST_OK);
        QCOMPARE(r.N, uint64_t(6));
        QCOMPARE(r.Clock, 3e6);
        FreeArr(&r);
    }
};

QTEST_GUILESS_MAIN(TstWvRaw)
#include "tst_wvraw.moc"
