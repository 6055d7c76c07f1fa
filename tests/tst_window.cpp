// The main window driven through its widgets, offscreen: start-up and
// shutdown with the configuration file, the load, copy and save actions with
// their enabling rules and messages, and the progress dialog's cancel.
#include "app/inifile.h"
#include "app/mainwindow.h"
#include "formats/catalogue.h"
#include "remote/windowremote.h"
#include "guitest.h"
#include "iqfiles.h"
#include "testutil.h"
#include "ui_mainwindow.h"
#include "windowtest.h"

#include <QDesktopServices>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

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

// Looked up when the catalogue exists, not during static initialisation.
int kIqwLoad = -1;
int kIqwSave = -1;

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    QTemporaryDir work;
    FakePrompts ask;
    QString iniPath;
    QUrl openedUrl;

    std::unique_ptr<MainWindow> start() { return std::make_unique<MainWindow>(); }
    static Ui_MainWindow* ui(MainWindow* w) { return w->ui; }
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
        WriteIqw(file(QStringLiteral("src.iqw")), n);
        auto w = start();
        load(w.get(), kIqwLoad, file(QStringLiteral("src.iqw")));
        return w;
    }
    // The data flag as the user sees it: the flag, its box, the graph buttons.
    static QString dataShown(MainWindow* w)
    {
        QString s;
        for (bool on : {w->dataValid, w->ui->DVal->isChecked(), w->ui->Spec->isEnabled(),
                        w->ui->IvsQ->isEnabled(), w->ui->GDel->isEnabled()})
            s += on ? QLatin1Char('1') : QLatin1Char('0');
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
        kIqwLoad = TypeIndex(tl, TL_COUNT, "IQW mixed, iqiqiq....iq");
        kIqwSave = TypeIndex(ts, TS_COUNT, "IQW mixed, iqiqiq....iq");
        QVERIFY(kIqwLoad >= 0 && kIqwSave >= 0);
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
        QVERIFY(!QFile::exists(iniPath));
        auto w = start();
        QCOMPARE(w->settingsFolder, home.path() + QStringLiteral("/Halvard/OrvexMc"));
        QCOMPARE((QList<double>{double(w->ana.DevTyp), w->ana.SRate, w->ana.RecLen, double(w->ana.Count)}),
                 (QList<double>{6, 1e8, 0.001, 8192}));
        QCOMPARE(w->pos(), QPoint(100, 100));
        // The defaults shown, nothing loaded or chosen yet, and the form's own texts.
        struct Row {
            const char* name;
            const char* property;
            QVariant want;
        };
        const Row rows[] = {
            {"Port", "value", 1000}, {"ConnectTo", "currentIndex", 1}, {"Load_Typ", "currentIndex", 23},
            {"Load_Typ", "currentText", "Wavesmith (*.ibn)"}, {"Save_Typ", "currentIndex", 0},
            {"Load_SRat", "value", 1e8}, {"LodTrcIqr", "currentIndex", 0}, {"DVal", "checked", false},
            {"Spec", "enabled", false}, {"Save_Sav", "enabled", false}, {"Load_Cpy", "enabled", false},
            {"Load_I", "text", "IQ"}, {"Load_Q", "enabled", false}, {"Save_I", "text", "I"},
            {"Save_Q", "enabled", true}, {"Trace_Trc", "enabled", false}, {"Conn", "enabled", false},
            {"DVal", "enabled", false}, {"Quit", "text", "Quit"}, {"PortLbl", "text", "TCP/IP Port"},
            {"Conn", "text", "Connected"}, {"DVal", "text", "Data Valid"}, {"Spec", "text", "Spectrum"},
            {"GDel", "text", "Grp.Delay"}, {"IvsQ", "text", "I vs. Q"}, {"Save_Sav", "text", "Save IQ"},
            {"Save_App", "text", "Append"}, {"Load_Frq_Lbl", "text", "SRate/Hz"}, {"Load_Lod", "text", "Load IQ"},
            {"Load_Cpy", "text", "Copy IQ"}, {"Trace_Init", "text", "Init"}, {"Trace_Raw", "text", "Raw"},
            {"Trace_Trc", "text", "Trace IQ"}, {"Trace_Ana_DatTyp", "text", "RAW"},
            {"actionLoad", "text", "Load Configuration"}, {"actionSave", "text", "Save Configuration"},
            {"actionQuit", "text", "Quit"}, {"actionContents", "text", "Contents"}, {"actionAbout", "text", "About"},
            {"Load_SRat", "maximum", 1e11}, {"Load_SRat", "decimals", 0}, {"Load_Cnt", "maximum", 999999999},
            {"Port", "maximum", 999999999},
        };
        for (const Row& r : rows) {
            QObject* o = w->findChild<QObject*>(QLatin1String(r.name));
            QVERIFY2(o, r.name);
            const QVariant got = o->property(r.property);
            QVERIFY2(got == r.want, qPrintable(QStringLiteral("%1 %2: %3").arg(r.name, r.property, got.toString())));
        }
        Ui_MainWindow* u = ui(w.get());
        QCOMPARE(QStringList({u->LodTrcIqr->tabText(0), u->LodTrcIqr->tabText(1)}),
                 QStringList({" Load IQ Data ", " Trace IQ Data"}));
        QCOMPARE(QStringList({u->ConnectTo->itemText(0), u->ConnectTo->itemText(1)}),
                 QStringList({"WVSMITH", "WVSMITH2"}));
        QCOMPARE(w->size(), QSize(525, 470));
        QCOMPARE(w->minimumSize(), QSize(525, 455));
        // The resources are compiled in and the style sheet applied.
        QVERIFY(!w->windowIcon().isNull() && !QIcon(QStringLiteral(":/images/arrow.png")).isNull());
        QVERIFY(w->styleSheet().contains(QLatin1String("rgb(0, 142, 214)")));
        QVERIFY(w->styleSheet().contains(QLatin1String(":/images/arrow.png")));
        QVERIFY(ask.boxes.isEmpty());
        w.reset();

        QSettings s(iniPath, QSettings::IniFormat);
        QVERIFY(QFile::exists(iniPath));
        QCOMPARE(s.value(QStringLiteral("Program/Source File Type")).toInt(), 23);
        QCOMPARE(s.value(QStringLiteral("Program/TCP Port")).toInt(), 1000);
        QCOMPARE(s.value(QStringLiteral("Position/x")).toInt(), 100);
        QCOMPARE(s.value(QStringLiteral("Analyzer/Sample Count")).toULongLong(), 8192ull);
    }

    void typeListsFollowTheCatalogue()
    {
        auto w = start();
        Ui_MainWindow* u = ui(w.get());
        QCOMPARE(u->Load_Typ->count(), TL_COUNT);
        QCOMPARE(u->Save_Typ->count(), TS_COUNT);
        const int mathcad = TypeIndex(tl, TL_COUNT, "MathCAD single");
        // The load list writes "," between the patterns, the save list ", ".
        QCOMPARE(u->Load_Typ->itemText(mathcad), QStringLiteral("MathCAD single (*.i,*.q)"));
        QCOMPARE(u->Save_Typ->itemText(mathcad), QStringLiteral("MathCAD single (*.i, *.q)"));
        QCOMPARE(u->Save_Typ->itemText(TS_COUNT - 1), QStringLiteral("H&V WV mixed (unscrambled) (*.wv)"));
        for (int i = 0; i < TL_COUNT; ++i)
            QCOMPARE(u->Load_Typ->itemData(i).toInt(), i);
    }

    void settingsSurviveARestart()
    {
        {
            auto w = start();
            w->move(40, 60);
            ui(w.get())->Load_SRat->setValue(2.5e6);
            load(w.get(), kIqwLoad, file(QStringLiteral("missing.iqw")));
            chooseSave(w.get(), 4, work.filePath(QStringLiteral("sub/out.i")));
            ui(w.get())->LodTrcIqr->setCurrentIndex(1);
        }
        auto w = start();
        QCOMPARE(w->pos(), QPoint(40, 60));
        QCOMPARE(ui(w.get())->LodTrcIqr->currentIndex(), 1);
        QCOMPARE(w->loadRec.SrcTab, 1);
        QCOMPARE(w->loadRec.Typ, kIqwLoad);
        QCOMPARE(w->loadRec.Folder, work.path());
        QCOMPARE(w->loadRec.Clock, 2.5e6);
        QCOMPARE(ui(w.get())->Save_Typ->currentIndex(), 4);
        QCOMPARE(w->saveRec.Folder, work.filePath(QStringLiteral("sub")));
        // File names are not settings: nothing is chosen after a restart.
        QVERIFY(!w->saveIChosen && !w->loadIChosen);
        ui(w.get())->LodTrcIqr->setCurrentIndex(0);
        QCOMPARE(ui(w.get())->Load_Typ->currentIndex(), kIqwLoad);
    }

    void handEditedFileIsReadAndRewritten()
    {
        QVERIFY(testutil::writeFile(iniPath, "[Analyzer]\nCenter Frequency=2e9\nIQ Carrier Frequency=1e6\n"
                                             "Impedance=true\n[AnaIQ]\nIQ Range=2.0\n"
                                             "[Program]\nTCP Port=4321\nSource File Type=99\n"
                                             "Destination File Type=-3\nMy Own Key=hello\n[Mine]\nx=1\n"));
        {
            auto w = start();
            QCOMPARE(w->ana.CFreq, 1e6);
            QCOMPARE(w->ana.AnaRange, 1.78);
            QCOMPARE(ui(w.get())->Port->value(), 4321);
            // Types out of range are brought back by the panel, not refused.
            QCOMPARE(ui(w.get())->Load_Typ->currentIndex(), 0);
            QCOMPARE(ui(w.get())->Save_Typ->currentIndex(), 0);
        }
        QSettings s(iniPath, QSettings::IniFormat);
        QCOMPARE(s.value(QStringLiteral("Analyzer/Center Frequency")).toDouble(), 1e6);
        QCOMPARE(s.value(QStringLiteral("Analyzer/IQ Carrier Frequency")).toDouble(), 1e6);
        QCOMPARE(s.value(QStringLiteral("AnaIQ/IQ Range")).toDouble(), 1.78);
        QVERIFY(!s.contains(QStringLiteral("Program/My Own Key")) && !s.contains(QStringLiteral("Mine/x")));
        QCOMPARE(s.value(QStringLiteral("Program/TCP Port")).toInt(), 4321);
    }

    void loadSucceeds()
    {
        const QString in = file(QStringLiteral("ok.iqw"));
        WriteIqw(in, 1000);
        auto w = start();
        Ui_MainWindow* u = ui(w.get());
        u->Load_Typ->setCurrentIndex(kIqwLoad);
        QCOMPARE(QStringList({u->Load_I->text(), u->Load_Q->text()}), QStringList({"IQ", ""}));
        ask.answers << in;
        u->Load_I->click();
        QCOMPARE(ask.asked.last().caption, QStringLiteral("Load File"));
        QCOMPARE(ask.asked.last().filter, QStringLiteral("IQ File (*.iqw);;All Files (*.*)"));
        QCOMPARE(u->Load_Di->text(), in);
        u->Load_SRat->setValue(2e6);
        u->Load_RLev->setValue(-7.5);
        w->newState = false;
        u->Load_Lod->click();

        QVERIFY(ask.boxes.isEmpty());
        QCOMPARE(dataShown(w.get()), QStringLiteral("11111"));
        QVERIFY(w->newState);
        QCOMPARE(w->loadRec.N, uint64_t(1000));
        QCOMPARE(w->loadRec.I[999], 999.f);
        QCOMPARE(w->loadRec.Q[999], -999.f);
        QCOMPARE(w->loadRec.Clock, 2e6);
        QCOMPARE(w->loadRec.RefLev, -7.5f);
        QCOMPARE(u->Load_Cnt->value(), 1000);
        QVERIFY(u->Load_Cnt->isEnabled());
        // A cancelled I dialog empties the name but keeps the shown path,
        // the data and the folder.
        u->Load_I->click();
        QVERIFY(w->loadRec.FileI.isEmpty());
        QCOMPARE(u->Load_Di->text(), in);
        QVERIFY(w->dataValid);
        QCOMPARE(w->loadRec.Folder, work.path());
        // A new load type forgets the files and the data.
        u->Load_Typ->setCurrentIndex(kIqwLoad + 1);
        QVERIFY(u->Load_Di->text().isEmpty());
        QCOMPARE(dataShown(w.get()), QStringLiteral("00000"));
        QCOMPARE(w->loadRec.N, uint64_t(0));
    }

    void loadFailures_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing file") << kIqwLoad << "none.iqw" << false << "Error" << "File Load Error.";
        // The IBN reader refuses every file as scrambled.
        QTest::newRow("scrambled") << TypeIndex(tl, TL_COUNT, "Wavesmith") << "s.ibn" << true << "Warning"
                                   << "The file %1 is scrambled. Load aborted.";
        QTest::newRow("no reader") << TypeIndex(tl, TL_COUNT, "UInt16") << "u.i" << true << "Error"
                                   << "File Load Error.";
    }
    void loadFailures()
    {
        QFETCH(int, type);
        QFETCH(QString, name);
        QFETCH(bool, exists);
        QFETCH(QString, title);
        QFETCH(QString, text);
        const QString bad = file(name);
        if (exists)
            WriteIqw(bad, 64);
        auto w = loaded(10);
        QCOMPARE(dataShown(w.get()), QStringLiteral("11111"));
        load(w.get(), type, bad);
        QCOMPARE(ask.boxes.size(), 1);
        QCOMPARE(ask.boxes[0].kind, QStringLiteral("warning"));
        QCOMPARE(ask.boxes[0].title, title);
        QCOMPARE(ask.boxes[0].text, text.contains(QLatin1String("%1")) ? text.arg(bad) : text);
        QCOMPARE(dataShown(w.get()), QStringLiteral("00000"));
        QVERIFY(!w->newState);
        QVERIFY(!ui(w.get())->Save_Sav->isEnabled());
        // The paths stay as they were.
        QCOMPARE(ui(w.get())->Load_Di->text(), bad);
    }

    void cancelledLoadShowsNothing_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Cancel button") << false;
        QTest::newRow("Escape key") << true;
    }
    void cancelledLoadShowsNothing()
    {
        QFETCH(bool, escape);
        const QString in = file(QStringLiteral("long.iqw"));
        WriteIqw(in, 600000);
        auto w = start();
        CancellingProgress cancel;
        cancel.inner = &w->progress;
        cancel.owner = w.get();
        cancel.useEscape = escape;
        SetProgress(&cancel);
        load(w.get(), kIqwLoad, in);
        SetProgress(&w->progress);
        QVERIFY(cancel.sawDialog);
        QVERIFY(ask.boxes.isEmpty());
        QVERIFY(!w->dataValid && !ui(w.get())->DVal->isChecked());
        QCOMPARE(w->loadRec.N, uint64_t(0));
        QVERIFY(!w->findChild<QProgressDialog*>());
        // The next load is not cancelled by what is left of this one.
        load(w.get(), kIqwLoad, in);
        QVERIFY(w->dataValid);
        QCOMPARE(w->loadRec.N, uint64_t(600000));
    }

    void qFileNamesAreProposed_data()
    {
        QTest::addColumn<bool>("saveSide");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("proposed");
        QTest::newRow("load name.i") << false << "MathCAD single" << "/d/name.i" << "/d/name.q";
        QTest::newRow("load other extension") << false << "MathCAD single" << "/d/name.dat" << "";
        QTest::newRow("load SPW ASCII") << false << "SPW ASCII single" << "/d/name.i" << "";
        QTest::newRow("load ADS ASCII") << false << "ADS ASCII single" << "/d/name.i" << "";
        QTest::newRow("save out.dat") << true << "Matlab ASCII single" << "/d/out.dat" << "/d/out.q";
        QTest::newRow("save dotted folder") << true << "MathCAD single" << "/d.x/out" << "/d.x/out.q";
        QTest::newRow("save SPW ASCII") << true << "SPW ASCII single" << "/d/out.ascsig" << "";
        QTest::newRow("save one-file") << true << "IQW mixed, iqiqiq....iq" << "/d/out.iqw" << "";
    }
    void qFileNamesAreProposed()
    {
        QFETCH(bool, saveSide);
        QFETCH(QString, type);
        QFETCH(QString, chosen);
        QFETCH(QString, proposed);
        auto w = start();
        Ui_MainWindow* u = ui(w.get());
        ask.answers << chosen;
        if (saveSide) {
            u->Save_Typ->setCurrentIndex(TypeIndex(ts, TS_COUNT, type.toLatin1()));
            u->Save_I->click();
            QCOMPARE(u->Save_Dq->text(), proposed);
            QCOMPARE(w->saveRec.FileQ, proposed);
            QCOMPARE(w->dstRec.FileQ, proposed);
            QCOMPARE(w->saveQChosen, !proposed.isEmpty());
            QCOMPARE(ask.asked.last().caption, QStringLiteral("Save File"));
        } else {
            u->Load_Typ->setCurrentIndex(TypeIndex(tl, TL_COUNT, type.toLatin1()));
            u->Load_I->click();
            QCOMPARE(u->Load_Dq->text(), proposed);
            QCOMPARE(w->loadRec.FileQ, proposed);
            QCOMPARE(ask.asked.last().filter, QStringLiteral("I File (") + tl[w->loadRec.Typ].PatI
                                                  + QStringLiteral(");;All Files (*.*)"));
        }
    }

    void saveLimitAppliesAfterALoadOnly_data()
    {
        QTest::addColumn<quint64>("count");
        QTest::addColumn<bool>("enabledAfterLoad");
        QTest::newRow("at the limit") << quint64(50000000) << true;
        QTest::newRow("one above") << quint64(50000001) << false;
    }
    void saveLimitAppliesAfterALoadOnly()
    {
        QFETCH(quint64, count);
        QFETCH(bool, enabledAfterLoad);
        WriteIqw(file(QStringLiteral("src.iqw")), 16);
        auto w = start();
        chooseSave(w.get(), kIqwSave, file(QStringLiteral("big.iqw")));
        load(w.get(), kIqwLoad, file(QStringLiteral("src.iqw")));
        QVERIFY(ui(w.get())->Save_Sav->isEnabled());
        // As if the load had delivered that many samples; nothing is saved.
        w->loadRec.N = count;
        w->LoadPostAction();
        QCOMPARE(ui(w.get())->Save_Sav->isEnabled(), enabledAfterLoad);
        chooseSave(w.get(), kIqwSave, file(QStringLiteral("big.iqw")));
        QVERIFY(ui(w.get())->Save_Sav->isEnabled());
        w->loadRec.N = 16;
    }

    void saveAndAppend()
    {
        const QString out = file(QStringLiteral("dst.iqw"));
        QFile::remove(out);
        auto w = loaded(100);
        Ui_MainWindow* u = ui(w.get());
        QVERIFY(!u->Save_App->isEnabled());
        chooseSave(w.get(), kIqwSave, out);
        QVERIFY(u->Save_Sav->isEnabled() && u->Save_App->isEnabled());
        u->Save_Sav->click();
        QVERIFY(ask.boxes.isEmpty());
        QCOMPARE(QFileInfo(out).size(), qint64(800));

        u->Save_Grd->setValue(5);
        u->Save_App->click();
        QVERIFY(ask.boxes.isEmpty());
        const QByteArray b = testutil::readFile(out);
        QCOMPARE(b.size(), 8 * 205);
        auto at = [&](int k) { return io::lef32(reinterpret_cast<const uint8_t*>(b.constData()) + 8 * k); };
        QCOMPARE(at(99), 99.f);    // old data
        QCOMPARE(at(100), 95.f);   // guard: the last 5 new samples
        QCOMPARE(at(104), 99.f);
        QCOMPARE(at(105), 0.f);    // the new data
        QCOMPARE(at(204), 99.f);
        // The data in memory is untouched by either.
        QCOMPARE(w->loadRec.N, uint64_t(100));
        QVERIFY(w->dataValid);
    }

    void saveFailuresAreReported_data()
    {
        QTest::addColumn<bool>("append");
        QTest::addColumn<QString>("text");
        QTest::newRow("save") << false << "File Save Error.";
        QTest::newRow("append") << true << "Memory too low.";
    }
    void saveFailuresAreReported()
    {
        QFETCH(bool, append);
        QFETCH(QString, text);
        auto w = loaded(10);
        // A folder that does not exist: neither written nor read back.
        chooseSave(w.get(), kIqwSave, file(QStringLiteral("no/such/dir/out.iqw")));
        (append ? ui(w.get())->Save_App : ui(w.get())->Save_Sav)->click();
        QCOMPARE(ask.boxes.size(), 1);
        QCOMPARE(ask.boxes[0].title, QStringLiteral("Error"));
        QCOMPARE(ask.boxes[0].text, text);
        QVERIFY(!ask.boxes[0].info.isEmpty());
        QVERIFY(w->dataValid);
    }

    void appendNeedsADestinationOfAReadableType()
    {
        auto w = loaded(10);
        Ui_MainWindow* u = ui(w.get());
        chooseSave(w.get(), TypeIndex(ts, TS_COUNT, "Hex 16-bit signed mixed"), file(QStringLiteral("h.txt")));
        QVERIFY(!u->Save_App->isEnabled());
        chooseSave(w.get(), kIqwSave, file(QStringLiteral("a.iqw")));
        QVERIFY(u->Save_App->isEnabled());
        // A new save type drops the destination it no longer shows.
        u->Save_Typ->setCurrentIndex(kIqwSave + 1);
        QVERIFY(!u->Save_App->isEnabled() && !u->Save_Sav->isEnabled());
        // Two-file types need both names.
        chooseSave(w.get(), TypeIndex(ts, TS_COUNT, "SPW ASCII single"), file(QStringLiteral("a.ascsig")));
        QVERIFY(!u->Save_App->isEnabled());
        ask.answers << file(QStringLiteral("b.ascsig"));
        u->Save_Q->click();
        QVERIFY(u->Save_App->isEnabled() && u->Save_Sav->isEnabled());
    }

    void copyNeedsBothPairs()
    {
        auto w = loaded(10);
        Ui_MainWindow* u = ui(w.get());
        QVERIFY(!u->Load_Cpy->isEnabled());
        chooseSave(w.get(), kIqwSave, file(QStringLiteral("c.iqw")));
        QVERIFY(u->Load_Cpy->isEnabled());
        // A two-file load type with only its I file is incomplete, even with
        // a proposed Q name; choosing the Q file completes it.
        u->Load_Typ->setCurrentIndex(TypeIndex(tl, TL_COUNT, "MathCAD single"));
        ask.answers << file(QStringLiteral("x.i"));
        u->Load_I->click();
        QVERIFY(!u->Load_Cpy->isEnabled());
        ask.answers << file(QStringLiteral("x.q"));
        u->Load_Q->click();
        QVERIFY(u->Load_Cpy->isEnabled());
        // A save type change empties the save pair.
        u->Save_Typ->setCurrentIndex(TypeIndex(ts, TS_COUNT, "MathCAD single"));
        QVERIFY(!u->Load_Cpy->isEnabled());
    }

    // Copy IQ goes file to file: the samples in memory stay as they were,
    // whether the copy succeeds or is refused.
    void copyLeavesTheDataInMemory_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("box");
        QTest::newRow("streaming type") << "WAV mixed" << "";
        QTest::newRow("type that does not stream") << "IQW mixed, iqiqiq....iq" << "File Load Error.";
    }
    void copyLeavesTheDataInMemory()
    {
        QFETCH(QString, type);
        QFETCH(QString, box);
        const QString in = file(QStringLiteral("copy.in")), out = file(QStringLiteral("copy.out"));
        QFile::remove(out);
        if (type.startsWith(QLatin1String("WAV")))
            QVERIFY(testutil::writeFile(in, t::wav(2, 16, 1000, t::pairs({0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
                                                                         {0, -1, -2, -3, -4, -5, -6, -7, -8, -9}))));
        else
            WriteIqw(in, 10);
        auto w = start();
        Ui_MainWindow* u = ui(w.get());
        load(w.get(), TypeIndex(tl, TL_COUNT, type.toLatin1()), in);
        QVERIFY(w->dataValid);
        chooseSave(w.get(), TypeIndex(ts, TS_COUNT, type.toLatin1()), out);
        const float* before = w->loadRec.I;
        const float last = w->loadRec.I[9];
        u->Load_Cpy->click();
        QCOMPARE(ask.boxes.size(), box.isEmpty() ? 0 : 1);
        if (box.isEmpty())
            QCOMPARE(QFileInfo(out).size(), QFileInfo(in).size());
        else
            QCOMPARE(ask.boxes[0].text, box);
        QCOMPARE(w->loadRec.I, before);
        QCOMPARE(w->loadRec.N, uint64_t(10));
        QCOMPARE(w->loadRec.I[9], last);
        QCOMPARE(u->Load_Cnt->value(), 10);
        QVERIFY(u->statusBar->currentMessage().isEmpty());
        QVERIFY(u->Load_Cpy->isEnabled());
    }

    void menus()
    {
        const QString cfg = file(QStringLiteral("mine.ini"));
        QFile::remove(cfg);
        auto w = loaded(10);
        w->ui->actionAbout->trigger();
        QCOMPARE(ask.boxes.size(), 1);
        for (const char* part : {"OrvexMc", "Orvex", "6.0.6", "27-Mar-2017"})
            QVERIFY(ask.boxes[0].text.contains(QLatin1String(part)));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
        w->ui->actionContents->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(openedUrl, QUrl::fromLocalFile(QDir::currentPath() + QStringLiteral("/Orvex.pdf")));

        ui(w.get())->Save_Typ->setCurrentIndex(4);
        ask.answers << cfg;
        w->ui->actionSave->trigger();
        QCOMPARE(QSettings(cfg, QSettings::IniFormat).value("Program/Destination File Type").toInt(), 4);
        ui(w.get())->Save_Typ->setCurrentIndex(0);
        ask.answers << cfg;
        w->ui->actionLoad->trigger();
        QCOMPARE(ui(w.get())->Save_Typ->currentIndex(), 4);
        // A configuration brings no samples: what was in memory is gone.
        QVERIFY(!w->dataValid && !ui(w.get())->DVal->isChecked());
        QVERIFY(!w->loadRec.I);
        // A cancelled dialog changes nothing.
        w->ui->actionLoad->trigger();
        QCOMPARE(ui(w.get())->Save_Typ->currentIndex(), 4);
    }
};

ORVEX_GUI_TEST_MAIN(WindowTest)
#include "tst_window.moc"
