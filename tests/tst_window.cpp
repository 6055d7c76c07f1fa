// The main window driven through its widgets, offscreen: start-up and
// shutdown with the configuration file, the load, copy and save actions with
// their enabling rules and messages, and the progress dialog's cancel.
#include "app/inifile.h"
#include "app/mainwindow.h"
#include "app/prompts.h"
#include "formats/catalogue.h"
#include "formats/fileio.h"
#include "remote/windowremote.h"
#include "guitest.h"
#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QProgressDialog>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Answers file dialogs from a queue and records every box shown.
class FakePrompts : public Prompts {
public:
    struct Box {
        QString kind, title, text, info;
    };
    struct FileAsk {
        QString caption, dir, filter;
    };
    QStringList answers;
    QList<Box> boxes;
    QList<FileAsk> asked;

    void warning(QWidget*, const QString& title, const QString& text, const QString& info) override
    {
        boxes.append({QStringLiteral("warning"), title, text, info});
    }
    void critical(QWidget*, const QString& title, const QString& text) override
    {
        boxes.append({QStringLiteral("critical"), title, text, QString()});
    }
    void about(QWidget*, const QString& title, const QString& text) override
    {
        boxes.append({QStringLiteral("about"), title, text, QString()});
    }
    QString openFile(QWidget*, const QString& c, const QString& d, const QString& f) override
    {
        asked.append({c, d, f});
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString saveFile(QWidget* p, const QString& c, const QString& d, const QString& f) override
    {
        return openFile(p, c, d, f);
    }
};

// Interleaved float32 I/Q, I = k, Q = -k: what the IQW mixed reader takes.
void WriteIqw(const QString& path, int n)
{
    QByteArray b(n * 8, 0);
    for (int k = 0; k < n; ++k) {
        io::putf32(reinterpret_cast<uint8_t*>(b.data()) + 8 * k, float(k));
        io::putf32(reinterpret_cast<uint8_t*>(b.data()) + 8 * k + 4, float(-k));
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(b);
}

// Forwards to the window's dialog and presses its Cancel (or Escape) as soon
// as the work reports its first step.
class CancellingProgress : public Progress {
public:
    Progress* inner = nullptr;
    QWidget* owner = nullptr;
    bool useEscape = false;
    bool sawDialog = false;
    void begin(const QString& l, uint64_t t) override { inner->begin(l, t); }
    void step(uint64_t d) override
    {
        inner->step(d);
        auto* dlg = owner->findChild<QProgressDialog*>();
        if (!dlg || sawDialog)
            return;
        sawDialog = true;
        if (useEscape)
            QTest::keyClick(dlg, Qt::Key_Escape);
        else
            dlg->findChild<QPushButton*>()->click();
    }
    void end() override { inner->end(); }
};

int TypeIndex(const TypStr* list, int count, const char* name)
{
    for (int i = 0; i < count; ++i)
        if (list[i].Name == QLatin1String(name))
            return i;
    return -1;
}

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

public slots:
    void openUrl(const QUrl& url) { openedUrl = url; }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid() && work.isValid());
        // Settings go below a throw-away folder, never the user's own.
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        QCoreApplication::setApplicationName(QStringLiteral("OrvexMc"));
        iniPath = home.path() + QStringLiteral("/Halvard/OrvexMc/Orvex.ini");
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
        ask.answers.clear();
        ask.boxes.clear();
        ask.asked.clear();
    }
    void cleanup() { QCOMPARE(EscFlg, 0); }

    void firstStartGivesDefaultsAndWritesFileOnQuit()
    {
        QVERIFY(!QFile::exists(iniPath));
        auto w = start();
        QCOMPARE(w->settingsFolder, home.path() + QStringLiteral("/Halvard/OrvexMc"));
        const AnaStr d;
        QCOMPARE(w->ana.DevTyp, 6);
        QCOMPARE(w->ana.SRate, 1e8);
        QCOMPARE(w->ana.RecLen, 0.001);
        QCOMPARE(w->ana.Count, uint64_t(8192));
        QCOMPARE(w->ana.CFreq, d.CFreq);
        QCOMPARE(w->tcpPort, 1000);
        QCOMPARE(ui(w.get())->Port->value(), 1000);
        QCOMPARE(ui(w.get())->ConnectTo->currentIndex(), 1);
        QCOMPARE(ui(w.get())->Load_Typ->currentIndex(), 23);
        QCOMPARE(ui(w.get())->Load_Typ->currentText(), QStringLiteral("Wavesmith (*.ibn)"));
        QCOMPARE(ui(w.get())->Save_Typ->currentIndex(), 0);
        QCOMPARE(ui(w.get())->Load_SRat->value(), 1e8);
        QCOMPARE(w->pos(), QPoint(100, 100));
        QCOMPARE(ui(w.get())->LodTrcIqr->currentIndex(), 0);
        QVERIFY(!ui(w.get())->DVal->isChecked());
        QVERIFY(!ui(w.get())->Spec->isEnabled());
        QVERIFY(!ui(w.get())->Save_Sav->isEnabled());
        QVERIFY(!ui(w.get())->Load_Cpy->isEnabled());
        QCOMPARE(ui(w.get())->Load_I->text(), QStringLiteral("IQ"));
        QVERIFY(!ui(w.get())->Load_Q->isEnabled());
        QCOMPARE(ui(w.get())->Save_I->text(), QStringLiteral("I"));
        QVERIFY(ui(w.get())->Save_Q->isEnabled());
        QVERIFY(ask.boxes.isEmpty());
        w.reset();

        QVERIFY(QFile::exists(iniPath));
        QSettings s(iniPath, QSettings::IniFormat);
        QCOMPARE(s.value(QStringLiteral("Program/Source File Type")).toInt(), 23);
        QCOMPARE(s.value(QStringLiteral("Program/TCP Port")).toInt(), 1000);
        QCOMPARE(s.value(QStringLiteral("Position/x")).toInt(), 100);
        QCOMPARE(s.value(QStringLiteral("Analyzer/Sample Count")).toULongLong(), 8192ull);
    }

    // The slots are bound by object name: a renamed widget silently loses
    // its action, so every name the window relies on is checked here.
    void formHasEveryNamedWidget()
    {
        struct Row {
            const char* name;
            const char* cls;
            const char* text;
        };
        const Row rows[] = {
            {"Quit", "QPushButton", "Quit"}, {"statusBar", "QStatusBar", nullptr},
            {"Connection", "QFrame", nullptr}, {"Port", "QSpinBox", nullptr},
            {"PortLbl", "QLabel", "TCP/IP Port"}, {"Conn", "QCheckBox", "Connected"},
            {"DVal", "QCheckBox", "Data Valid"}, {"Spec", "QPushButton", "Spectrum"},
            {"GDel", "QPushButton", "Grp.Delay"}, {"IvsQ", "QPushButton", "I vs. Q"},
            {"ConnectTo", "QComboBox", nullptr}, {"Save", "QGroupBox", nullptr},
            {"Save_Typ", "QComboBox", nullptr}, {"Save_I", "QPushButton", nullptr},
            {"Save_Q", "QPushButton", nullptr}, {"Save_Di", "QLineEdit", nullptr},
            {"Save_Dq", "QLineEdit", nullptr}, {"Save_Grd", "QSpinBox", nullptr},
            {"Save_Sav", "QPushButton", "Save IQ"}, {"Save_App", "QPushButton", "Append"},
            {"LodTrcIqr", "QTabWidget", nullptr}, {"Load", "QWidget", nullptr}, {"Trace", "QWidget", nullptr},
            {"Load_Typ", "QComboBox", nullptr}, {"Load_I", "QPushButton", nullptr},
            {"Load_Q", "QPushButton", nullptr}, {"Load_Di", "QLineEdit", nullptr},
            {"Load_Dq", "QLineEdit", nullptr}, {"Load_SRat", "QDoubleSpinBox", nullptr},
            {"Load_Frq_Lbl", "QLabel", "SRate/Hz"}, {"Load_Cnt", "QSpinBox", nullptr},
            {"Load_RLev", "QDoubleSpinBox", nullptr}, {"Load_Lod", "QPushButton", "Load IQ"},
            {"Load_Cpy", "QPushButton", "Copy IQ"}, {"Trace_DevTyp", "QComboBox", nullptr},
            {"Trace_VisaRS", "QLineEdit", nullptr}, {"Trace_Init", "QPushButton", "Init"},
            {"Trace_DevMsg", "QLineEdit", nullptr}, {"Trace_Rst", "QCheckBox", nullptr},
            {"Trace_Raw", "QCheckBox", "Raw"}, {"Trace_Trc", "QPushButton", "Trace IQ"},
            {"Osc", "QGroupBox", nullptr}, {"Ana", "QGroupBox", nullptr},
            {"Trace_Osc_RLen", "QSpinBox", nullptr}, {"Trace_Osc_Ch", "QSpinBox", nullptr},
            {"Trace_Osc_SRat", "QDoubleSpinBox", nullptr}, {"Trace_Osc_Bw", "QDoubleSpinBox", nullptr},
            {"Trace_Osc_CFrq", "QSpinBox", nullptr}, {"Trace_Osc_RelBw", "QDoubleSpinBox", nullptr},
            {"Trace_Osc_InpTyp", "QComboBox", nullptr}, {"Trace_Osc_InpMod", "QComboBox", nullptr},
            {"Trace_Osc_SbIf", "QComboBox", nullptr}, {"Trace_Osc_SbRf", "QComboBox", nullptr},
            {"Trace_Ana_IQInp", "QComboBox", nullptr}, {"Trace_Ana_SRat", "QDoubleSpinBox", nullptr},
            {"Trace_Ana_SRatTxt", "QComboBox", nullptr}, {"Trace_Ana_Rbw", "QDoubleSpinBox", nullptr},
            {"Trace_Ana_RbwTxt", "QComboBox", nullptr}, {"Trace_Ana_Rbw_Lbl", "QLabel", nullptr},
            {"Trace_Ana_FltTyp", "QComboBox", nullptr}, {"Trace_Ana_FltTyp_Lbl", "QLabel", nullptr},
            {"Trace_Ana_RLen", "QDoubleSpinBox", nullptr}, {"Trace_Ana_TrgMod", "QComboBox", nullptr},
            {"Trace_Ana_TrgSlp", "QComboBox", nullptr}, {"Trace_Ana_TrgOfs", "QDoubleSpinBox", nullptr},
            {"Trace_Ana_PreTrg", "QSpinBox", nullptr}, {"Trace_Ana_Cnt", "QSpinBox", nullptr},
            {"Trace_Ana_Avg", "QSpinBox", nullptr}, {"Trace_Ana_DatTyp", "QLineEdit", "RAW"},
            {"Trace_Ana_Bal", "QCheckBox", nullptr}, {"Trace_Ana_Imp", "QCheckBox", nullptr},
            {"Trace_Ana_Dith", "QCheckBox", nullptr}, {"Trace_Ana_Lp", "QCheckBox", nullptr},
            {"actionLoad", "QAction", "Load Configuration"}, {"actionSave", "QAction", "Save Configuration"},
            {"actionQuit", "QAction", "Quit"}, {"actionContents", "QAction", "Contents"},
            {"actionAbout", "QAction", "About"},
        };
        auto w = start();
        for (const Row& r : rows) {
            QObject* o = w->findChild<QObject*>(QLatin1String(r.name));
            QVERIFY2(o, r.name);
            QVERIFY2(o->inherits(r.cls), r.name);
            if (r.text)
                QCOMPARE(o->property("text").toString(), QString::fromLatin1(r.text));
        }
        Ui_MainWindow* u = ui(w.get());
        QCOMPARE(u->LodTrcIqr->tabText(0), QStringLiteral(" Load IQ Data "));
        QCOMPARE(u->LodTrcIqr->tabText(1), QStringLiteral(" Trace IQ Data"));
        QCOMPARE(u->ConnectTo->itemText(0), QStringLiteral("WVSMITH"));
        QCOMPARE(u->ConnectTo->itemText(1), QStringLiteral("WVSMITH2"));
        QCOMPARE(u->Load_SRat->maximum(), 1e11);
        QCOMPARE(u->Load_SRat->decimals(), 0);
        QCOMPARE(u->Load_Cnt->maximum(), 999999999);
        QCOMPARE(u->Port->maximum(), 999999999);
        QVERIFY(!u->Trace_Trc->isEnabled() && !u->Conn->isEnabled() && !u->DVal->isEnabled());
        QCOMPARE(w->size(), QSize(525, 470));
        QCOMPARE(w->minimumSize(), QSize(525, 455));
        // The resources are compiled in and the style sheet applied.
        QVERIFY(!w->windowIcon().isNull());
        QVERIFY(!QIcon(QStringLiteral(":/images/arrow.png")).isNull());
        QVERIFY(w->styleSheet().contains(QLatin1String("rgb(0, 142, 214)")));
        QVERIFY(w->styleSheet().contains(QLatin1String(":/images/arrow.png")));
    }

    void typeListsFollowTheCatalogue()
    {
        auto w = start();
        QCOMPARE(ui(w.get())->Load_Typ->count(), TL_COUNT);
        QCOMPARE(ui(w.get())->Save_Typ->count(), TS_COUNT);
        const int mathcad = TypeIndex(tl, TL_COUNT, "MathCAD single");
        // The load list writes "," between the patterns, the save list ", ".
        QCOMPARE(ui(w.get())->Load_Typ->itemText(mathcad), QStringLiteral("MathCAD single (*.i,*.q)"));
        QCOMPARE(ui(w.get())->Save_Typ->itemText(mathcad), QStringLiteral("MathCAD single (*.i, *.q)"));
        QCOMPARE(ui(w.get())->Save_Typ->itemText(TS_COUNT - 1), QStringLiteral("H&V WV mixed (unscrambled) (*.wv)"));
        for (int i = 0; i < TL_COUNT; ++i)
            QCOMPARE(ui(w.get())->Load_Typ->itemData(i).toInt(), i);
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
        QDir().mkpath(QFileInfo(iniPath).path());
        QFile f(iniPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Analyzer]\n"
                "Center Frequency=2e9\n"
                "IQ Carrier Frequency=1e6\n"
                "Impedance=true\n"
                "Sample Count=5000000000\n"
                "[AnaIQ]\n"
                "IQ Range=2.0\n"
                "[Program]\n"
                "TCP Port=4321\n"
                "Source File Type=99\n"
                "Destination File Type=-3\n"
                "My Own Key=hello\n"
                "[Mine]\n"
                "x=1\n");
        f.close();
        {
            auto w = start();
            QCOMPARE(w->ana.CFreq, 1e6);
            QCOMPARE(w->ana.AnaRange, 1.78);
            QCOMPARE(w->ana.Count, 5000000000ull);
            QCOMPARE(ui(w.get())->Port->value(), 4321);
            // Types out of range are brought back by the panel, not refused.
            QCOMPARE(ui(w.get())->Load_Typ->currentIndex(), 0);
            QCOMPARE(ui(w.get())->Save_Typ->currentIndex(), 0);
        }
        QSettings s(iniPath, QSettings::IniFormat);
        QCOMPARE(s.value(QStringLiteral("Analyzer/Center Frequency")).toDouble(), 1e6);
        QCOMPARE(s.value(QStringLiteral("Analyzer/IQ Carrier Frequency")).toDouble(), 1e6);
        QCOMPARE(s.value(QStringLiteral("AnaIQ/IQ Range")).toDouble(), 1.78);
        QCOMPARE(s.value(QStringLiteral("Analyzer/Sample Count")).toULongLong(), 705032704ull);
        QVERIFY(!s.contains(QStringLiteral("Program/My Own Key")));
        QVERIFY(!s.contains(QStringLiteral("Mine/x")));
        QCOMPARE(s.value(QStringLiteral("Program/TCP Port")).toInt(), 4321);
    }

    void loadSucceeds()
    {
        const QString in = file(QStringLiteral("ok.iqw"));
        WriteIqw(in, 1000);
        auto w = start();
        ui(w.get())->Load_Typ->setCurrentIndex(kIqwLoad);
        QCOMPARE(ui(w.get())->Load_I->text(), QStringLiteral("IQ"));
        QCOMPARE(ui(w.get())->Load_Q->text(), QString());
        ask.answers << in;
        ui(w.get())->Load_I->click();
        QCOMPARE(ask.asked.last().caption, QStringLiteral("Load File"));
        QCOMPARE(ask.asked.last().filter, QStringLiteral("IQ File (*.iqw);;All Files (*.*)"));
        QCOMPARE(ui(w.get())->Load_Di->text(), in);
        ui(w.get())->Load_SRat->setValue(2e6);
        ui(w.get())->Load_RLev->setValue(-7.5);
        w->newState = false;
        ui(w.get())->Load_Lod->click();

        QVERIFY(ask.boxes.isEmpty());
        QVERIFY(w->dataValid && w->newState);
        QCOMPARE(w->loadRec.N, uint64_t(1000));
        QCOMPARE(w->loadRec.I[999], 999.f);
        QCOMPARE(w->loadRec.Q[999], -999.f);
        QCOMPARE(w->loadRec.Clock, 2e6);
        QCOMPARE(w->loadRec.RefLev, -7.5f);
        QCOMPARE(ui(w.get())->Load_Cnt->value(), 1000);
        QVERIFY(ui(w.get())->Load_Cnt->isEnabled());
        QVERIFY(ui(w.get())->DVal->isChecked());
        for (QPushButton* b : {ui(w.get())->Spec, ui(w.get())->IvsQ, ui(w.get())->GDel})
            QVERIFY(b->isEnabled());
        // A cancelled I dialog empties the name but keeps the shown path,
        // the data and the folder.
        ui(w.get())->Load_I->click();
        QVERIFY(w->loadRec.FileI.isEmpty());
        QCOMPARE(ui(w.get())->Load_Di->text(), in);
        QVERIFY(w->dataValid);
        QCOMPARE(w->loadRec.Folder, work.path());
        // A new load type forgets the files and the data.
        ui(w.get())->Load_Typ->setCurrentIndex(kIqwLoad + 1);
        QVERIFY(ui(w.get())->Load_Di->text().isEmpty());
        QVERIFY(!w->dataValid && !ui(w.get())->DVal->isChecked());
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
        const QString good = file(QStringLiteral("good.iqw"));
        WriteIqw(good, 10);
        const QString bad = file(name);
        if (exists)
            WriteIqw(bad, 64);
        auto w = start();
        load(w.get(), kIqwLoad, good);
        QVERIFY(w->dataValid);
        load(w.get(), type, bad);
        QCOMPARE(ask.boxes.size(), 1);
        QCOMPARE(ask.boxes[0].kind, QStringLiteral("warning"));
        QCOMPARE(ask.boxes[0].title, title);
        QCOMPARE(ask.boxes[0].text, text.contains(QLatin1String("%1")) ? text.arg(bad) : text);
        QVERIFY(!w->dataValid);
        QVERIFY(!w->newState);
        QVERIFY(!ui(w.get())->DVal->isChecked());
        for (QPushButton* b : {ui(w.get())->Spec, ui(w.get())->IvsQ, ui(w.get())->GDel})
            QVERIFY(!b->isEnabled());
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
        QVERIFY(!w->dataValid);
        QVERIFY(!ui(w.get())->DVal->isChecked());
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
        const QString in = file(QStringLiteral("small.iqw"));
        WriteIqw(in, 16);
        auto w = start();
        chooseSave(w.get(), kIqwSave, file(QStringLiteral("big.iqw")));
        load(w.get(), kIqwLoad, in);
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
        const QString in = file(QStringLiteral("src.iqw"));
        const QString out = file(QStringLiteral("dst.iqw"));
        QFile::remove(out);
        WriteIqw(in, 100);
        auto w = start();
        Ui_MainWindow* u = ui(w.get());
        load(w.get(), kIqwLoad, in);
        QVERIFY(!u->Save_App->isEnabled());
        chooseSave(w.get(), kIqwSave, out);
        QVERIFY(u->Save_Sav->isEnabled());
        QVERIFY(u->Save_App->isEnabled());
        u->Save_Sav->click();
        QVERIFY(ask.boxes.isEmpty());
        QCOMPARE(QFileInfo(out).size(), qint64(800));

        u->Save_Grd->setValue(5);
        u->Save_App->click();
        QVERIFY(ask.boxes.isEmpty());
        QCOMPARE(QFileInfo(out).size(), qint64(8 * 205));
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray b = f.readAll();
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
        const QString in = file(QStringLiteral("src.iqw"));
        WriteIqw(in, 10);
        auto w = start();
        load(w.get(), kIqwLoad, in);
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
        const QString in = file(QStringLiteral("src.iqw"));
        WriteIqw(in, 10);
        auto w = start();
        Ui_MainWindow* u = ui(w.get());
        load(w.get(), kIqwLoad, in);
        chooseSave(w.get(), TypeIndex(ts, TS_COUNT, "Hex 16-bit signed mixed"), file(QStringLiteral("h.txt")));
        QVERIFY(!u->Save_App->isEnabled());
        chooseSave(w.get(), kIqwSave, file(QStringLiteral("a.iqw")));
        QVERIFY(u->Save_App->isEnabled());
        // A new save type drops the destination it no longer shows.
        u->Save_Typ->setCurrentIndex(kIqwSave + 1);
        QVERIFY(!u->Save_App->isEnabled());
        QVERIFY(!u->Save_Sav->isEnabled());
        // Two-file types need both names.
        const int simkit = TypeIndex(ts, TS_COUNT, "SPW ASCII single");
        chooseSave(w.get(), simkit, file(QStringLiteral("a.ascsig")));
        QVERIFY(!u->Save_App->isEnabled());
        ask.answers << file(QStringLiteral("b.ascsig"));
        u->Save_Q->click();
        QVERIFY(u->Save_App->isEnabled());
        QVERIFY(u->Save_Sav->isEnabled());
    }

    void copyNeedsBothPairs()
    {
        const QString in = file(QStringLiteral("src.iqw"));
        WriteIqw(in, 10);
        auto w = start();
        Ui_MainWindow* u = ui(w.get());
        load(w.get(), kIqwLoad, in);
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

    void copyLeavesTheDataInMemory()
    {
        const QString in = file(QStringLiteral("src.iqw"));
        WriteIqw(in, 10);
        auto w = start();
        Ui_MainWindow* u = ui(w.get());
        load(w.get(), kIqwLoad, in);
        chooseSave(w.get(), kIqwSave, file(QStringLiteral("copy.iqw")));
        const float* before = w->loadRec.I;
        u->Load_Cpy->click();
        QCOMPARE(w->loadRec.I, before);
        QCOMPARE(w->loadRec.N, uint64_t(10));
        QCOMPARE(w->loadRec.I[9], 9.f);
        QVERIFY(u->statusBar->currentMessage().isEmpty());
        QVERIFY(u->Load_Cpy->isEnabled());
        QVERIFY(ask.boxes.size() <= 1);
    }

    void helpMenu()
    {
        auto w = start();
        w->ui->actionAbout->trigger();
        QCOMPARE(ask.boxes.size(), 1);
        for (const char* part : {"OrvexMc", "Orvex", "6.0.6", "27-Mar-2017"})
            QVERIFY(ask.boxes[0].text.contains(QLatin1String(part)));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
        w->ui->actionContents->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(openedUrl, QUrl::fromLocalFile(QDir::currentPath() + QStringLiteral("/Orvex.pdf")));
    }

    void configurationMenu()
    {
        const QString cfg = file(QStringLiteral("mine.ini"));
        QFile::remove(cfg);
        const QString in = file(QStringLiteral("src.iqw"));
        WriteIqw(in, 10);
        auto w = start();
        ui(w.get())->Save_Typ->setCurrentIndex(4);
        ask.answers << cfg;
        w->ui->actionSave->trigger();
        QCOMPARE(QSettings(cfg, QSettings::IniFormat).value(QStringLiteral("Program/Destination File Type")).toInt(), 4);

        load(w.get(), kIqwLoad, in);
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
