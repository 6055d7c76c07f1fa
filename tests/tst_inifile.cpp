// The configuration file on its own: every key written is read back, the
// defaults of a missing file, the settings folder derivation.
#include "app/inifile.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Panel {
    AnaStr ana;
    IQDatStr load, save;
    int port = 0, connectTo = 0, x = 0, y = 0;

    void read(const QString& path) { LoadIniFile(path, &ana, &load, &save, &port, &connectTo, &x, &y); }
    void write(const QString& path) const { SaveIniFile(path, ana, load, save, port, connectTo, x, y); }
};

} // namespace

class IniFileTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void settingsFolder_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("folder");
        QTest::newRow("xdg") << "/home/u/.local/share/OrvexMc" << "/home/u/.local/share/Halvard/OrvexMc";
        QTest::newRow("spaces") << "/Users/u/Library/Application Support/OrvexMc"
                                << "/Users/u/Library/Application Support/Halvard/OrvexMc";
        QTest::newRow("backslashes") << "C:\\Users\\u\\AppData\\Local\\OrvexMc"
                                     << "C:/Users/u/AppData/Local/Halvard/OrvexMc";
        QTest::newRow("one component") << "OrvexMc" << "Halvard/OrvexMc";
    }
    void settingsFolder()
    {
        QFETCH(QString, location);
        QFETCH(QString, folder);
        QCOMPARE(SettingsFolder(location), folder);
    }

    void missingFileGivesDefaults()
    {
        Panel p;
        p.ana.DevTyp = 3;
        p.ana.Count = 7;
        p.ana.RsrcStr = QStringLiteral("x");
        p.load.Clock = 5;
        p.load.Typ = 2;
        p.save.Typ = 9;
        p.read(dir.filePath(QStringLiteral("none.ini")));
        const AnaStr d;
        QCOMPARE(p.ana.DevTyp, 6);
        QCOMPARE(p.ana.Count, d.Count);
        QCOMPARE(p.ana.RsrcStr, d.RsrcStr);
        QVERIFY(p.ana.RsrcStr.startsWith(QLatin1String("TCPIP::")) && p.ana.RsrcStr.endsWith(QLatin1String("::INSTR")));
        QCOMPARE(p.ana.CFreq, 1e6);
        QCOMPARE(p.ana.SRate, 1e8);
        QCOMPARE(p.ana.RecLen, 0.001);
        QCOMPARE(p.ana.OscRecLen, uint64_t(1024));
        QCOMPARE(p.ana.Raw, true);
        QCOMPARE(p.ana.SbRf, 1);
        QCOMPARE(p.ana.DigRange, 2.0);
        QCOMPARE(p.load.Clock, 1e8);
        QCOMPARE(p.load.Typ, 23);
        QCOMPARE(p.load.SrcTab, 0);
        QCOMPARE(p.save.Typ, 0);
        QCOMPARE(p.port, 1000);
        QCOMPARE(p.connectTo, 1);
        QCOMPARE(QPoint(p.x, p.y), QPoint(100, 100));
    }

    // Every field away from its default survives a write and a read: a key
    // misspelt on one side would come back as the default.
    void everyKeyRoundTrips()
    {
        Panel a;
        AnaStr& n = a.ana;
        n.Rbw = 3e5; n.SRate = 4e7; n.TrgOfs = 1.5; n.RecLen = 2.25; n.CFreq = 2.4e9;
        n.RefLev = -33.5; n.Att = 10; n.DigRange = 0.5; n.DigSRate = 20; n.AnaRange = 0.25;
        n.AnaOfs = 0.125; n.RelBw = 0.6; n.DevTyp = 17; n.PreTrg = 12; n.IQInp = 2; n.Avg = 4;
        n.OscCh = 3; n.InpTyp = 1; n.InpMod = 1; n.SbRf = 0; n.SbIf = 3; n.RbwIdx = 5;
        n.TrgModIdx = 2; n.TrgSlpIdx = 1; n.SRateIdx = 7; n.Count = 123456; n.OscRecLen = 4096;
        n.RsrcStr = QStringLiteral("GPIB0::20::INSTR"); n.FltTyp = QStringLiteral("CHAN");
        n.TrgMod = QStringLiteral("EXT"); n.TrgSlp = QStringLiteral("NEG"); n.DatTyp = QStringLiteral("IQ");
        n.Raw = false; n.Bal = true; n.HighImp = true; n.Dith = true; n.LowPass = true;
        a.load.Clock = 3.5e6; a.load.SrcTab = 1; a.load.Folder = QStringLiteral("/in folder");
        a.load.Typ = 14; a.save.Folder = QStringLiteral("/out"); a.save.Typ = 25;
        a.port = 5025; a.connectTo = 0; a.x = -20; a.y = 640;
        const QString path = dir.filePath(QStringLiteral("all.ini"));
        a.write(path);

        Panel b;
        b.read(path);
        const AnaStr& m = b.ana;
        QCOMPARE(m.Rbw, n.Rbw); QCOMPARE(m.SRate, n.SRate); QCOMPARE(m.TrgOfs, n.TrgOfs);
        QCOMPARE(m.RecLen, n.RecLen); QCOMPARE(m.CFreq, n.CFreq); QCOMPARE(m.RefLev, n.RefLev);
        QCOMPARE(m.Att, n.Att); QCOMPARE(m.DigRange, n.DigRange); QCOMPARE(m.DigSRate, n.DigSRate);
        QCOMPARE(m.AnaRange, n.AnaRange); QCOMPARE(m.AnaOfs, n.AnaOfs); QCOMPARE(m.RelBw, n.RelBw);
        QCOMPARE(m.DevTyp, n.DevTyp); QCOMPARE(m.PreTrg, n.PreTrg); QCOMPARE(m.IQInp, n.IQInp);
        QCOMPARE(m.Avg, n.Avg); QCOMPARE(m.OscCh, n.OscCh); QCOMPARE(m.InpTyp, n.InpTyp);
        QCOMPARE(m.InpMod, n.InpMod); QCOMPARE(m.SbRf, n.SbRf); QCOMPARE(m.SbIf, n.SbIf);
        QCOMPARE(m.RbwIdx, n.RbwIdx); QCOMPARE(m.TrgModIdx, n.TrgModIdx); QCOMPARE(m.TrgSlpIdx, n.TrgSlpIdx);
        QCOMPARE(m.SRateIdx, n.SRateIdx); QCOMPARE(m.Count, n.Count); QCOMPARE(m.OscRecLen, n.OscRecLen);
        QCOMPARE(m.RsrcStr, n.RsrcStr); QCOMPARE(m.FltTyp, n.FltTyp); QCOMPARE(m.TrgMod, n.TrgMod);
        QCOMPARE(m.TrgSlp, n.TrgSlp); QCOMPARE(m.DatTyp, n.DatTyp); QCOMPARE(m.Raw, n.Raw);
        QCOMPARE(m.Bal, n.Bal); QCOMPARE(m.HighImp, n.HighImp); QCOMPARE(m.Dith, n.Dith);
        QCOMPARE(m.LowPass, n.LowPass);
        QCOMPARE(b.load.Clock, a.load.Clock); QCOMPARE(b.load.SrcTab, a.load.SrcTab);
        QCOMPARE(b.load.Folder, a.load.Folder); QCOMPARE(b.load.Typ, a.load.Typ);
        QCOMPARE(b.save.Folder, a.save.Folder); QCOMPARE(b.save.Typ, a.save.Typ);
        QCOMPARE(b.port, a.port); QCOMPARE(b.connectTo, a.connectTo);
        QCOMPARE(QPoint(b.x, b.y), QPoint(a.x, a.y));

        // The groups and key names other versions read.
        QSettings s(path, QSettings::IniFormat);
        QCOMPARE(s.childGroups(), QStringList({"AnaIQ", "Analyzer", "DigiIQ", "Position", "Program"}));
        QCOMPARE(s.value(QStringLiteral("Analyzer/VISA Resource String")).toString(), n.RsrcStr);
        QCOMPARE(s.value(QStringLiteral("Analyzer/Osc. Rec Len")).toInt(), 4096);
        QCOMPARE(s.value(QStringLiteral("DigiIQ/Sample Rate")).toDouble(), 20.0);
    }

    void countsAreWrittenAs32Bits()
    {
        Panel p;
        p.ana.Count = 5000000000ull;
        p.ana.OscRecLen = (1ull << 32) + 5;
        const QString path = dir.filePath(QStringLiteral("c.ini"));
        p.write(path);
        QSettings s(path, QSettings::IniFormat);
        QCOMPARE(s.value(QStringLiteral("Analyzer/Sample Count")).toULongLong(), 705032704ull);
        QCOMPARE(s.value(QStringLiteral("Analyzer/Osc. Rec Len")).toULongLong(), 5ull);
    }

    void impedanceClamp_data()
    {
        QTest::addColumn<QString>("impedance");
        QTest::addColumn<double>("stored");
        QTest::addColumn<double>("read");
        QTest::newRow("high, above") << "true" << 2.0 << 1.78;
        QTest::newRow("high, below") << "true" << 1.5 << 1.5;
        QTest::newRow("low, above") << "false" << 2.0 << 2.0;
    }
    void impedanceClamp()
    {
        QFETCH(QString, impedance);
        QFETCH(double, stored);
        QFETCH(double, read);
        const QString path = dir.filePath(QStringLiteral("imp.ini"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Analyzer]\nImpedance=%1\n[AnaIQ]\nIQ Range=%2\nIQ Offset=0.5\n")
                    .arg(impedance).arg(stored).toLatin1());
        f.close();
        Panel p;
        p.read(path);
        QCOMPARE(p.ana.AnaRange, read);
        QCOMPARE(p.ana.AnaOfs, 0.5);
    }

    void unreadableValuesReadAsZero()
    {
        const QString path = dir.filePath(QStringLiteral("bad.ini"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Program]\nTCP Port=abc\n[Analyzer]\nSample Rate=fast\n");
        f.close();
        Panel p;
        p.read(path);
        QCOMPARE(p.port, 0);
        QCOMPARE(p.ana.SRate, 0.0);
    }

    void samplesAreReleased()
    {
        Panel p;
        MakeIQArr(&p.load, 16);
        MakeIQArr(&p.save, 16);
        p.read(dir.filePath(QStringLiteral("none.ini")));
        QVERIFY(!p.load.I && !p.load.Q && !p.save.I && !p.save.Q);
    }
};

QTEST_GUILESS_MAIN(IniFileTest)
#include "tst_inifile.moc"
