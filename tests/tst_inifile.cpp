// The configuration file on its own: every key written is read back, the
// defaults of a missing file, the settings folder derivation.
#include "app/inifile.h"
#include "testutil.h"

#include <QSettings>
#include <QTemporaryDir>

namespace {

struct Panel {
    AnaStr ana;
    IQDatStr load, save;
    int port = 0, connectTo = 0, x = 0, y = 0;

    void read(const QString& path) { LoadIniFile(path, &ana, &load, &save, &port, &connectTo, &x, &y); }
    void write(const QString& path) const { SaveIniFile(path, ana, load, save, port, connectTo, x, y); }

    // Every value the file keeps, so that two panels compare in one go.
    QVariantList values() const
    {
        const AnaStr& n = ana;
        return {n.Rbw, n.SRate, n.TrgOfs, n.RecLen, n.CFreq, n.RefLev, n.Att, n.DigRange, n.DigSRate,
                n.AnaRange, n.AnaOfs, n.RelBw, n.DevTyp, n.PreTrg, n.IQInp, n.Avg, n.OscCh, n.InpTyp,
                n.InpMod, n.SbRf, n.SbIf, n.RbwIdx, n.TrgModIdx, n.TrgSlpIdx, n.SRateIdx,
                quint64(n.Count), quint64(n.OscRecLen), n.RsrcStr, n.FltTyp, n.TrgMod, n.TrgSlp, n.DatTyp,
                n.Raw, n.Bal, n.HighImp, n.Dith, n.LowPass, load.Clock, load.SrcTab, load.Folder, load.Typ,
                save.Folder, save.Typ, port, connectTo, x, y};
    }
    // Every value away from its default.
    void fill()
    {
        AnaStr& n = ana;
        n.Rbw = 3e5; n.SRate = 4e7; n.TrgOfs = 1.5; n.RecLen = 2.25; n.CFreq = 2.4e9;
        n.RefLev = -33.5; n.Att = 10; n.DigRange = 0.5; n.DigSRate = 20; n.AnaRange = 0.25;
        n.AnaOfs = 0.125; n.RelBw = 0.6; n.DevTyp = 17; n.PreTrg = 12; n.IQInp = 2; n.Avg = 4;
        n.OscCh = 3; n.InpTyp = 1; n.InpMod = 1; n.SbRf = 0; n.SbIf = 3; n.RbwIdx = 5;
        n.TrgModIdx = 2; n.TrgSlpIdx = 1; n.SRateIdx = 7; n.Count = 123456; n.OscRecLen = 4096;
        n.RsrcStr = "GPIB0::20::INSTR"; n.FltTyp = "CHAN"; n.TrgMod = "EXT"; n.TrgSlp = "NEG"; n.DatTyp = "IQ";
        n.Raw = false; n.Bal = true; n.HighImp = true; n.Dith = true; n.LowPass = true;
        load.Clock = 3.5e6; load.SrcTab = 1; load.Folder = "/in folder"; load.Typ = 14;
        save.Folder = "/out"; save.Typ = 25; port = 5025; connectTo = 0; x = -20; y = 640;
    }
};

} // namespace

class IniFileTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void settingsFolder()
    {
        const std::pair<const char*, const char*> rows[] = {
            {"/home/u/.local/share/OrvexMc", "/home/u/.local/share/Halvard/OrvexMc"},
            {"/Users/u/Library/Application Support/OrvexMc", "/Users/u/Library/Application Support/Halvard/OrvexMc"},
            {"C:\\Users\\u\\AppData\\Local\\OrvexMc", "C:/Users/u/AppData/Local/Halvard/OrvexMc"},
            {"OrvexMc", "Halvard/OrvexMc"}};
        for (auto [location, folder] : rows)
            QCOMPARE(SettingsFolder(location), QString(folder));
    }

    // Read over a panel that holds other values and samples: every value is
    // reset, and the samples are released rather than forgotten.
    void missingFileGivesDefaults()
    {
        Panel p, d;
        p.fill();
        MakeIQArr(&p.load, 16);
        MakeIQArr(&p.save, 16);
        p.read(dir.filePath("none.ini"));
        QVERIFY(!p.load.I && !p.load.Q && !p.save.I && !p.save.Q);
        d.load.Typ = 23;
        d.port = 1000;
        d.connectTo = 1;
        d.x = d.y = 100;
        QCOMPARE(p.values(), d.values());
    }

    // A key misspelt on one side would come back as the default.
    void everyKeyRoundTrips()
    {
        Panel a, b, none;
        a.fill();
        none.read(dir.filePath("none.ini"));
        for (int k = 0; k < none.values().size(); ++k)
            QVERIFY2(a.values()[k] != none.values()[k], qPrintable(QString::number(k)));
        const QString path = dir.filePath("all.ini");
        a.write(path);
        b.read(path);
        QCOMPARE(b.values(), a.values());
        // The groups and key names other versions read; the counts as 32 bits.
        QSettings s(path, QSettings::IniFormat);
        QCOMPARE(s.childGroups(), QStringList({"AnaIQ", "Analyzer", "DigiIQ", "Position", "Program"}));
        QCOMPARE(s.value("Analyzer/VISA Resource String").toString(), a.ana.RsrcStr);
        QVERIFY(s.value("Analyzer/Osc. Rec Len").toInt() == 4096 && s.value("DigiIQ/Sample Rate").toDouble() == 20.0);
        a.ana.Count = 5000000000ull;
        a.ana.OscRecLen = (1ull << 32) + 5;
        a.write(path);
        QSettings c(path, QSettings::IniFormat);
        QVERIFY(c.value("Analyzer/Sample Count").toULongLong() == 705032704ull && c.value("Analyzer/Osc. Rec Len") == 5);
    }

    // The high-impedance input takes at most 1.78; unreadable values read as 0.
    void handWrittenValues()
    {
        const QString imp = "[Analyzer]\nImpedance=%1\n[AnaIQ]\nIQ Range=%2\n";
        const struct { QString ini; double range; int port; double rate; } rows[] = {
            {imp.arg("true").arg(2.0), 1.78, 1000, 1e8}, {imp.arg("true").arg(1.5), 1.5, 1000, 1e8},
            {imp.arg("false").arg(2.0), 2.0, 1000, 1e8},
            {"[Program]\nTCP Port=abc\n[Analyzer]\nSample Rate=fast\n", 1.0, 0, 0.0}};
        for (const auto& row : rows) {
            QVERIFY(testutil::writeFile(dir.filePath("h.ini"), row.ini.toLatin1()));
            Panel p;
            p.read(dir.filePath("h.ini"));
            QVERIFY2(p.ana.AnaRange == row.range && p.port == row.port && p.ana.SRate == row.rate, qPrintable(row.ini));
        }
    }
};

QTEST_GUILESS_MAIN(IniFileTest)
#include "tst_inifile.moc"
