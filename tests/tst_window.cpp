// The main window driven through its widgets, offscreen: start-up and
// shutdown with the configuration file, the load, copy and save actions with
// their enabling rules and messages, the progress dialog's cancel; and the
// configuration file on its own.
#include "app/inifile.h"
#include "app/mainwindow.h"
#include "formats/catalogue.h"
#include "guitest.h"
#include "remote/windowremote.h"
#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>

namespace {

// Forwards to the window's dialog and presses its Cancel (or Escape) as soon
// as the work reports its first step.
struct CancellingProgress : Progress {
    Progress* inner;
    QWidget* owner;
    bool escape, saw = false;
    CancellingProgress(Progress* p, QWidget* w, bool esc) : inner(p), owner(w), escape(esc) {}
    void begin(const QString& l, uint64_t t) override { inner->begin(l, t); }
    void end() override { inner->end(); }
    void step(uint64_t d) override
    {
        inner->step(d);
        if (auto* dlg = owner->findChild<QProgressDialog*>(); dlg && !std::exchange(saw, true))
            escape ? QTest::keyClick(dlg, Qt::Key_Escape) : dlg->findChild<QPushButton*>()->click();
    }
};

int LoadRow(const char* name) { return TypeIndex(tl, TL_COUNT, name); }
int SaveRow(const char* name) { return TypeIndex(ts, TS_COUNT, name); }
const char* const kIqw = "IQW mixed, iqiqiq....iq";

// The configuration as two functions see it.
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
        return {n.Rbw, n.SRate, n.TrgOfs, n.RecLen, n.CFreq, n.RefLev, n.Att, n.DigRange, n.DigSRate, n.AnaRange, n.AnaOfs,
                n.RelBw, n.DevTyp, n.PreTrg, n.IQInp, n.Avg, n.OscCh, n.InpTyp, n.InpMod, n.SbRf, n.SbIf, n.RbwIdx,
                n.TrgModIdx, n.TrgSlpIdx, n.SRateIdx, quint64(n.Count), quint64(n.OscRecLen), n.RsrcStr, n.FltTyp,
                n.TrgMod, n.TrgSlp, n.DatTyp, n.Raw, n.Bal, n.HighImp, n.Dith, n.LowPass, load.Clock, load.SrcTab,
                load.Folder, load.Typ, save.Folder, save.Typ, port, connectTo, x, y};
    }
    // Every value away from its default.
    void fill()
    {
        AnaStr& n = ana;
        n.Rbw = 3e5; n.SRate = 4e7; n.TrgOfs = 1.5; n.RecLen = 2.25; n.CFreq = 2.4e9; n.RefLev = -33.5; n.Att = 10;
        n.DigRange = 0.5; n.DigSRate = 20; n.AnaRange = 0.25; n.AnaOfs = 0.125; n.RelBw = 0.6; n.DevTyp = 17;
        n.PreTrg = 12; n.IQInp = 2; n.Avg = 4; n.OscCh = 3; n.InpTyp = 1; n.InpMod = 1; n.SbRf = 0; n.SbIf = 3;
        n.RbwIdx = 5; n.TrgModIdx = 2; n.TrgSlpIdx = 1; n.SRateIdx = 7; n.Count = 123456; n.OscRecLen = 4096;
        n.RsrcStr = "GPIB0::20::INSTR"; n.FltTyp = "CHAN"; n.TrgMod = "EXT"; n.TrgSlp = "NEG"; n.DatTyp = "IQ";
        n.Raw = false; n.Bal = true; n.HighImp = true; n.Dith = true; n.LowPass = true;
        load.Clock = 3.5e6; load.SrcTab = 1; load.Folder = "/in folder"; load.Typ = 14; save.Folder = "/out";
        save.Typ = 25; port = 5025; connectTo = 0; x = -20; y = 640;
    }
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir home, work;
    FakePrompts ask;
    QString iniPath;
    QUrl openedUrl;

    QString file(const QString& name) const { return work.filePath(name); }
    // Picks the type and file (and presses Load IQ).
    void load(MainWindow* w, int type, const QString& path)
    {
        w->ui->Load_Typ->setCurrentIndex(type);
        ask.answers << path;
        w->ui->Load_I->click();
        w->ui->Load_Lod->click();
    }
    void chooseSave(MainWindow* w, int type, const QString& path)
    {
        w->ui->Save_Typ->setCurrentIndex(type);
        ask.answers << path;
        w->ui->Save_I->click();
    }
    // A window holding n samples, I = k and Q = -k, loaded from src.iqw.
    std::unique_ptr<MainWindow> loaded(int n)
    {
        WriteIqw(file("src.iqw"), n);
        auto w = std::make_unique<MainWindow>();
        load(w.get(), LoadRow(kIqw), file("src.iqw"));
        return w;
    }
    // The data flag as the user sees it: the flag, its box, the graph buttons.
    static QString dataShown(MainWindow* w)
    {
        QString s;
        for (bool on : {w->dataValid, w->ui->DVal->isChecked(), w->ui->Spec->isEnabled(), w->ui->IvsQ->isEnabled(),
                        w->ui->GDel->isEnabled()})
            s += on ? '1' : '0';
        return s;
    }

public slots:
    void openUrl(const QUrl& url) { openedUrl = url; }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid() && work.isValid());
        iniPath = UseSettingsHome(home.path());
        SetPrompts(&ask);
        // These windows never need the symbol server's port.
        SetWindowServerListens(false);
    }
    void cleanupTestCase() { SetPrompts(nullptr); }
    void init()
    {
        QFile::remove(iniPath);
        ask.clear();
    }
    void cleanup() { QCOMPARE(EscFlg, 0); }

    void firstStartGivesDefaultsAndWritesFileOnQuit()
    {
        auto w = std::make_unique<MainWindow>();
        QCOMPARE(w->settingsFolder, home.path() + "/Halvard/OrvexMc");
        QCOMPARE(w->pos(), QPoint(100, 100));
        // The defaults shown, nothing loaded or chosen yet.
        const struct { const char* name; const char* property; QVariant want; } rows[] = {
            {"Port", "value", 1000}, {"ConnectTo", "currentIndex", 1}, {"Load_Typ", "currentIndex", 23},
            {"Save_Typ", "currentIndex", 0}, {"Load_SRat", "value", 1e8}, {"LodTrcIqr", "currentIndex", 0},
            {"DVal", "checked", false}, {"Spec", "enabled", false}, {"Save_Sav", "enabled", false},
            {"Load_Cpy", "enabled", false}, {"Load_I", "text", "IQ"}, {"Load_Q", "enabled", false},
            {"Save_I", "text", "I"}, {"Save_Q", "enabled", true}};
        for (const auto& r : rows)
            QVERIFY2(w->findChild<QObject*>(r.name)->property(r.property) == r.want, r.name);
        // The load list writes "," between the patterns, the save list ", ".
        QCOMPARE(w->ui->Load_Typ->itemText(4) + w->ui->Save_Typ->itemText(4), QString("MathCAD single (*.i,*.q)MathCAD single (*.i, *.q)"));
        QVERIFY(w->styleSheet().contains(":/images/arrow.png") && !QIcon(":/images/arrow.png").isNull() && ask.boxes.isEmpty());
        w.reset();
        QSettings s(iniPath, QSettings::IniFormat);
        QCOMPARE((QVariantList{s.value("Program/Source File Type").toInt(), s.value("Program/TCP Port").toInt(),
                               s.value("Position/x").toInt(), s.value("Analyzer/Sample Count").toInt()}),
                 (QVariantList{23, 1000, 100, 8192}));
    }

    void settingsSurviveARestart()
    {
        {
            MainWindow w;
            w.move(40, 60);
            w.ui->Load_SRat->setValue(2.5e6);
            load(&w, LoadRow(kIqw), file("missing.iqw"));
            chooseSave(&w, 4, file("sub/out.i"));
            w.ui->LodTrcIqr->setCurrentIndex(1);
        }
        MainWindow w;
        QVERIFY(w.pos() == QPoint(40, 60) && w.ui->LodTrcIqr->currentIndex() == 1 && w.ui->Save_Typ->currentIndex() == 4);
        QVERIFY(w.loadRec.SrcTab == 1 && w.loadRec.Typ == LoadRow(kIqw) && w.loadRec.Clock == 2.5e6);
        QVERIFY(w.loadRec.Folder == work.path() && w.saveRec.Folder == file("sub"));
        // File names are not settings: nothing is chosen after a restart.
        QVERIFY(!w.saveIChosen && !w.loadIChosen);
        w.ui->LodTrcIqr->setCurrentIndex(0);
        QCOMPARE(w.ui->Load_Typ->currentIndex(), LoadRow(kIqw));
    }

    // Types out of range are brought back by the panel, not refused; keys
    // of other writers disappear.
    void handEditedFileIsReadAndRewritten()
    {
        QVERIFY(testutil::writeFile(iniPath, "[Analyzer]\nCenter Frequency=2e9\nIQ Carrier Frequency=1e6\n[Program]\n"
                                             "TCP Port=4321\nSource File Type=99\nDestination File Type=-3\nMy Own Key=1\n"));
        {
            MainWindow w;
            QVERIFY(w.ana.CFreq == 1e6 && w.ui->Port->value() == 4321);
            QVERIFY(w.ui->Load_Typ->currentIndex() == 0 && w.ui->Save_Typ->currentIndex() == 0);
        }
        QSettings s(iniPath, QSettings::IniFormat);
        QVERIFY(s.value("Analyzer/Center Frequency").toDouble() == 1e6 && !s.contains("Program/My Own Key"));
    }

    void loadSucceeds()
    {
        const QString in = file("ok.iqw");
        WriteIqw(in, 1000);
        MainWindow w;
        w.ui->Load_Typ->setCurrentIndex(LoadRow(kIqw));
        ask.answers << in;
        w.ui->Load_I->click();
        QVERIFY(ask.filters.last() == "IQ File (*.iqw);;All Files (*.*)" && w.ui->Load_Di->text() == in);
        w.ui->Load_SRat->setValue(2e6);
        w.ui->Load_RLev->setValue(-7.5);
        w.newState = false;
        w.ui->Load_Lod->click();
        QVERIFY(ask.boxes.isEmpty() && w.newState && dataShown(&w) == "11111");
        QVERIFY(w.loadRec.N == 1000 && w.loadRec.I[999] == 999.f && w.loadRec.Q[999] == -999.f);
        QVERIFY(w.loadRec.Clock == 2e6 && w.loadRec.RefLev == -7.5f && w.ui->Load_Cnt->value() == 1000);
        // A cancelled I dialog empties the name but keeps the shown path, the
        // data and the folder.
        w.ui->Load_I->click();
        QVERIFY(w.loadRec.FileI.isEmpty() && w.dataValid && w.ui->Load_Di->text() == in && w.loadRec.Folder == work.path());
        // A new load type forgets the files and the data.
        w.ui->Load_Typ->setCurrentIndex(LoadRow(kIqw) + 1);
        QVERIFY(w.ui->Load_Di->text().isEmpty() && w.loadRec.N == 0 && dataShown(&w) == "00000");
    }

    // The box, its title and text; the data and the new-state flag are gone,
    // the paths stay.
    void loadFailures()
    {
        const struct { const char* type; const char* name; const char* box; } rows[] = {
            {kIqw, "none.iqw", "Error|File Load Error."},
            {"Wavesmith", "s.ibn", "Warning|The file %1 is scrambled. Load aborted."},
            {"UInt16", "u.i", "Error|File Load Error."}};   // no reader
        for (const auto& r : rows) {
            const QString bad = file(r.name);
            if (QString(r.name) != "none.iqw")
                WriteIqw(bad, 64);
            auto w = loaded(10);
            QCOMPARE(dataShown(w.get()), QString("11111"));
            ask.clear();
            load(w.get(), LoadRow(r.type), bad);
            QCOMPARE(ask.boxes.size(), 1);
            QCOMPARE(ask.boxes[0].kind + "|" + ask.boxes[0].title + "|" + ask.boxes[0].text, "warning|" + QString(r.box).replace("%1", bad));
            QVERIFY(dataShown(w.get()) == "00000" && !w->newState && !w->ui->Save_Sav->isEnabled() && w->ui->Load_Di->text() == bad);
        }
    }

    void cancelledLoadShowsNothing()
    {
        const QString in = file("long.iqw");
        WriteIqw(in, 600000);
        for (bool escape : {false, true}) {
            MainWindow w;
            CancellingProgress cancel(&w.progress, &w, escape);
            SetProgress(&cancel);
            load(&w, LoadRow(kIqw), in);
            SetProgress(&w.progress);
            QVERIFY(cancel.saw && ask.boxes.isEmpty() && !w.findChild<QProgressDialog*>());
            QVERIFY(!w.dataValid && !w.ui->DVal->isChecked() && w.loadRec.N == 0);
            // The next load is not cancelled by what is left of this one.
            load(&w, LoadRow(kIqw), in);
            QVERIFY(w.dataValid && w.loadRec.N == 600000);
        }
    }

    void qFileNamesAreProposed()
    {
        const struct { bool save; const char* type; const char* chosen; const char* proposed; } rows[] = {
            {false, "MathCAD single", "/d/name.i", "/d/name.q"}, {false, "MathCAD single", "/d/name.dat", ""},
            {false, "SPW ASCII single", "/d/name.i", ""}, {false, "ADS ASCII single", "/d/name.i", ""},
            {true, "Matlab ASCII single", "/d/out.dat", "/d/out.q"}, {true, "MathCAD single", "/d.x/out", "/d.x/out.q"},
            {true, "SPW ASCII single", "/d/out.ascsig", ""}, {true, kIqw, "/d/out.iqw", ""}};
        for (const auto& r : rows) {
            MainWindow w;
            ask.answers << r.chosen;
            (r.save ? w.ui->Save_Typ : w.ui->Load_Typ)->setCurrentIndex(r.save ? SaveRow(r.type) : LoadRow(r.type));
            (r.save ? w.ui->Save_I : w.ui->Load_I)->click();
            QCOMPARE((r.save ? w.ui->Save_Dq : w.ui->Load_Dq)->text(), QString(r.proposed));
            QCOMPARE(r.save ? w.saveRec.FileQ : w.loadRec.FileQ, QString(r.proposed));
            QVERIFY(r.save ? w.dstRec.FileQ == r.proposed && w.saveQChosen == (*r.proposed != 0)
                           : ask.filters.last() == "I File (" + tl[w.loadRec.Typ].PatI + ");;All Files (*.*)");
        }
    }

    void saveLimitAppliesAfterALoadOnly()
    {
        for (uint64_t count : {50000000ull, 50000001ull}) {
            auto w = loaded(16);
            chooseSave(w.get(), SaveRow(kIqw), file("big.iqw"));
            // As if the load had delivered that many samples; nothing is saved.
            w->loadRec.N = count;
            w->LoadPostAction();
            QCOMPARE(w->ui->Save_Sav->isEnabled(), count == 50000000);
            chooseSave(w.get(), SaveRow(kIqw), file("big.iqw"));
            QVERIFY(w->ui->Save_Sav->isEnabled());
            w->loadRec.N = 16;
        }
    }

    void saveAndAppend()
    {
        const QString out = file("dst.iqw");
        auto w = loaded(100);
        chooseSave(w.get(), SaveRow(kIqw), out);
        w->ui->Save_Sav->click();
        QCOMPARE(QFileInfo(out).size(), qint64(800));
        w->ui->Save_Grd->setValue(5);
        w->ui->Save_App->click();
        // Old data, the guard (the last 5 new samples), the new data; the data
        // in memory untouched by either.
        const QByteArray b = testutil::readFile(out);
        QCOMPARE(b.size(), 8 * 205);
        const std::pair<int, float> at[] = {{99, 99.f}, {100, 95.f}, {104, 99.f}, {105, 0.f}, {204, 99.f}};
        for (auto [k, v] : at)
            QCOMPARE(io::lef32(reinterpret_cast<const uint8_t*>(b.constData()) + 8 * k), v);
        QVERIFY(ask.boxes.isEmpty() && w->loadRec.N == 100 && w->dataValid);
    }

    // A folder that does not exist: neither written nor read back.
    void saveFailuresAreReported()
    {
        for (bool append : {false, true}) {
            auto w = loaded(10);
            chooseSave(w.get(), SaveRow(kIqw), file("no/such/dir/out.iqw"));
            ask.clear();
            (append ? w->ui->Save_App : w->ui->Save_Sav)->click();
            QCOMPARE(ask.boxes.size(), 1);
            QCOMPARE(ask.boxes[0].title + "|" + ask.boxes[0].text, QString(append ? "Error|Memory too low." : "Error|File Save Error."));
            QVERIFY(!ask.boxes[0].info.isEmpty() && w->dataValid);
        }
    }

    // Append needs a complete destination of a type that can be read back;
    // Copy IQ needs both complete pairs; a new type drops its pair.
    void enablingRules()
    {
        auto w = loaded(10);
        Ui_MainWindow* u = w->ui;
        QVERIFY(!u->Load_Cpy->isEnabled() && !u->Save_App->isEnabled());
        chooseSave(w.get(), SaveRow("Hex 16-bit signed mixed"), file("h.txt"));
        QVERIFY(!u->Save_App->isEnabled() && u->Load_Cpy->isEnabled());
        chooseSave(w.get(), SaveRow(kIqw), file("a.iqw"));
        QVERIFY(u->Save_App->isEnabled());
        u->Save_Typ->setCurrentIndex(SaveRow(kIqw) + 1);
        QVERIFY(!u->Save_App->isEnabled() && !u->Save_Sav->isEnabled() && !u->Load_Cpy->isEnabled());
        chooseSave(w.get(), SaveRow("SPW ASCII single"), file("a.ascsig"));
        QVERIFY(!u->Save_App->isEnabled());
        ask.answers << file("b.ascsig");
        u->Save_Q->click();
        QVERIFY(u->Save_App->isEnabled() && u->Save_Sav->isEnabled() && u->Load_Cpy->isEnabled());
        // A two-file load type with only its I file is incomplete, even with
        // a proposed Q name; choosing the Q file completes it.
        u->Load_Typ->setCurrentIndex(LoadRow("MathCAD single"));
        ask.answers << file("x.i");
        u->Load_I->click();
        QVERIFY(!u->Load_Cpy->isEnabled());
        ask.answers << file("x.q");
        u->Load_Q->click();
        QVERIFY(u->Load_Cpy->isEnabled());
    }

    // Copy IQ goes file to file: the samples in memory stay as they were,
    // whether the copy succeeds or is refused.
    void copyLeavesTheDataInMemory()
    {
        const QString in = file("copy.in"), out = file("copy.out");
        for (bool wav : {true, false}) {
            if (wav)
                QVERIFY(testutil::writeFile(in, testutil::wav(2, 16, 1000, testutil::pairs({0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
                                                                                         {0, -1, -2, -3, -4, -5, -6, -7, -8, -9}))));
            else
                WriteIqw(in, 10);
            const char* type = wav ? "WAV mixed" : kIqw;
            MainWindow w;
            load(&w, LoadRow(type), in);
            chooseSave(&w, SaveRow(type), out);
            const float* before = w.loadRec.I;
            w.ui->Load_Cpy->click();
            QVERIFY(wav ? ask.boxes.isEmpty() && QFileInfo(out).size() == QFileInfo(in).size()
                        : ask.boxes.size() == 1 && ask.boxes[0].text == "File Load Error.");
            QVERIFY(w.loadRec.I == before && w.loadRec.N == 10 && w.loadRec.I[9] == 9 && w.ui->Load_Cnt->value() == 10);
            QVERIFY(w.ui->statusBar->currentMessage().isEmpty() && w.ui->Load_Cpy->isEnabled());
        }
    }

    void menus()
    {
        const QString cfg = file("mine.ini");
        auto w = loaded(10);
        w->ui->actionAbout->trigger();
        QVERIFY(ask.boxes.size() == 1 && ask.boxes[0].kind == "about");
        QDesktopServices::setUrlHandler("file", this, "openUrl");
        w->ui->actionContents->trigger();
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(openedUrl, QUrl::fromLocalFile(QDir::currentPath() + "/Orvex.pdf"));
        w->ui->Save_Typ->setCurrentIndex(4);
        ask.answers << cfg;
        w->ui->actionSave->trigger();
        QCOMPARE(QSettings(cfg, QSettings::IniFormat).value("Program/Destination File Type").toInt(), 4);
        w->ui->Save_Typ->setCurrentIndex(0);
        ask.answers << cfg;
        w->ui->actionLoad->trigger();
        // A configuration brings no samples: what was in memory is gone. A
        // cancelled dialog changes nothing.
        QVERIFY(w->ui->Save_Typ->currentIndex() == 4 && !w->dataValid && !w->ui->DVal->isChecked() && !w->loadRec.I);
        w->ui->actionLoad->trigger();
        QCOMPARE(w->ui->Save_Typ->currentIndex(), 4);
    }

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

    // Every key written is read back (a key misspelt on one side would come
    // back as the default); a missing file resets every value and releases
    // the samples; the counts are written as 32 bits.
    void configurationKeys()
    {
        Panel a, b, none, d;
        a.fill();
        MakeIQArr(&none.load, 16);
        MakeIQArr(&none.save, 16);
        none.read(work.filePath("none.ini"));
        QVERIFY(!none.load.I && !none.load.Q && !none.save.I && !none.save.Q);
        d.load.Typ = 23, d.port = 1000, d.connectTo = 1, d.x = d.y = 100;
        QCOMPARE(none.values(), d.values());
        for (int k = 0; k < d.values().size(); ++k)
            QVERIFY2(a.values()[k] != d.values()[k], qPrintable(QString::number(k)));
        const QString path = work.filePath("all.ini");
        a.write(path);
        b.read(path);
        QCOMPARE(b.values(), a.values());
        // The groups and key names other versions read.
        QSettings s(path, QSettings::IniFormat);
        QCOMPARE(s.childGroups(), QStringList({"AnaIQ", "Analyzer", "DigiIQ", "Position", "Program"}));
        QVERIFY(s.value("Analyzer/VISA Resource String") == a.ana.RsrcStr && s.value("DigiIQ/Sample Rate") == 20.0);
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
            {imp.arg("false").arg(2.0), 2.0, 1000, 1e8}, {"[Program]\nTCP Port=abc\n[Analyzer]\nSample Rate=fast\n", 1.0, 0, 0.0}};
        for (const auto& row : rows) {
            QVERIFY(testutil::writeFile(work.filePath("h.ini"), row.ini.toLatin1()));
            Panel p;
            p.read(work.filePath("h.ini"));
            QVERIFY2(p.ana.AnaRange == row.range && p.port == row.port && p.ana.SRate == row.rate, qPrintable(row.ini));
        }
    }
};

ORVEX_GUI_TEST_MAIN(WindowTest)
#include "tst_window.moc"
