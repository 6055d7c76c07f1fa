// The Trace tab driven through its widgets, offscreen, against the
// instrument simulator over loopback: Init and its messages and limits, the
// per-type field rules, traces that succeed, fail or are cancelled, the
// sessions the tab drops, the I/Q dialogs and the settings across a restart.
#include "app/aiq.h"
#include "app/diq.h"
#include "app/mainwindow.h"
#include "formats/catalogue.h"
#include "instrument/devtable.h"
#include "instrument/hvvisa.h"
#include "remote/windowremote.h"
#include "guitest.h"
#include "testutil.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace {

struct Sim : QProcess {
    QString log, rsrc, port;
    Sim(const QString& type, const QStringList& args, const QString& logPath) : log(logPath)
    {
        start(ORVEX_SIM, QStringList{"--type", type, "--socket", "0", "--log", log, "--stdin-exit"} + args);
        QByteArray out;
        while (!out.contains("ready\n") && waitForReadyRead(10000))
            out += readAllStandardOutput();
        port = QString(out).section("socket 127.0.0.1:", 1).section('\n', 0, 0);
        rsrc = "TCPIP::127.0.0.1::" + port + "::SOCKET";
    }
    ~Sim() override { closeWriteChannel(), waitForFinished(10000); }
    QString messages() const { return QString(testutil::readFile(log)); }
    // Our connections to the simulator that are still established.
    int open() const
    {
        const QString rem = QString(":%1").arg(port.toInt(), 4, 16, QChar('0')).toUpper();
        int n = 0;
        for (const QString& l : QString(testutil::readFile("/proc/net/tcp")).split('\n'))
            n += l.section(' ', 2, 2, QString::SectionSkipEmpty).endsWith(rem) && l.section(' ', 3, 3, QString::SectionSkipEmpty) == "01";
        return n;
    }
};

struct Prompts2 : FakePrompts {
    QStringList dialogs;
    int exec(QDialog* d) override { return dialogs << d->windowTitle(), QDialog::Rejected; }
};

// Raises the cancel at the first step of a transfer.
struct Canceller : Progress {
    Progress* inner;
    void begin(const QString& l, uint64_t t) override { inner->begin(l, t); }
    void step(uint64_t d) override { inner->step(d), EscFlg = 1; }
    void end() override { inner->end(); }
};

int typeOf(const QString& name) { return int(std::find_if(ag, ag + AG_COUNT, [&](const DevStr& r) { return r.Name == name; }) - ag); }

} // namespace

class TraceTabTest : public QObject {
    Q_OBJECT
    QTemporaryDir home, work;
    Prompts2 ask;
    QString iniPath;
    const std::vector<DevStr> table{ag, ag + AG_COUNT};
    using W = std::unique_ptr<MainWindow>;

    // A window on the Trace tab for the type, with "Group/Key=value;..." in its configuration.
    // An empty type starts on the configuration the last window left.
    W start(const QString& type, const QString& rsrc = {}, const QString& config = {})
    {
        if (type.isEmpty())
            return std::make_unique<MainWindow>();
        // As in a fresh process: the panel lowers rows of the type table.
        std::copy(table.begin(), table.end(), ag);
        QFile::remove(iniPath);
        QSettings s(iniPath, QSettings::IniFormat);
        s.setValue("Analyzer/Type", typeOf(type));
        s.setValue("Analyzer/VISA Resource String", rsrc);
        s.setValue("Program/IQ Source", 1);
        for (const QString& kv : config.split(';', Qt::SkipEmptyParts))
            s.setValue(kv.section('=', 0, 0), kv.section('=', 1));
        s.sync();
        return std::make_unique<MainWindow>();
    }
    static Ui_MainWindow* ui(const W& w) { return w->ui; }
    static QString shown(const W& w) { return QString("%1%2%3%4").arg(w->dataValid).arg(w->ui->DVal->isChecked()).arg(w->ui->Spec->isEnabled()).arg(w->ui->Save_Sav->isEnabled()); }
    static void edit(QAbstractSpinBox* b) { emit b->editingFinished(); }
    // Loads n samples from an IQW file and picks an IQW save file, on the Load tab.
    void loadFile(const W& w, int n)
    {
        WriteIqw(work.filePath("in.iqw"), n);
        w->ui->LodTrcIqr->setCurrentIndex(0);
        w->ui->Load_Typ->setCurrentIndex(TypeIndex(tl, TL_COUNT, "IQW mixed, iqiqiq....iq"));
        w->ui->Save_Typ->setCurrentIndex(TypeIndex(ts, TS_COUNT, "IQW mixed, iqiqiq....iq"));
        ask.answers << work.filePath("in.iqw") << work.filePath("out.iqw");
        w->ui->Load_I->click(), w->ui->Load_Lod->click(), w->ui->Save_I->click();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid() && work.isValid());
        iniPath = UseSettingsHome(home.path());
        SetPrompts(&ask);
        SetWindowServerListens(false);
        MainWindow::visaLoader = [] { return hvVisaDll_InitFrom({ORVEX_VISA_LIB}); };
    }
    void init()
    {
        QFile::remove(iniPath);
        ask.clear(), ask.dialogs.clear();
        for (bool* f : {&GinkgoOptA, &GinkgoOptC, &GinkgoOptD, &GinkgoOptE, &PineOptA, &PineOptB})
            *f = false;
    }

    // Which fields each type shows ('.': not looked at) and which are usable.
    void panelRules()
    {
        const struct {
            const char *type, *config;
            bool init;
            QString shown, usable, lists;
        } rows[] = {
            {"Alder", "", false, "01100111000010..", "001100.", "1,0,1,3"},
            {"Birch", "", false, "01011000111010..", "111110.", "4,12,1,4"},
            {"Ginkgo", "Analyzer/IQ Input=1", false, "01101000111010..", "111110.", "10,0,3,4"},
            {"Ginkgo", "Analyzer/IQ Input=1", true, "01101000111010..", "111111.", "10,0,3,4"},
            {"Kapok", "", false, "10101000100110..", "001110.", "0,0,1,3"},
            {"Pine", "", false, "10101000111010..", "111110.", "0,0,2,3"},
            {"Yew", "", false, "01011000111010..", "110010.", "16,1,1,1"},
            {"Zelkova", "", false, "............0110", "......0", ""},
            {"Zelkova", "Analyzer/IQ Input Type=1;Analyzer/IQ Input Mode=1", false, "............0101", "......1", ""},
        };
        for (const auto& r : rows) {
            Sim sim(r.type, {}, work.filePath("rules"));
            W w = start(r.type, sim.rsrc, r.config);
            if (r.init)
                ui(w)->Trace_Init->click();
            auto* u = ui(w);
            QString shown, usable, lists;
            for (const QString& n : QString("Ana_Rbw Ana_RbwTxt Ana_SRat Ana_SRatTxt Ana_PreTrg Ana_RLen Ana_TrgOfs Ana_DatTyp Ana_FltTyp Ana_IQInp Ana_Bal Ana_Avg Ana Osc Osc_SbRf Osc_SbIf").split(' '))
                shown += QString::number(!w->findChild<QWidget*>(n.startsWith("Osc_") || n.startsWith("Ana_") ? "Trace_" + n : n)->isHidden());
            for (const QString& n : QString("Ana_RbwTxt Ana_TrgSlp Ana_PreTrg Ana_TrgMod Ana_Cnt Ana_Bal Osc_CFrq").split(' '))
                usable += QString::number(w->findChild<QWidget*>("Trace_" + n)->isEnabled());
            if (!u->Ana->isHidden())
                lists = QString("%1,%2,%3,%4").arg(u->Trace_Ana_RbwTxt->count()).arg(u->Trace_Ana_SRatTxt->count()).arg(u->Trace_Ana_IQInp->count()).arg(u->Trace_Ana_TrgMod->count());
            for (auto [got, want] : {std::pair<QString*, QString>{&shown, r.shown}, {&usable, r.usable}})
                for (int k = 0; k < got->size(); ++k)
                    (*got)[k] = want[k] == '.' ? QChar('.') : got->at(k);
            QCOMPARE(shown + " " + usable + " " + lists, r.shown + " " + r.usable + " " + r.lists);
        }
    }

    // Init's messages and the limits the options set, clamps and fall-backs,
    // each through the path a user takes. opt: "" no Init, "=" Init with the
    // simulator's options, "!" Init of nothing, else the options reported.
    void instrument()
    {
        const QString refused = "Error|Initialization error. Check your connections and make sure\nyou have the correct GPIB or LAN address.";
        // Types a sample rate and count (0: none) after Init; then what shows.
        auto lim = [this](double srate, double count) {
            return [=](const W& w, Sim& s) {
                if (srate)
                    ui(w)->Trace_Ana_SRat->setValue(srate), edit(ui(w)->Trace_Ana_SRat);
                if (count)
                    ui(w)->Trace_Ana_Cnt->setValue(int(count)), edit(ui(w)->Trace_Ana_Cnt);
                const QString box = ask.boxes.isEmpty() ? "" : ask.boxes[0].title + "|" + ask.boxes[0].text;
                return QString("%1 %2 %3 %4 %5 %6").arg(box).arg(ui(w)->Trace_Trc->isEnabled()).arg(ui(w)->Trace_DevMsg->text()).arg(w->ana.SRate).arg(ui(w)->Trace_Ana_Cnt->value()).arg(s.open());
            };
        };
        // With a file loaded and a save file chosen: a trace (reset on Init,
        // cancelled at its first block), what the window then offers and
        // says, the instrument's last messages and the size of the save.
        auto trace = [this](bool rst, bool cancel, const char* last) {
            return [=](const W& w, Sim& s) {
                loadFile(w, 10);
                ui(w)->LodTrcIqr->setCurrentIndex(1);
                if (rst)
                    ui(w)->Trace_Rst->click();
                ui(w)->Trace_Init->click();
                Canceller c;
                c.inner = &w->progress;
                SetProgress(cancel ? &c : c.inner);
                ui(w)->Trace_Trc->click();
                SetProgress(c.inner);
                // The last messages get no reply, so the log may lag behind them.
                (void)QTest::qWaitFor([&] { return s.messages().endsWith(last + QString("\\n\n")); }, 5000);
                ui(w)->Save_Sav->click();
                const QString box = ask.boxes.isEmpty() ? "" : ask.boxes[0].title + "|" + ask.boxes[0].text;
                const QStringList sent = s.messages().split('\n', Qt::SkipEmptyParts);
                return QString("%1 %2 %3 %4 %5").arg(box, shown(w)).arg(ui(w)->Trace_Trc->isEnabled()).arg(QFileInfo(work.filePath("out.iqw")).size()).arg(sent.mid(sent.indexOf(QRegularExpression(".*DATA\\?.*"))).join(' '));
            };
        };
        auto inp = [this](int index) {
            return [=](const W& w, Sim&) { ui(w)->Trace_Ana_IQInp->setCurrentIndex(index); return QString("%1 %2 %3").arg(w->ana.IQInp).arg(ui(w)->Trace_Ana_IQInp->currentIndex()).arg(ask.dialogs.join(',')); };
        };
        const struct {
            const char *type, *opt, *config;
            std::function<QString(const W&, Sim&)> act;
            QString want;
        } rows[] = {
            {"Birch", "=", "", lim(0, 0), " 1 Halvard,Birch,100001/001,1.0 15625 8192 1"},
            {"Birch", "!", "", lim(0, 0), refused + " 0  15625 8192 0"},
            // A refused instrument's session is closed, not just forgotten.
            {"Alder", "0", "", lim(0, 0), "Alder Error|No Alder-OPT-B option installed. 0 Halvard,Alder,100001/001,1.0 3.2e+07 32 0"},
            {"Alder", "OPT-B", "Analyzer/Sample Rate=1e8;Analyzer/Record Length=10", lim(0, 0), " 1 Halvard,Alder,100001/001,1.0 3.2e+07 320000 1"},
            {"Ginkgo", "OPT-A,OPT-E", "Analyzer/Sample Rate=1e8", lim(0, 2e9), " 1 Halvard,Ginkgo,100001/001,1.0 8.16e+07 1409285632 1"},
            {"Ginkgo", "OPT-E", "", lim(2e8, 6e8), " 1 Halvard,Ginkgo,100001/001,1.0 8.16e+07 600000000 1"},
            {"Ginkgo", "OPT-D,OPT-E", "", lim(2e8, 6e8), " 1 Halvard,Ginkgo,100001/001,1.0 2e+08 503315968 1"},
            {"Ginkgo", "OPT-D", "", lim(2e8, 6e8), " 1 Halvard,Ginkgo,100001/001,1.0 2e+08 16776704 1"},
            {"Pine", "OPT-A", "", lim(1e8, 0), " 1 Halvard,Pine,100001/001,1.0 4.5e+07 8192 1"},
            {"Pine", "OPT-A,OPT-B", "", lim(1e8, 0), " 1 Halvard,Pine,100001/001,1.0 1e+08 8192 1"},
            {"Birch", "=", "Analyzer/Sample Count=1000", trace(false, false, "OFF"), " 1111 1 8000 TRAC:IQ:DATA?\\n TRAC:IQ OFF\\n"},
            {"Zelkova", "=", "Analyzer/Osc. Rec Len=10000;Analyzer/Channel=1", trace(false, false, "DATA?"), " 1111 1 80000 CHAN1:IQ:DATA?\\n"},
            {"Birch", "--drop-after 100", "", trace(false, false, "DATA?"), "Error|A VISA error has occured. 0000 1 0 TRAC:IQ:DATA?\\n"},
            {"Alder", "OPT-B", "Analyzer/Sample Rate=32e6;Analyzer/Record Length=20", trace(true, true, "ON"), " 0000 1 0 TRAC:IQ:DATA?\\n TRAC:IQ OFF;*OPC?\\n *RST;*CLS\\n INIT:CONT ON\\n"},
            {"Birch", "", "Analyzer/RBW Index=9", [](const W& w, Sim&) { return QString("%1 %2 %3").arg(w->ana.RbwIdx).arg(ui(w)->Trace_Ana_RbwTxt->currentIndex()).arg(w->ana.Rbw); }, "0 0 300000"},
            {"Birch", "", "Analyzer/Pre Trigger Samples=-200000", [](const W& w, Sim&) { return QString::number(ui(w)->Trace_Ana_PreTrg->value()); }, "-130559"},
            {"Birch", "", "", [](const W& w, Sim&) { w->ana.PreTrg = 200000, w->UpdPnl(1); return QString::number(ui(w)->Trace_Ana_PreTrg->value()); }, "130559"},
            {"Birch", "", "", [](const W& w, Sim&) { ui(w)->Trace_Ana_PreTrg->setValue(-999999), edit(ui(w)->Trace_Ana_PreTrg); return QString::number(w->ana.PreTrg); }, "-130559"},
            {"Alder", "", "Analyzer/Pre Trigger Samples=5", [](const W& w, Sim&) { return QString::number(w->ana.PreTrg); }, "0"},
            {"Alder", "", "Analyzer/Sample Rate=32e6", [](const W& w, Sim&) { ui(w)->Trace_Ana_RLen->setValue(20), edit(ui(w)->Trace_Ana_RLen); return QString("%1 %2").arg(ui(w)->Trace_Ana_Cnt->value()).arg(w->ana.RecLen); }, "524200 16.3813"},
            {"Ginkgo", "OPT-C,OPT-D", "", inp(2), "0 0 "},
            {"Ginkgo", "OPT-A", "", inp(2), "2 2 Digital IQ Parameters"},
            {"Ginkgo", "OPT-C", "", inp(1), "1 1 Analog IQ Parameters"},
            {"Pine", "OPT-A", "", inp(1), "2 1 Digital IQ Parameters"},
            {"Ginkgo", "", "AnaIQ/IQ Range=2.0", [](const W& w, Sim&) { w->on_Trace_Ana_Imp_clicked(true); return QString::number(w->ana.AnaRange); }, "1.78"},
            // Until an Init has asked for the options, the settings that need them stand.
            {"Ginkgo", "", "Analyzer/IQ Input=2;Analyzer/Sample Rate=2e8", [](const W& w, Sim&) { return QString("%1 %2").arg(w->ana.IQInp).arg(w->ana.SRate); }, "2 2e+08"},
            {"Pine", "OPT-B", "Analyzer/IQ Input=2", [](const W& w, Sim&) { return QString::number(w->ana.IQInp); }, "0"},
            {"Birch", "", "", [this](const W& w, Sim&) {
                 loadFile(w, 10);
                 ui(w)->LodTrcIqr->setCurrentIndex(1);
                 const QString there = shown(w);
                 ui(w)->LodTrcIqr->setCurrentIndex(0);
                 return there + " " + shown(w) + QString(" %1 %2").arg(w->loadRec.N).arg(ui(w)->Save_Sav->isEnabled()); }, "0000 1111 10 1"},
            {"Zelkova", "", "", [this](const W& w, Sim&) { loadFile(w, 10), ui(w)->LodTrcIqr->setCurrentIndex(1); return shown(w) + QString(" %1").arg(w->loadRec.N); }, "1111 10"},
        };
        for (const auto& r : rows) {
            const QString opt = r.opt;
            const QStringList simArgs = opt.startsWith("--") ? opt.split(' ') : opt.size() > 1 || opt == "0" ? QStringList{"--opt", opt} : QStringList();
            Sim sim(r.type, simArgs, work.filePath(QString("inst%1").arg(&r - rows)));
            W w = start(r.type, opt == "!" ? "TCPIP::127.0.0.1::1::SOCKET" : sim.rsrc, r.config);
            if (!opt.isEmpty())
                ui(w)->Trace_Init->click();
            ask.dialogs.clear();
            QCOMPARE(r.act(w, sim), r.want);
            ask.boxes.clear();
            QFile::remove(work.filePath("out.iqw"));
        }
    }

    // Whatever needs a new Init closes the session it ends.
    void sessionsClosed()
    {
        const std::function<void(const W&)> acts[] = {
            [](const W& w) { ui(w)->Trace_Rst->click(); },
            [](const W& w) { ui(w)->Trace_Raw->click(); },
            [](const W& w) { ui(w)->Trace_DevTyp->setCurrentIndex(2); },
            [](const W& w) { QTest::keyClicks(ui(w)->Trace_VisaRS, "0"); },
            [](const W& w) { edit(ui(w)->Trace_Osc_RelBw); },
            [this](const W& w) { ask.answers << iniPath, w->findChild<QAction*>("actionLoad")->trigger(); },
        };
        for (const auto& act : acts) {
            Sim sim("Birch", {}, work.filePath("drop"));
            W w = start("Birch", sim.rsrc);
            ui(w)->Trace_Init->click();
            QCOMPARE(sim.open(), 1);
            act(w);
            QCOMPARE(sim.open(), 0);
            QVERIFY(!ui(w)->Trace_Trc->isEnabled() && !w->ana.Vi);
        }
    }

    // The analog range list stores the voltage of the chosen entry, at most
    // 1.78 V with high impedance; the offset stays when the dialog is
    // cancelled. The digital range is kept above 0.
    void iqDialogs()
    {
        const struct {
            bool highImp;
            double stored;
            int shown, choose;
            double range;
            int pos;
        } rows[] = {{false, 1.0, 6, 6, 1.0, 6}, {false, 0.3, 4, 9, 5.62, 9}, {true, 1.0, 6, 8, 1.78, 7}, {true, 1.0, 6, 2, 0.1, 2}, {false, 0, 0, 0, 0.0316, 0}, {false, 1.7, 7, 3, 0.178, 3}};
        for (const auto& r : rows) {
            AnaStr a;
            a.HighImp = r.highImp, a.AnaRange = r.stored;
            Aiq d(&a);
            auto* rng = d.findChild<QComboBox*>("IQRng");
            const int shown = rng->currentIndex();
            rng->setCurrentIndex(r.choose == shown ? -1 : r.choose), rng->setCurrentIndex(r.choose);
            d.findChild<QDoubleSpinBox*>("IQOfs")->setValue(3.5), d.reject();
            QCOMPARE(QString("%1 %2 %3 %4").arg(shown).arg(a.AnaRange).arg(rng->currentIndex()).arg(a.AnaOfs), QString("%1 %2 %3 3.5").arg(r.shown).arg(r.range).arg(r.pos));
        }
        AnaStr a;
        Diq d(&a);
        d.findChild<QDoubleSpinBox*>("IQRng")->setValue(0), d.findChild<QDoubleSpinBox*>("InpSRat")->setValue(20);
        QCOMPARE(QString("%1 %2").arg(a.DigRange).arg(a.DigSRate), QString("0.01 20"));
    }

    // Fields set through the widgets come back after a restart.
    void restart()
    {
        W w = start("Birch", "TCPIP::127.0.0.1::INSTR");
        ui(w)->Trace_DevTyp->setCurrentIndex(typeOf("Ginkgo"));
        for (auto [box, v] : {std::pair<QSpinBox*, int>{ui(w)->Trace_Ana_Cnt, 12345}, {ui(w)->Trace_Ana_PreTrg, -100}})
            box->setValue(v), edit(box);
        ui(w)->Trace_Ana_SRat->setValue(5e7), edit(ui(w)->Trace_Ana_SRat);
        ui(w)->Trace_Ana_TrgMod->setCurrentIndex(2), ui(w)->Trace_Ana_RbwTxt->setCurrentIndex(9);
        QTest::keyClicks(ui(w)->Trace_VisaRS, "x");
        w.reset(), w = start({});
        auto* u = ui(w);
        QCOMPARE(QString("%1 %2 %3 %4 %5 %6 %7 %8").arg(u->Trace_DevTyp->currentText()).arg(u->Trace_Ana_SRat->value()).arg(u->Trace_Ana_Cnt->value()).arg(u->Trace_Ana_PreTrg->value())
                     .arg(u->Trace_Ana_TrgMod->currentText(), u->Trace_Ana_RbwTxt->currentText(), u->Trace_VisaRS->text()).arg(w->ana.Rbw),
                 QString("Ginkgo 5e+07 12345 -100 IFPower 120M TCPIP::127.0.0.1::INSTRx 1.2e+08"));
    }

    // Every shown label gets its full width, a resource string fits its
    // field and the Rst box sits by its label (run again at scale factor 2).
    void labelsFit()
    {
        for (const char* type : {"Alder", "Ginkgo", "Kapok", "Zelkova"}) {
            W w = start(type, "TCPIP::192.168.100.200::hislip0::INSTR");
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            for (QLabel* l : ui(w)->Trace->findChildren<QLabel*>())
                QVERIFY2(!l->isVisible() || l->width() >= l->sizeHint().width(), qPrintable(l->objectName()));
            auto* rs = ui(w)->Trace_VisaRS;
            QVERIFY(rs->width() > rs->fontMetrics().horizontalAdvance(rs->text()) + 8);
            QVERIFY(ui(w)->Trace_Rst->x() - ui(w)->Trace_Rst_Lbl->geometry().right() < 10);
        }
    }
};

ORVEX_GUI_TEST_MAIN(TraceTabTest)
#include "tst_tracetab.moc"
