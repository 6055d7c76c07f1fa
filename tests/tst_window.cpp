// The main window driven through its widgets, offscreen: start-up and
// shutdown with the configuration file, the load, copy and save actions with
// their enabling rules and messages, and the progress dialog's cancel.
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
class CancellingProgress : public Progress {
public:
    Progress* inner = nullptr;
    QWidget* owner = nullptr;
    bool useEscape = false;
    bool sawDialog = false;
    void begin(const QString& l, uint64_t t) override { inner->begin(l, t); }
    void end() override { inner->end(); }
    void step(uint64_t d) override
    {
        inner->step(d);
        auto* dlg = owner->findChild<QProgressDialog*>();
        if (dlg && !sawDialog) {
            sawDialog = true;
            useEscape ? QTest::keyClick(dlg, Qt::Key_Escape) : dlg->findChild<QPushButton*>()->click();
        }
    }
};

int LoadRow(const char* name) { return TypeIndex(tl, TL_COUNT, name); }
int SaveRow(const char* name) { return TypeIndex(ts, TS_COUNT, name); }
const char* const kIqw = "IQW mixed, iqiqiq....iq";

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir home, work;
    FakePrompts ask;
    QString iniPath;
    QUrl openedUrl;

    QString file(const QString& name) const { return work.filePath(name); }
    // Picks the load type and file and presses Load IQ.
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
            {"Save_I", "text", "I"}, {"Save_Q", "enabled", true},
        };
        for (const auto& r : rows) {
            const QVariant got = w->findChild<QObject*>(r.name)->property(r.property);
            QVERIFY2(got == r.want, qPrintable(QStringLiteral("%1 %2: %3").arg(r.name, r.property, got.toString())));
        }
        QVERIFY(w->styleSheet().contains(":/images/arrow.png") && !QIcon(":/images/arrow.png").isNull());
        QVERIFY(ask.boxes.isEmpty());
        w.reset();
        QSettings s(iniPath, QSettings::IniFormat);
        QCOMPARE((QVariantList{s.value("Program/Source File Type").toInt(), s.value("Program/TCP Port").toInt(),
                               s.value("Position/x").toInt(), s.value("Analyzer/Sample Count").toInt()}),
                 (QVariantList{23, 1000, 100, 8192}));
    }

    void typeListsFollowTheCatalogue()
    {
        MainWindow w;
        QCOMPARE(w.ui->Load_Typ->count(), TL_COUNT);
        QCOMPARE(w.ui->Save_Typ->count(), TS_COUNT);
        // The load list writes "," between the patterns, the save list ", ".
        QCOMPARE(w.ui->Load_Typ->itemText(4), QString("MathCAD single (*.i,*.q)"));
        QCOMPARE(w.ui->Save_Typ->itemText(4), QString("MathCAD single (*.i, *.q)"));
        QCOMPARE(w.ui->Save_Typ->itemText(TS_COUNT - 1), QString("H&V WV mixed (unscrambled) (*.wv)"));
        for (int i = 0; i < TL_COUNT; ++i)
            QCOMPARE(w.ui->Load_Typ->itemData(i).toInt(), i);
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
        QCOMPARE(w.pos(), QPoint(40, 60));
        QCOMPARE(w.ui->LodTrcIqr->currentIndex(), 1);
        QVERIFY(w.loadRec.SrcTab == 1 && w.loadRec.Typ == LoadRow(kIqw) && w.loadRec.Clock == 2.5e6);
        QCOMPARE(w.loadRec.Folder, work.path());
        QCOMPARE(w.saveRec.Folder, file("sub"));
        QCOMPARE(w.ui->Save_Typ->currentIndex(), 4);
        // File names are not settings: nothing is chosen after a restart.
        QVERIFY(!w.saveIChosen && !w.loadIChosen);
        w.ui->LodTrcIqr->setCurrentIndex(0);
        QCOMPARE(w.ui->Load_Typ->currentIndex(), LoadRow(kIqw));
    }

    void handEditedFileIsReadAndRewritten()
    {
        QVERIFY(testutil::writeFile(iniPath, "[Analyzer]\nCenter Frequency=2e9\nIQ Carrier Frequency=1e6\n"
                                             "Impedance=true\n[AnaIQ]\nIQ Range=2.0\n"
                                             "[Program]\nTCP Port=4321\nSource File Type=99\n"
                                             "Destination File Type=-3\nMy Own Key=hello\n[Mine]\nx=1\n"));
        {
            MainWindow w;
            QCOMPARE(w.ana.CFreq, 1e6);
            QCOMPARE(w.ana.AnaRange, 1.78);
            QCOMPARE(w.ui->Port->value(), 4321);
            // Types out of range are brought back by the panel, not refused.
            QVERIFY(w.ui->Load_Typ->currentIndex() == 0 && w.ui->Save_Typ->currentIndex() == 0);
        }
        QSettings s(iniPath, QSettings::IniFormat);
        QCOMPARE(s.value("Analyzer/Center Frequency").toDouble(), 1e6);
        QCOMPARE(s.value("AnaIQ/IQ Range").toDouble(), 1.78);
        QVERIFY(!s.contains("Program/My Own Key") && !s.contains("Mine/x"));
    }

    void loadSucceeds()
    {
        const QString in = file("ok.iqw");
        WriteIqw(in, 1000);
        MainWindow w;
        w.ui->Load_Typ->setCurrentIndex(LoadRow(kIqw));
        ask.answers << in;
        w.ui->Load_I->click();
        QCOMPARE(ask.captions.last() + " | " + ask.filters.last(), QString("Load File | IQ File (*.iqw);;All Files (*.*)"));
        QCOMPARE(w.ui->Load_Di->text(), in);
        w.ui->Load_SRat->setValue(2e6);
        w.ui->Load_RLev->setValue(-7.5);
        w.newState = false;
        w.ui->Load_Lod->click();
        QVERIFY(ask.boxes.isEmpty() && w.newState);
        QCOMPARE(dataShown(&w), QString("11111"));
        QVERIFY(w.loadRec.N == 1000 && w.loadRec.I[999] == 999.f && w.loadRec.Q[999] == -999.f);
        QVERIFY(w.loadRec.Clock == 2e6 && w.loadRec.RefLev == -7.5f);
        QVERIFY(w.ui->Load_Cnt->value() == 1000 && w.ui->Load_Cnt->isEnabled());
        // A cancelled I dialog empties the name but keeps the shown path, the
        // data and the folder.
        w.ui->Load_I->click();
        QVERIFY(w.loadRec.FileI.isEmpty() && w.dataValid);
        QCOMPARE(w.ui->Load_Di->text(), in);
        QCOMPARE(w.loadRec.Folder, work.path());
        // A new load type forgets the files and the data.
        w.ui->Load_Typ->setCurrentIndex(LoadRow(kIqw) + 1);
        QVERIFY(w.ui->Load_Di->text().isEmpty() && w.loadRec.N == 0);
        QCOMPARE(dataShown(&w), QString("00000"));
    }

    // The box, its title and text; the data and the new-state flag are gone,
    // the paths stay.
    void loadFailures()
    {
        const struct { const char* type; const char* name; bool exists; const char* title; const char* text; } rows[] = {
            {kIqw, "none.iqw", false, "Error", "File Load Error."},
            {"Wavesmith", "s.ibn", true, "Warning", "The file %1 is scrambled. Load aborted."},
            {"UInt16", "u.i", true, "Error", "File Load Error."},   // no reader
        };
        for (const auto& r : rows) {
            const QString bad = file(r.name);
            if (r.exists)
                WriteIqw(bad, 64);
            auto w = loaded(10);
            QCOMPARE(dataShown(w.get()), QString("11111"));
            ask.clear();
            load(w.get(), LoadRow(r.type), bad);
            QCOMPARE(ask.boxes.size(), 1);
            const FakePrompts::Box& b = ask.boxes[0];
            QCOMPARE(b.kind + "|" + b.title + "|" + b.text, "warning|" + (r.title + ("|" + QString(r.text).replace("%1", bad))));
            QCOMPARE(dataShown(w.get()), QString("00000"));
            QVERIFY(!w->newState && !w->ui->Save_Sav->isEnabled());
            QCOMPARE(w->ui->Load_Di->text(), bad);
        }
    }

    void cancelledLoadShowsNothing()
    {
        const QString in = file("long.iqw");
        WriteIqw(in, 600000);
        for (bool escape : {false, true}) {
            MainWindow w;
            CancellingProgress cancel;
            cancel.inner = &w.progress;
            cancel.owner = &w;
            cancel.useEscape = escape;
            SetProgress(&cancel);
            load(&w, LoadRow(kIqw), in);
            SetProgress(&w.progress);
            QVERIFY(cancel.sawDialog && ask.boxes.isEmpty());
            QVERIFY(!w.dataValid && !w.ui->DVal->isChecked() && w.loadRec.N == 0);
            QVERIFY(!w.findChild<QProgressDialog*>());
            // The next load is not cancelled by what is left of this one.
            load(&w, LoadRow(kIqw), in);
            QVERIFY(w.dataValid && w.loadRec.N == 600000);
        }
    }

    void qFileNamesAreProposed()
    {
        const struct { bool save; const char* type; const char* chosen; const char* proposed; } rows[] = {
            {false, "MathCAD single", "/d/name.i", "/d/name.q"},
            {false, "MathCAD single", "/d/name.dat", ""},
            {false, "SPW ASCII single", "/d/name.i", ""},
            {false, "ADS ASCII single", "/d/name.i", ""},
            {true, "Matlab ASCII single", "/d/out.dat", "/d/out.q"},
            {true, "MathCAD single", "/d.x/out", "/d.x/out.q"},
            {true, "SPW ASCII single", "/d/out.ascsig", ""},
            {true, kIqw, "/d/out.iqw", ""},
        };
        for (const auto& r : rows) {
            MainWindow w;
            ask.answers << r.chosen;
            (r.save ? w.ui->Save_Typ : w.ui->Load_Typ)->setCurrentIndex(r.save ? SaveRow(r.type) : LoadRow(r.type));
            (r.save ? w.ui->Save_I : w.ui->Load_I)->click();
            QCOMPARE((r.save ? w.ui->Save_Dq : w.ui->Load_Dq)->text(), QString(r.proposed));
            QCOMPARE(r.save ? w.saveRec.FileQ : w.loadRec.FileQ, QString(r.proposed));
            if (r.save)
                QVERIFY(w.dstRec.FileQ == r.proposed && w.saveQChosen == (*r.proposed != 0));
            else
                QCOMPARE(ask.filters.last(), "I File (" + tl[w.loadRec.Typ].PatI + ");;All Files (*.*)");
        }
    }

    void saveLimitAppliesAfterALoadOnly()
    {
        for (uint64_t count : {50000000ull, 50000001ull}) {
            auto w = loaded(16);
            chooseSave(w.get(), SaveRow(kIqw), file("big.iqw"));
            QVERIFY(w->ui->Save_Sav->isEnabled());
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
        QVERIFY(!w->ui->Save_App->isEnabled());
        chooseSave(w.get(), SaveRow(kIqw), out);
        w->ui->Save_Sav->click();
        QCOMPARE(QFileInfo(out).size(), qint64(800));
        w->ui->Save_Grd->setValue(5);
        w->ui->Save_App->click();
        QVERIFY(ask.boxes.isEmpty());
        // Old data, the guard (the last 5 new samples), the new data.
        const QByteArray b = testutil::readFile(out);
        QCOMPARE(b.size(), 8 * 205);
        const std::pair<int, float> at[] = {{99, 99.f}, {100, 95.f}, {104, 99.f}, {105, 0.f}, {204, 99.f}};
        for (auto [k, v] : at)
            QCOMPARE(io::lef32(reinterpret_cast<const uint8_t*>(b.constData()) + 8 * k), v);
        // The data in memory is untouched by either.
        QVERIFY(w->loadRec.N == 100 && w->dataValid);
    }

    void saveFailuresAreReported()
    {
        for (bool append : {false, true}) {
            auto w = loaded(10);
            // A folder that does not exist: neither written nor read back.
            chooseSave(w.get(), SaveRow(kIqw), file("no/such/dir/out.iqw"));
            ask.clear();
            (append ? w->ui->Save_App : w->ui->Save_Sav)->click();
            QCOMPARE(ask.boxes.size(), 1);
            QCOMPARE(ask.boxes[0].title + "|" + ask.boxes[0].text,
                     append ? QString("Error|Memory too low.") : QString("Error|File Save Error."));
            QVERIFY(!ask.boxes[0].info.isEmpty() && w->dataValid);
        }
    }

    // Append needs a complete destination of a type that can be read back;
    // Copy IQ needs both complete pairs; a new type drops its pair.
    void enablingRules()
    {
        auto w = loaded(10);
        Ui_MainWindow* u = w->ui;
        QVERIFY(!u->Load_Cpy->isEnabled());
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
        for (const char* type : {"WAV mixed", kIqw}) {
            const bool wav = QString(type).startsWith("WAV");
            const QString in = file("copy.in"), out = file("copy.out");
            QFile::remove(out);
            if (wav)
                QVERIFY(testutil::writeFile(in, testutil::wav(2, 16, 1000, testutil::pairs({0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
                                                                                         {0, -1, -2, -3, -4, -5, -6, -7, -8, -9}))));
            else
                WriteIqw(in, 10);
            MainWindow w;
            load(&w, LoadRow(type), in);
            chooseSave(&w, SaveRow(type), out);
            const float* before = w.loadRec.I;
            w.ui->Load_Cpy->click();
            QCOMPARE(ask.boxes.size(), wav ? 0 : 1);
            if (wav)
                QCOMPARE(QFileInfo(out).size(), QFileInfo(in).size());
            else
                QCOMPARE(ask.boxes[0].text, QString("File Load Error."));
            QVERIFY(w.loadRec.I == before && w.loadRec.N == 10 && w.loadRec.I[9] == 9 && w.ui->Load_Cnt->value() == 10);
            QVERIFY(w.ui->statusBar->currentMessage().isEmpty() && w.ui->Load_Cpy->isEnabled());
        }
    }

    void menus()
    {
        const QString cfg = file("mine.ini");
        auto w = loaded(10);
        w->ui->actionAbout->trigger();
        QCOMPARE(ask.boxes.size(), 1);
        for (const char* part : {"OrvexMc", "Orvex", "6.0.6", "27-Mar-2017"})
            QVERIFY(ask.boxes[0].text.contains(part));
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
        QCOMPARE(w->ui->Save_Typ->currentIndex(), 4);
        // A configuration brings no samples: what was in memory is gone.
        QVERIFY(!w->dataValid && !w->ui->DVal->isChecked() && !w->loadRec.I);
        // A cancelled dialog changes nothing.
        w->ui->actionLoad->trigger();
        QCOMPARE(w->ui->Save_Typ->currentIndex(), 4);
    }
};

ORVEX_GUI_TEST_MAIN(WindowTest)
#include "tst_window.moc"
