// The main window driven through its widgets, offscreen: start-up and
// shutdown with the configuration file, the load, copy, save and graph
// actions with their enabling rules and messages, the progress dialog's
// cancel; its connection strip and symbol server with a real loopback client
// (the wire format is tested against the server class); and the
// configuration file on its own.
#include "app/inifile.h"
#include "app/mainwindow.h"
#include "formats/catalogue.h"
#include "graph/fftgraph.h"
#include "guitest.h"
#include "remote/windowremote.h"
#include "remoteutil.h"
#include "ui_mainwindow.h"

#include <QAbstractItemView>
#include <QDesktopServices>
#include <QProgressDialog>
#include <QSettings>
#include <QTimer>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_div.h>

using namespace remoteutil;

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
QByteArray newState(bool set) { return value(3, set ? 1.0f : 0.0f); }

// The configuration as the two functions see it.
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

// The luminance spread inside a part of a widget's rendering: the most
// common colour there is the background, the one furthest from it in
// luminance the text. 0 means nothing readable, 255 black on white.
int Contrast(const QImage& img, QRect part)
{
    part &= img.rect();
    QHash<QRgb, int> count;
    for (int y = part.top(); y <= part.bottom(); ++y)
        for (int x = part.left(); x <= part.right(); ++x)
            ++count[img.pixel(x, y)];
    const QRgb bg = std::max_element(count.begin(), count.end()).key();
    int spread = 0;
    for (auto it = count.begin(); it != count.end(); ++it)
        spread = std::max(spread, std::abs(qGray(it.key()) - qGray(bg)));
    return spread;
}

class WindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir home, work;
    FakePrompts ask;
    QString iniPath;
    QUrl openedUrl;
    quint16 port = 0;

    QString file(const QString& name) const { return work.filePath(name); }
    void configure(int tcpPort, int connectTo = 1)
    {
        QSettings s(iniPath, QSettings::IniFormat);
        s.setValue("Program/TCP Port", tcpPort);
        s.setValue("Program/Connect To", connectTo);
    }
    // A window serving on a free port.
    std::unique_ptr<MainWindow> start(int connectTo = 1)
    {
        SetWindowServerListens(true);
        configure(port = freePort(), connectTo);
        return std::make_unique<MainWindow>();
    }
    // Picks the load type (IQW by default) and file, and presses Load IQ.
    void load(MainWindow* w, const QString& name, int type = LoadRow(kIqw))
    {
        w->ui->Load_Typ->setCurrentIndex(type);
        ask.answers << file(name);
        w->ui->Load_I->click();
        w->ui->Load_Lod->click();
    }
    void chooseSave(MainWindow* w, int type, const QString& name)
    {
        w->ui->Save_Typ->setCurrentIndex(type);
        ask.answers << file(name);
        w->ui->Save_I->click();
    }
    // A window holding n samples, I = k and Q = -k, loaded from src.iqw.
    std::unique_ptr<MainWindow> loaded(int n)
    {
        WriteIqw(file("src.iqw"), n);
        auto w = std::make_unique<MainWindow>();
        load(w.get(), "src.iqw");
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
    }
    void cleanupTestCase() { SetPrompts(nullptr); }
    void init()
    {
        QFile::remove(iniPath);
        ask.clear();
        // Only the server tests take a port.
        SetWindowServerListens(false);
    }
    void cleanup() { QCOMPARE(EscFlg, 0); }

    void firstStartGivesDefaultsAndWritesFileOnQuit()
    {
        auto w = std::make_unique<MainWindow>();
        QVERIFY(w->settingsFolder == home.path() + "/Halvard/OrvexMc" && w->pos() == QPoint(100, 100));
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
        QCOMPARE(QSettings(iniPath, QSettings::IniFormat).value("Analyzer/Sample Count").toInt(), 8192);
    }

    // Position, tab, rate, types and folders survive; file names are not
    // settings: nothing is chosen after a restart.
    void settingsSurviveARestart()
    {
        {
            MainWindow w;
            w.move(40, 60);
            w.ui->Load_SRat->setValue(2.5e6);
            load(&w, "missing.iqw");
            chooseSave(&w, 4, "sub/out.i");
            w.ui->LodTrcIqr->setCurrentIndex(1);
        }
        MainWindow w;
        QVERIFY(w.pos() == QPoint(40, 60) && w.ui->LodTrcIqr->currentIndex() == 1 && w.ui->Save_Typ->currentIndex() == 4);
        QVERIFY(w.loadRec.SrcTab == 1 && w.loadRec.Typ == LoadRow(kIqw) && w.loadRec.Clock == 2.5e6);
        QVERIFY(w.loadRec.Folder == work.path() && w.saveRec.Folder == file("sub") && !w.saveIChosen && !w.loadIChosen);
        w.ui->LodTrcIqr->setCurrentIndex(0);
        QCOMPARE(w.ui->Load_Typ->currentIndex(), LoadRow(kIqw));
        // The high-impedance input takes at most 1.78, "IQ Carrier Frequency"
        // decides the centre frequency, unreadable values read as 0, types
        // out of range are brought back by the panel; keys of other writers go.
        const QString imp = "[Analyzer]\nImpedance=%1\n[AnaIQ]\nIQ Range=%2\n";
        const struct { QString ini; double range, rate, cfreq; int port, loadTyp; } rows[] = {
            {imp.arg("true").arg(2.0), 1.78, 1e8, 1e6, 1000, 23}, {imp.arg("true").arg(1.5), 1.5, 1e8, 1e6, 1000, 23},
            {imp.arg("false").arg(2.0), 2.0, 1e8, 1e6, 1000, 23},
            // An unreadable rate reads as 0, which the panel raises to the type's minimum.
            {"[Program]\nTCP Port=abc\n[Analyzer]\nSample Rate=fast\n", 1.0, 1e4, 1e6, 0, 23},
            {"[Analyzer]\nType=18\n", 1.0, 1e8, 1e6, 1000, 23},
            {"[Analyzer]\nCenter Frequency=2e9\nIQ Carrier Frequency=5e6\n[Program]\nTCP Port=4321\nSource File Type=99\n"
             "Destination File Type=-3\nMy Own Key=1\n", 1.0, 1e8, 5e6, 4321, 0}};
        for (const auto& row : rows) {
            QVERIFY(testutil::writeFile(iniPath, row.ini.toLatin1()));
            Panel read;   // the file's own clamp, before the panel adds its own
            read.read(iniPath);
            QCOMPARE(read.ana.AnaRange, row.range);
            {
                MainWindow w;
                QVERIFY2(w.ana.AnaRange == row.range && w.ana.SRate == row.rate && w.ana.CFreq == row.cfreq, qPrintable(row.ini));
                QVERIFY(w.ui->Port->value() == row.port && w.ui->Load_Typ->currentIndex() == row.loadTyp);
                QCOMPARE(w.ui->Save_Typ->currentIndex(), 0);
                QCOMPARE(w.ana.DevTyp, AnaStr().DevTyp);   // a type past the table falls back
            }
            QSettings s(iniPath, QSettings::IniFormat);
            QVERIFY(s.value("Analyzer/Center Frequency").toDouble() == row.cfreq && !s.contains("Program/My Own Key"));
        }
    }


    void loadSucceeds()
    {
        WriteIqw(file("ok.iqw"), 1000);
        MainWindow w;
        w.ui->Load_Typ->setCurrentIndex(LoadRow(kIqw));
        ask.answers << file("ok.iqw");
        w.ui->Load_I->click();
        QVERIFY(ask.filters.last() == "IQ File (*.iqw);;All Files (*.*)" && w.ui->Load_Di->text() == file("ok.iqw"));
        w.ui->Load_SRat->setValue(2e6);
        w.ui->Load_RLev->setValue(-7.5);
        w.newState = false;
        w.ui->Load_Lod->click();
        QVERIFY(ask.boxes.isEmpty() && w.newState && dataShown(&w) == "11111" && w.ui->Load_Cnt->value() == 1000);
        QVERIFY(w.loadRec.N == 1000 && w.loadRec.I[999] == 999.f && w.loadRec.Q[999] == -999.f);
        QVERIFY(w.loadRec.Clock == 2e6 && w.loadRec.RefLev == -7.5f);
        // A cancelled I dialog empties the name but keeps the shown path, the
        // data and the folder; a new load type forgets the files and the data.
        w.ui->Load_I->click();
        QVERIFY(w.loadRec.FileI.isEmpty() && w.dataValid && w.ui->Load_Di->text() == file("ok.iqw") && w.loadRec.Folder == work.path());
        // Load IQ names a missing choice and keeps the data it did not replace.
        w.ui->Load_Lod->click();
        QVERIFY(ask.boxes.size() == 1 && ask.boxes[0].text == "No IQ file chosen." && dataShown(&w) == "11111");
        w.ui->Load_Typ->setCurrentIndex(LoadRow(kIqw) + 1);
        QVERIFY(w.ui->Load_Di->text().isEmpty() && w.loadRec.N == 0 && dataShown(&w) == "00000");
    }

    // The box, its title and text; the data and the new-state flag are gone,
    // the paths stay.
    void loadFailures()
    {
        const struct { const char* type; const char* name; const char* box; } rows[] = {
            {kIqw, "none.iqw", "Error|File Load Error."}, {"Wavesmith", "s.ibn", "Warning|The file %1 is scrambled. Load aborted."},
            {"UInt16", "u.i", "Error|File Load Error."}};   // no reader
        for (const auto& r : rows) {
            if (QString(r.name) != "none.iqw")
                WriteIqw(file(r.name), 64);
            auto w = loaded(10);
            QCOMPARE(dataShown(w.get()), QString("11111"));
            ask.clear();
            load(w.get(), r.name, LoadRow(r.type));
            QVERIFY(ask.boxes.size() == 1 && dataShown(w.get()) == "00000" && !w->newState && !w->ui->Save_Sav->isEnabled());
            QCOMPARE(ask.boxes[0].kind + "|" + ask.boxes[0].title + "|" + ask.boxes[0].text,
                     "warning|" + QString(r.box).replace("%1", file(r.name)));
            QCOMPARE(w->ui->Load_Di->text(), file(r.name));
        }
        // A cancelled load shows nothing; the next load is not cancelled by
        // what is left of it.
        ask.clear();
        WriteIqw(file("long.iqw"), 600000);
        for (bool escape : {false, true}) {
            MainWindow w;
            CancellingProgress cancel(&w.progress, &w, escape);
            SetProgress(&cancel);
            load(&w, "long.iqw");
            SetProgress(&w.progress);
            QVERIFY(cancel.saw && ask.boxes.isEmpty() && !w.findChild<QProgressDialog*>());
            QVERIFY(!w.dataValid && !w.ui->DVal->isChecked() && w.loadRec.N == 0 && w.ui->statusBar->currentMessage() == "Cancelled");
            load(&w, "long.iqw");
            QVERIFY(w.dataValid && w.loadRec.N == 600000);
        }
    }


    void qFileNamesAreProposed()
    {
        const struct { bool save; const char* type; const char* chosen; const char* proposed; } rows[] = {
            {false, "MathCAD single", "/d/name.i", "/d/name.q"}, {false, "MathCAD single", "/d/name.dat", ""},
            {false, "SPW ASCII single", "/d/name.i", ""}, {false, "ADS ASCII single", "/d/name.i", ""},
            {true, "Matlab ASCII single", "/d/out.dat", "/d/out.q"}, {true, "MathCAD single", "/d.x/out", "/d.x/out.q"},
            {true, kIqw, "/d/out.iqw", ""}};
        for (const auto& r : rows) {
            MainWindow w;
            ask.answers << r.chosen;
            (r.save ? w.ui->Save_Typ : w.ui->Load_Typ)->setCurrentIndex(r.save ? SaveRow(r.type) : LoadRow(r.type));
            (r.save ? w.ui->Save_I : w.ui->Load_I)->click();
            QVERIFY2((r.save ? w.ui->Save_Dq : w.ui->Load_Dq)->text() == r.proposed, r.chosen);
            QVERIFY2((r.save ? w.saveRec : w.loadRec).FileQ == r.proposed, r.chosen);
            QVERIFY(r.save ? w.dstRec.FileQ == r.proposed && w.saveQChosen == (*r.proposed != 0)
                           : ask.filters.last() == "I File (" + tl[w.loadRec.Typ].PatI + ");;All Files (*.*)");
        }
    }

    // Save and append (old data, the guard of the last 5 new samples, the new
    // data) leave the data in memory alone; a folder that does not exist is
    // neither written nor read back. Saving from memory stops above 50000000
    // samples, checked after a load only: choosing a file enables it again.
    void saveAndAppend()
    {
        auto w = loaded(100);
        chooseSave(w.get(), SaveRow(kIqw), "dst.iqw");
        QCOMPARE(w->ui->statusBar->currentMessage(), QString("Loaded 100 samples from src.iqw"));
        w->ui->Save_Sav->click();
        QCOMPARE(QFileInfo(file("dst.iqw")).size(), qint64(800));
        QCOMPARE(w->ui->statusBar->currentMessage(), QString("Saved 100 samples to dst.iqw"));
        w->ui->Save_Grd->setValue(5);
        w->ui->Save_App->click();
        QCOMPARE(w->ui->statusBar->currentMessage(), QString("Appended 100 samples to dst.iqw after 5 samples of guard"));
        // Saving over the file asks first (appending never does); No leaves it.
        ask.replace = false;
        w->ui->Save_Sav->click();
        QCOMPARE(ask.questions.size(), 1);
        QCOMPARE(ask.questions[0].title + "|" + ask.questions[0].text, QString("Save File|dst.iqw already exists.\nDo you want to replace it?"));
        QCOMPARE(w->ui->statusBar->currentMessage(), QString("Cancelled"));
        const QByteArray b = testutil::readFile(file("dst.iqw"));
        QCOMPARE(b.size(), 8 * 205);
        const std::pair<int, float> at[] = {{99, 99}, {100, 95}, {104, 99}, {105, 0}, {204, 99}};
        for (auto [k, v] : at)
            QCOMPARE(io::lef32(reinterpret_cast<const uint8_t*>(b.constData()) + 8 * k), v);
        QVERIFY(ask.boxes.isEmpty() && w->loadRec.N == 100 && w->dataValid);
        chooseSave(w.get(), SaveRow(kIqw), "no/such/dir/out.iqw");
        for (QPushButton* button : {w->ui->Save_Sav, w->ui->Save_App})
            button->click();
        QCOMPARE(ask.boxes.size(), 2);
        QCOMPARE(ask.boxes[0].title + "|" + ask.boxes[0].text + "|" + ask.boxes[1].text, QString("Error|File Save Error.|Memory too low."));
        QVERIFY(!ask.boxes[0].info.isEmpty() && w->dataValid);
        for (uint64_t count : {50000000ull, 50000001ull}) {
            w->loadRec.N = count;   // as if the load had delivered that many
            w->LoadPostAction();
            QCOMPARE(w->ui->Save_Sav->isEnabled(), count == 50000000);
            chooseSave(w.get(), SaveRow(kIqw), "big.iqw");
            QVERIFY(w->ui->Save_Sav->isEnabled());
        }
        w->loadRec.N = 100;
    }

    // Append needs what Save IQ needs, data included, and a complete
    // destination of a type that can be read back; Copy IQ needs both
    // complete pairs of types that stream. A new type drops its pair.
    void enablingRules()
    {
        auto w = loaded(10);
        Ui_MainWindow* u = w->ui;
        QVERIFY(!u->Load_Cpy->isEnabled() && !u->Save_App->isEnabled());
        chooseSave(w.get(), SaveRow("Hex 16-bit signed mixed"), "h.txt");
        QVERIFY(!u->Save_App->isEnabled() && u->Save_Sav->isEnabled());
        chooseSave(w.get(), SaveRow(kIqw), "a.iqw");
        // A new load type or a failed load takes both away, a reload gives
        // both back without a new choice of file.
        const std::pair<const char*, bool> steps[] = {{"", true}, {"new type", false}, {"src.iqw", true}, {"none.iqw", false},
                                                      {"src.iqw", true}};
        for (auto [step, on] : steps) {
            QString(step) == "new type" ? u->Load_Typ->setCurrentIndex(LoadRow(kIqw) + 1) : *step ? load(w.get(), step) : void();
            QVERIFY2(u->Save_App->isEnabled() == on && u->Save_Sav->isEnabled() == on && w->dataValid == on, step);
        }
        u->Save_Typ->setCurrentIndex(SaveRow(kIqw) + 1);
        QVERIFY(!u->Save_App->isEnabled() && !u->Save_Sav->isEnabled());
        chooseSave(w.get(), SaveRow("SPW ASCII single"), "a.ascsig");
        QVERIFY(!u->Save_App->isEnabled());
        ask.answers << file("b.ascsig");
        u->Save_Q->click();
        QVERIFY(u->Save_App->isEnabled() && u->Save_Sav->isEnabled() && !u->Load_Cpy->isEnabled());
        const struct { const char *from, *to; bool offered; } copies[] = {
            {"WAV mixed", "H&V WV mixed (unscrambled)", true}, {"H&V Vantor Raw", "WAV mixed", true},
            {"WAV mixed", kIqw, false}, {kIqw, "WAV mixed", false}, {"MathCAD single", "WAV mixed", false}};
        for (const auto& c : copies) {
            u->Load_Typ->setCurrentIndex(LoadRow(c.from));
            ask.answers << file("x.i");
            u->Load_I->click();
            if (u->Load_Q->isEnabled())
                ask.answers << file("x.q"), u->Load_Q->click();
            chooseSave(w.get(), SaveRow(c.to), "y.out");
            QVERIFY2(u->Load_Cpy->isEnabled() == c.offered, c.from);
        }
    }

    // Copy IQ goes file to file: the samples in memory stay as they were and
    // stay valid, whether the copy succeeds or fails; the status line says
    // what came of it.
    void copyLeavesTheDataInMemory()
    {
        const QByteArray wav = testutil::wav(2, 16, 1000, testutil::pairs({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, -1, -2, -3, -4, -5, -6, -7, -8, -9}));
        QVERIFY(testutil::writeFile(file("copy.in"), wav));
        MainWindow w;
        load(&w, "copy.in", LoadRow("WAV mixed"));
        chooseSave(&w, SaveRow("WAV mixed"), "copy.out");
        const float* before = w.loadRec.I;
        for (bool broken : {false, true}) {
            QVERIFY(testutil::writeFile(file("copy.in"), broken ? wav.left(20) : wav));
            w.ui->Load_Cpy->click();
            QVERIFY(broken ? ask.boxes.size() == 1 && ask.boxes[0].text == "File Load Error."
                           : ask.boxes.isEmpty() && QFileInfo(file("copy.out")).size() == wav.size());
            QVERIFY(w.loadRec.I == before && w.loadRec.N == 10 && w.loadRec.I[9] == 9 && w.ui->Load_Cnt->value() == 10);
            QVERIFY(dataShown(&w) == "11111" && w.ui->Save_Sav->isEnabled() && w.ui->Load_Cpy->isEnabled());
            QCOMPARE(w.ui->statusBar->currentMessage(), broken ? QString("File Load Error.") : QString("Copied 10 samples to copy.out"));
        }
    }

    // A load or a copy that had to cut the data says so in the status line,
    // after what it did, and keeps what it read; a whole file says no more.
    void loadNoticesInStatusLine()
    {
        QByteArray cut = testutil::wav(2, 16, 1000, testutil::pairs({1, 2, 3}, {-1, -2, -3}));
        cut.replace(cut.size() - 12 - 4, 4, testutil::le(40));
        QVERIFY(testutil::writeFile(file("cut.wav"), cut));
        for (bool copy : {false, true}) {
            MainWindow w;
            load(&w, "cut.wav", LoadRow("WAV mixed"));
            if (copy) {
                chooseSave(&w, SaveRow("WAV mixed"), "cut.out");
                w.ui->Load_Cpy->click();
            }
            QVERIFY(ask.boxes.isEmpty() && w.dataValid && w.loadRec.N == 3 && w.loadRec.Q[2] == -3.f);
            QCOMPARE(w.ui->statusBar->currentMessage(), (copy ? "Copied 3 samples to cut.out " : "Loaded 3 samples from cut.wav ")
                                                            + file("cut.wav") + " holds 3 of 10 announced frames.");
        }
        WriteIqw(file("whole.iqw"), 4);
        MainWindow w;
        load(&w, "whole.iqw");
        QCOMPARE(w.ui->statusBar->currentMessage(), QString("Loaded 4 samples from whole.iqw"));
    }

    // Each button opens its view of the loaded samples, at the rate given at
    // load (+fs/2 in MHz as the top of the frequency axis). Inspected and
    // closed from inside the dialog's own loop, so the modal run ends as soon
    // as it has started.
    void graphButtonsOpenTheirView()
    {
        auto w = loaded(1000);
        w->ui->Load_SRat->setValue(2e6);
        load(w.get(), "src.iqw");
        const std::pair<QPushButton*, QString> rows[] = {{w->ui->Spec, "Spectrum 512 1"}, {w->ui->IvsQ, "I vs. Q 1000 999"},
                                                          {w->ui->GDel, "Phase 512 1"}};
        for (auto [button, want] : rows) {
            QString seen;
            QTimer::singleShot(0, [&] {
                if (auto* g = qobject_cast<FftGraph*>(QApplication::activeModalWidget())) {
                    QwtPlot* p = g->findChild<QwtPlot*>(button == w->ui->IvsQ ? "plt2" : "plt");
                    const QwtPlotItemList curves = p->itemList(QwtPlotItem::Rtti_PlotCurve);
                    seen = QStringLiteral("%1 %2 %3").arg(p->title().text()).arg(static_cast<QwtPlotCurve*>(curves[0])->dataSize())
                               .arg(p->axisScaleDiv(QwtPlot::xBottom).upperBound());
                    g->accept();
                }
            });
            button->click();
            QCoreApplication::processEvents();
            QVERIFY(seen == want && !QApplication::activeModalWidget());
        }
    }

    // Help ▸ Contents takes the working folder's manual first, then the one
    // beside the program, then the installed one; without any it names every
    // folder it looked in and opens nothing.
    void manualLookup()
    {
        auto w = std::make_unique<MainWindow>();
        const QString bin = QCoreApplication::applicationDirPath(), cwd = QDir::currentPath();
        const QStringList folders{work.path(), bin, QDir::cleanPath(bin + "/" ORVEX_DOC_FROM_BIN)};
        QDir::setCurrent(work.path());
        QDesktopServices::setUrlHandler("file", this, "openUrl");
        const struct { int present, opened; } rows[] = {{0b111, 0}, {0b110, 1}, {0b100, 2}, {0b000, -1}};
        for (const auto& row : rows) {
            for (int k = 0; k < 3; ++k) {
                QFile::remove(folders[k] + "/Orvex.pdf");
                if (row.present >> k & 1)
                    QVERIFY(QDir().mkpath(folders[k]) && testutil::writeFile(folders[k] + "/Orvex.pdf", "%PDF-"));
            }
            openedUrl.clear();
            ask.clear();
            w->ui->actionContents->trigger();
            if (row.opened >= 0)
                QVERIFY(openedUrl == QUrl::fromLocalFile(folders[row.opened] + "/Orvex.pdf") && ask.boxes.isEmpty());
            else
                QVERIFY(openedUrl.isEmpty() && ask.boxes.size() == 1 && ask.boxes[0].text.contains("Orvex.pdf")
                        && ask.boxes[0].info == "Looked in:\n" + folders.join('\n'));
        }
        QDesktopServices::unsetUrlHandler("file");
        QDir::setCurrent(cwd);
    }

    // Under a light and a dark desktop palette the type lists, their
    // highlighted entries and the file fields show their text clearly, and a
    // disabled button is still framed apart from the window.
    void readableUnderAnyPalette()
    {
        const QPalette desktop = QApplication::palette();
        // Light text on dark faces, and a highlight as light as its text.
        QPalette dark(Qt::white, QColor(60, 60, 60), Qt::gray, Qt::black, Qt::darkGray, Qt::white, Qt::white, QColor(30, 30, 30), QColor(45, 45, 45));
        dark.setColor(QPalette::Highlight, Qt::white);
        for (const QPalette& pal : {desktop, dark}) {
            QApplication::setPalette(pal);
            auto w = loaded(10);
            chooseSave(w.get(), 0, "out.dat");
            w->resize(700, 600);
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            // Inside the frame and left of a list's arrow: only face and text.
            for (QWidget* field : std::initializer_list<QWidget*>{w->ui->Load_Typ, w->ui->Save_Typ, w->ui->Load_Di, w->ui->Save_Di})
                QVERIFY2(Contrast(field->grab().toImage(), field->rect().adjusted(3, 3, -20, -3)) > 100, qPrintable(field->objectName()));
            for (QComboBox* list : {w->ui->Load_Typ, w->ui->Save_Typ}) {
                list->showPopup();
                QAbstractItemView* v = list->view();
                v->setCurrentIndex(v->model()->index(3, 0));
                const QImage img = v->viewport()->grab().toImage();
                QVERIFY2(Contrast(img, v->visualRect(v->currentIndex())) > 100, qPrintable(list->objectName()));
                QVERIFY(Contrast(img, v->visualRect(v->model()->index(4, 0))) > 100);
                list->hidePopup();
            }
            w->ui->Save_App->setEnabled(false);
            const QImage button = w->ui->Save_App->grab().toImage();
            QVERIFY(std::abs(qGray(button.pixel(0, button.height() / 2)) - qGray(button.pixel(4, button.height() / 2))) > 20);
        }
        QApplication::setPalette(desktop);
    }

    // About; a configuration saved and loaded brings no samples: what was in
    // memory is gone. A cancelled dialog changes nothing.
    void menus()
    {
        auto w = loaded(10);
        w->ui->actionAbout->trigger();
        QVERIFY(ask.boxes.size() == 1 && ask.boxes[0].kind == "about");
        w->ui->Save_Typ->setCurrentIndex(4);
        ask.answers << file("mine.ini");
        w->ui->actionSave->trigger();
        QCOMPARE(QSettings(file("mine.ini"), QSettings::IniFormat).value("Program/Destination File Type").toInt(), 4);
        w->ui->Save_Typ->setCurrentIndex(0);
        ask.answers << file("mine.ini");
        w->ui->actionLoad->trigger();
        QVERIFY(w->ui->Save_Typ->currentIndex() == 4 && !w->dataValid && !w->ui->DVal->isChecked() && !w->loadRec.I);
        w->ui->actionLoad->trigger();
        QCOMPARE(w->ui->Save_Typ->currentIndex(), 4);
    }

    // Every key written is read back (a key misspelt on one side would come
    // back as the default) under the names other versions read; a missing
    // file resets every value and releases the samples; the counts are
    // written as 32 bits. The settings folder takes the maker's name.
    void configurationFile()
    {
        Panel a, b, none, d;
        a.fill();
        MakeIQArr(&none.load, 16);
        MakeIQArr(&none.save, 16);
        none.read(file("none.ini"));
        QVERIFY(!none.load.I && !none.load.Q && !none.save.I && !none.save.Q);
        d.load.Typ = 23, d.port = 1000, d.connectTo = 1, d.x = d.y = 100;
        QCOMPARE(none.values(), d.values());
        for (int k = 0; k < d.values().size(); ++k)
            QVERIFY2(a.values()[k] != d.values()[k], qPrintable(QString::number(k)));
        a.write(file("all.ini"));
        b.read(file("all.ini"));
        QCOMPARE(b.values(), a.values());
        QSettings s(file("all.ini"), QSettings::IniFormat);
        QCOMPARE(s.childGroups(), QStringList({"AnaIQ", "Analyzer", "DigiIQ", "Position", "Program"}));
        QVERIFY(s.value("Analyzer/VISA Resource String") == a.ana.RsrcStr && s.value("DigiIQ/Sample Rate") == 20.0);
        a.ana.Count = 5000000000ull;
        a.ana.OscRecLen = (1ull << 32) + 5;
        a.write(file("all.ini"));
        QSettings c(file("all.ini"), QSettings::IniFormat);
        QVERIFY(c.value("Analyzer/Sample Count").toULongLong() == 705032704ull && c.value("Analyzer/Osc. Rec Len") == 5);
        QVERIFY(SettingsFolder("C:\\Users\\u\\OrvexMc") == "C:/Users/u/Halvard/OrvexMc" && SettingsFolder("OrvexMc") == "Halvard/OrvexMc");
    }

    // Start-up clears the flag; nothing loaded yet. The strip shows the
    // client while it is there. A remote error is shown in a critical box.
    // A port out of range or one already taken is named beside the status line.
    void serverOfTheWindow()
    {
        auto w = start();
        QVERIFY(w->server->serverPort() == port && !w->ui->Conn->isChecked());
        Client c(port);
        QCOMPARE(c.take(24), newState(false) + value(1, 0.0f) + value(0, float(w->loadRec.Clock)));
        QVERIFY(w->ui->Conn->isChecked());
        c.sock.disconnectFromHost();
        QVERIFY(waitFor([&] { return !w->ui->Conn->isChecked(); }));
        emit w->remoteError(new HvRemoteException("link lost"));
        QVERIFY(ask.boxes.size() == 1);
        QCOMPARE(ask.boxes[0].kind + "|" + ask.boxes[0].title + "|" + ask.boxes[0].text, QString("critical|Error|link lost"));
        w.reset();
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        for (int p : {0, 65536, -5, int(taken.serverPort())}) {
            configure(p);
            MainWindow other;
            QVERIFY2(!other.server->isListening() && ask.boxes.size() == 1, qPrintable(QString::number(p)));
            QVERIFY(other.serverNote->text().startsWith(QString("The symbol server cannot listen on port %1 (").arg(p)));
        }
    }

    // After a load the client fetches rate, length and (for WVSMITH2, index
    // 1) the symbols; answering does not clear the flag. A new connect-to
    // choice or port, or a failed load, leaves the client nothing new to
    // fetch; a changed link shows as not connected, even though the client
    // stays. A new port counts from the next start; the old one keeps serving.
    void newStateFlag()
    {
        auto [i, q] = WriteIqw(file("a.iqw"), 8000, 0.5f);
        for (const QString change : {"index 0", "connect-to", "port", "failed load"}) {
            const int connectTo = change == "index 0" ? 0 : 1;
            auto w = start(connectTo);
            Greeted c(port);
            QVERIFY(w->ui->ConnectTo->currentIndex() == connectTo && c.ok && c.asks("GetNewState", newState(false)));
            w->ui->Load_SRat->setValue(2.5e6);
            load(w.get(), "a.iqw");
            for (int k = 0; k < 2; ++k)
                QVERIFY(c.asks("GetNewState", newState(true) + value(0, 2.5e6f) + value(1, 8000.0f) + (connectTo ? symbols(i, q) : "")));
            QVERIFY(w->dataValid && w->newState && w->ui->Conn->isChecked());
            if (change == "index 0")
                continue;
            if (change == "connect-to") {
                w->ui->ConnectTo->setCurrentIndex(0);
            } else if (change == "port") {
                w->ui->Port->setValue(4711);
                emit w->ui->Port->editingFinished();
                QVERIFY(w->server->serverPort() == port && w->serverNote->text() == "Port 4711 takes effect at the next start.");
            } else {
                load(w.get(), "missing.iqw");
                c.send("GetSymbol");   // nothing valid to send
            }
            QVERIFY2(!w->newState && w->ui->Conn->isChecked() == (change == "failed load"), qPrintable(change));
            QVERIFY(c.asks("GetNewState", newState(false)));
            w.reset();
            QSettings s(iniPath, QSettings::IniFormat);
            QCOMPARE(s.value("Program/TCP Port").toInt(), change == "port" ? 4711 : int(port));
            QCOMPARE(s.value("Program/Connect To").toInt(), change == "connect-to" ? 0 : 1);
        }
    }

    // The reply borrows the load record's arrays: a reload under way neither
    // cuts it short nor changes its bytes (the leak checker watches), and the
    // window may close in the middle of one.
    void reloadAndCloseDuringReply()
    {
        auto [i, q] = WriteIqw(file("big.iqw"), 1000000);
        auto [si, sq] = WriteIqw(file("small.iqw"), 10, 3.0f);
        auto w = start();
        load(w.get(), "big.iqw");
        Greeted c(port, 4096);   // reads slowly: most of the reply waits
        QSignalSpy pieces(w->server, &SymbolServer::symbolPiece);
        c.send("GetSymbol");
        QVERIFY(c.ok && pieces.wait(10000) && w->server->backlog() > 1000000);
        load(w.get(), "small.iqw");
        QCOMPARE(w->loadRec.N, uint64_t(10));
        c.sock.setReadBufferSize(0);
        QVERIFY(c.take(8000004, 60000) == symbols(i, q) && c.asks("GetSymbol", symbols(si, sq)));
        load(w.get(), "big.iqw");
        c.sock.setReadBufferSize(4096);
        c.send("GetSymbol");
        QVERIFY(pieces.wait(10000));
        w.reset();
        // The client learns of the end once it reads what was still on its way.
        c.sock.setReadBufferSize(0);
        QVERIFY(waitFor([&] { return c.sock.readAll(), c.sock.state() == QAbstractSocket::UnconnectedState; }));
    }
};

ORVEX_GUI_TEST_MAIN(WindowTest)
#include "tst_window.moc"
