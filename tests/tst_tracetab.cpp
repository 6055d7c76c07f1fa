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
#include "ui_mainwindow.h"
#include "windowtest.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
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
    QString messages() const
    {
        QFile f(log);
        return f.open(QIODevice::ReadOnly) ? QString(f.readAll()) : QString();
    }
    // Connections of ours to the simulator that are still open.
    int open() const
    {
        QFile f("/proc/net/tcp");
        f.open(QIODevice::ReadOnly);
        const QString rem = QString(":%1 ").arg(port.toInt(), 4, 16, QChar('0')).toUpper();
        int n = 0;
        for (const QString& l : QString(f.readAll()).split('\n'))
            n += l.section(' ', 2, 2, QString::SectionSkipEmpty).endsWith(rem.trimmed()) && l.section(' ', 3, 3, QString::SectionSkipEmpty) == "01";
        return n;
    }
};

struct Prompts2 : FakePrompts {
    QStringList dialogs;
    std::function<void(QDialog*)> onDialog;
    int exec(QDialog* d) override
    {
        dialogs << d->windowTitle();
        if (onDialog)
            onDialog(d);
        return QDialog::Rejected;
    }
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
        ask.clear(), ask.dialogs.clear(), ask.onDialog = nullptr;
        for (bool* f : {&GinkgoOptA, &GinkgoOptC, &GinkgoOptD, &GinkgoOptE, &PineOptA, &PineOptB})
            *f = false;
    }

    // Init's messages, the options it finds and the limits they set, with
    // the sample rate and count typed after Init (0: none).
    void initAndLimits()
    {
        const QString refused = "Error|Initialization error. Check your connections and make sure\nyou have the correct GPIB or LAN address.";
        const struct {
            const char *type, *opt, *config;
            double srate, count;
            QString box;
            double srateShown, countShown;
        } rows[] = {
            {"Birch", "", "", 0, 0, "", 15625, 8192},
            {"Birch", "unreachable", "", 0, 0, refused, 15625, 8192},
            {"Alder", "0", "", 0, 0, "Alder Error|No Alder-OPT-B option installed.", 32e6, 32},
            {"Alder", "OPT-B", "Analyzer/Sample Rate=1e8;Analyzer/Record Length=10", 0, 0, "", 32e6, 320000},
            {"Alder", "OPT-B", "Analyzer/Record Length=20", 32e6, 0, "", 32e6, 524200},
            {"Ginkgo", "OPT-A,OPT-E", "Analyzer/Sample Rate=1e8", 0, 2e9, "", 816e5, 1409285632},
            {"Ginkgo", "OPT-E", "", 2e8, 6e8, "", 816e5, 6e8},
            {"Ginkgo", "OPT-D,OPT-E", "", 2e8, 6e8, "", 2e8, 503315968},
            {"Ginkgo", "OPT-D", "", 2e8, 6e8, "", 2e8, 16776704},
            {"Pine", "OPT-A", "", 1e8, 0, "", 45e6, 8192},
            {"Pine", "OPT-A,OPT-B", "", 1e8, 0, "", 1e8, 8192},
        };
        for (const auto& r : rows) {
            const bool reach = QString(r.opt) != "unreachable";
            Sim sim(r.type, QString(r.opt).isEmpty() || !reach ? QStringList() : QStringList{"--opt", r.opt}, work.filePath(QString("ini%1").arg(&r - rows)));
            W w = start(r.type, reach ? sim.rsrc : "TCPIP::127.0.0.1::1::SOCKET", r.config);
            ui(w)->Trace_Init->click();
            if (r.srate)
                ui(w)->Trace_Ana_SRat->setValue(r.srate), edit(ui(w)->Trace_Ana_SRat);
            if (r.count)
                ui(w)->Trace_Ana_Cnt->setValue(int(r.count)), edit(ui(w)->Trace_Ana_Cnt);
            QCOMPARE(ask.boxes.isEmpty() ? "" : ask.boxes[0].title + "|" + ask.boxes[0].text, r.box);
            QCOMPARE(ui(w)->Trace_Trc->isEnabled(), r.box.isEmpty());
            QCOMPARE(ui(w)->Trace_DevMsg->text(), reach ? QString("Halvard,%1,100001/001,1.0").arg(r.type) : "");
            QCOMPARE(w->ana.SRate, r.srateShown);
            QCOMPARE(ui(w)->Trace_Ana_Cnt->value(), int(r.countShown));
            // A refused instrument's session is closed, not just forgotten.
            QCOMPARE(sim.open(), int(r.box.isEmpty()));
            ask.boxes.clear();
        }
    }

    // Traces after a file was loaded and a save file chosen: what the window
    // then offers, what it says, and what the instrument last received.
    void traces()
    {
        const struct {
            const char *type, *sim, *config;
            bool rst, cancel;
            QString shown, box, tail;
            uint64_t n;
        } rows[] = {
            {"Birch", "", "Analyzer/Sample Count=1000", false, false, "1111", "", "TRAC:IQ:DATA?\\n\nTRAC:IQ OFF\\n\n", 1000},
            {"Zelkova", "", "Analyzer/Osc. Rec Len=500;Analyzer/Channel=1", false, false, "1111", "", "CHAN1:IQ:DATA?\\n\n", 500},
            {"Birch", "--drop-after 100", "", false, false, "0000", "Error|A VISA error has occured.", "TRAC:IQ:DATA?\\n\n", 0},
            {"Alder", "--opt OPT-B", "Analyzer/Sample Rate=32e6;Analyzer/Record Length=20", true, true, "0000", "",
             "TRAC:IQ:DATA?\\n\nTRAC:IQ OFF;*OPC?\\n\n*RST;*CLS\\n\nINIT:CONT ON\\n\n", 0},
        };
        for (const auto& r : rows) {
            Sim sim(r.type, QString(r.sim).split(' ', Qt::SkipEmptyParts), work.filePath(QString("log%1").arg(&r - rows)));
            W w = start(r.type, sim.rsrc, r.config);
            loadFile(w, 10);
            ui(w)->LodTrcIqr->setCurrentIndex(1);
            if (r.rst)
                ui(w)->Trace_Rst->click();
            ui(w)->Trace_Init->click();
            Canceller c;
            c.inner = &w->progress;
            SetProgress(r.cancel ? &c : c.inner);
            ui(w)->Trace_Trc->click();
            SetProgress(c.inner);
            QCOMPARE(ask.boxes.isEmpty() ? "" : ask.boxes[0].title + "|" + ask.boxes[0].text, r.box);
            QCOMPARE(shown(w), r.shown);
            // The last messages get no reply, so the log may lag behind them.
            QTRY_VERIFY2_WITH_TIMEOUT(sim.messages().endsWith(r.tail), qPrintable(sim.messages().right(200)), 5000);
            QVERIFY(ui(w)->Trace_Trc->isEnabled());
            QCOMPARE(w->loadRec.N, r.n ? r.n : w->loadRec.N);
            QCOMPARE(!w->loadRec.I, !r.n);
            ui(w)->Save_Sav->click();
            QCOMPARE(QFileInfo(work.filePath("out.iqw")).size(), qint64(8 * r.n));
            QFile::remove(work.filePath("out.iqw"));
            ask.boxes.clear();
        }
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
            for (QWidget* x : {(QWidget*)u->Trace_Ana_Rbw, (QWidget*)u->Trace_Ana_RbwTxt, (QWidget*)u->Trace_Ana_SRat, (QWidget*)u->Trace_Ana_SRatTxt,
                               (QWidget*)u->Trace_Ana_PreTrg, (QWidget*)u->Trace_Ana_RLen, (QWidget*)u->Trace_Ana_TrgOfs, (QWidget*)u->Trace_Ana_DatTyp,
                               (QWidget*)u->Trace_Ana_FltTyp, (QWidget*)u->Trace_Ana_IQInp, (QWidget*)u->Trace_Ana_Bal, (QWidget*)u->Trace_Ana_Avg,
                               (QWidget*)u->Ana, (QWidget*)u->Osc, (QWidget*)u->Trace_Osc_SbRf, (QWidget*)u->Trace_Osc_SbIf})
                shown += QString::number(!x->isHidden());
            for (QWidget* x : {(QWidget*)u->Trace_Ana_RbwTxt, (QWidget*)u->Trace_Ana_TrgSlp, (QWidget*)u->Trace_Ana_PreTrg, (QWidget*)u->Trace_Ana_TrgMod,
                               (QWidget*)u->Trace_Ana_Cnt, (QWidget*)u->Trace_Ana_Bal, (QWidget*)u->Trace_Osc_CFrq})
                usable += QString::number(x->isEnabled());
            if (!u->Ana->isHidden())
                lists = QString("%1,%2,%3,%4").arg(u->Trace_Ana_RbwTxt->count()).arg(u->Trace_Ana_SRatTxt->count()).arg(u->Trace_Ana_IQInp->count()).arg(u->Trace_Ana_TrgMod->count());
            for (auto [got, want] : {std::pair<QString*, QString>{&shown, r.shown}, {&usable, r.usable}})
                for (int k = 0; k < got->size(); ++k)
                    (*got)[k] = want[k] == '.' ? QChar('.') : got->at(k);
            QCOMPARE(shown + " " + usable + " " + lists, r.shown + " " + r.usable + " " + r.lists);
        }
    }

    // Clamps and fall-backs, each through the path a user takes.
    void edgeCases()
    {
        using Act = std::function<QString(const W&)>;
        const struct {
            const char *type, *config, *opt;
            Act act;
            QString want;
        } rows[] = {
            {"Birch", "Analyzer/RBW Index=9", "", [](const W& w) { return QString("%1 %2 %3").arg(w->ana.RbwIdx).arg(ui(w)->Trace_Ana_RbwTxt->currentIndex()).arg(w->ana.Rbw); }, "0 0 300000"},
            {"Birch", "Analyzer/Pre Trigger Samples=-200000", "", [](const W& w) { return QString::number(ui(w)->Trace_Ana_PreTrg->value()); }, "-130559"},
            {"Birch", "", "", [](const W& w) { w->ana.PreTrg = 200000, w->UpdPnl(1); return QString::number(ui(w)->Trace_Ana_PreTrg->value()); }, "130559"},
            {"Birch", "", "", [](const W& w) { ui(w)->Trace_Ana_PreTrg->setValue(-999999), edit(ui(w)->Trace_Ana_PreTrg); return QString::number(w->ana.PreTrg); }, "-130559"},
            {"Alder", "Analyzer/Pre Trigger Samples=5", "", [](const W& w) { return QString::number(w->ana.PreTrg); }, "0"},
            {"Alder", "Analyzer/Sample Rate=32e6", "", [](const W& w) { ui(w)->Trace_Ana_RLen->setValue(20), edit(ui(w)->Trace_Ana_RLen); return QString("%1 %2").arg(ui(w)->Trace_Ana_Cnt->value()).arg(w->ana.RecLen); }, "524200 16.3813"},
            {"Ginkgo", "", "OPT-C,OPT-D", [this](const W& w) { ui(w)->Trace_Ana_IQInp->setCurrentIndex(2); return QString("%1 %2 %3").arg(w->ana.IQInp).arg(ui(w)->Trace_Ana_IQInp->currentIndex()).arg(ask.dialogs.join(',')); }, "0 0 "},
            {"Ginkgo", "", "OPT-A", [this](const W& w) { ui(w)->Trace_Ana_IQInp->setCurrentIndex(2); return QString("%1 %2").arg(w->ana.IQInp).arg(ask.dialogs.join(',')); }, "2 Digital IQ Parameters"},
            {"Ginkgo", "", "OPT-C", [this](const W& w) { ui(w)->Trace_Ana_IQInp->setCurrentIndex(1); return QString("%1 %2").arg(w->ana.IQInp).arg(ask.dialogs.join(',')); }, "1 Analog IQ Parameters"},
            {"Pine", "", "OPT-A", [this](const W& w) { ui(w)->Trace_Ana_IQInp->setCurrentIndex(1); return QString("%1 %2").arg(w->ana.IQInp).arg(ask.dialogs.join(',')); }, "2 Digital IQ Parameters"},
            {"Ginkgo", "AnaIQ/IQ Range=2.0", "", [](const W& w) { w->on_Trace_Ana_Imp_clicked(true); return QString::number(w->ana.AnaRange); }, "1.78"},
            // Until an Init has asked for the options, the settings that need them stand.
            {"Ginkgo", "Analyzer/IQ Input=2;Analyzer/Sample Rate=2e8", "", [](const W& w) { return QString("%1 %2").arg(w->ana.IQInp).arg(w->ana.SRate); }, "2 2e+08"},
            {"Pine", "Analyzer/IQ Input=2", "OPT-B", [](const W& w) { return QString::number(w->ana.IQInp); }, "0"},
            {"Birch", "", "", [this](const W& w) {
                 loadFile(w, 10);
                 ui(w)->LodTrcIqr->setCurrentIndex(1);
                 const QString there = shown(w);
                 ui(w)->LodTrcIqr->setCurrentIndex(0);
                 return there + " " + shown(w) + QString(" %1 %2").arg(w->loadRec.N).arg(ui(w)->Load_Cpy->isEnabled()); }, "0000 1111 10 1"},
            {"Zelkova", "", "", [this](const W& w) { loadFile(w, 10), ui(w)->LodTrcIqr->setCurrentIndex(1); return shown(w) + QString(" %1").arg(w->loadRec.N); }, "1111 10"},
        };
        for (const auto& r : rows) {
            Sim sim(r.type, *r.opt ? QStringList{"--opt", r.opt} : QStringList(), work.filePath("edge"));
            W w = start(r.type, sim.rsrc, r.config);
            if (*r.opt)
                ui(w)->Trace_Init->click();
            ask.dialogs.clear();
            QCOMPARE(r.act(w), r.want);
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

    void analogDialog()
    {
        const struct {
            bool highImp;
            double stored;
            int choose;
            double range;
            int pos;
        } rows[] = {{false, 1.0, -1, 1.0, 6}, {false, 0.3, 9, 5.62, 9}, {true, 1.0, 8, 1.78, 7}, {true, 1.0, 2, 0.1, 2}, {false, 0, -1, 0, 0}, {false, 1.7, 3, 0.178, 3}};
        for (const auto& r : rows) {
            AnaStr a;
            a.HighImp = r.highImp, a.AnaRange = r.stored;
            Aiq d(&a);
            auto* rng = d.findChild<QComboBox*>("IQRng");
            QCOMPARE(rng->currentIndex(), Aiq::PositionOf(r.stored));
            if (r.choose >= 0)
                rng->setCurrentIndex(r.choose);
            d.findChild<QDoubleSpinBox*>("IQOfs")->setValue(3.5);
            d.reject();
            QCOMPARE(a.AnaRange, r.range);
            QCOMPARE(rng->currentIndex(), r.pos);
            QCOMPARE(a.AnaOfs, 3.5);
        }
        AnaStr a;
        Diq d(&a);
        d.findChild<QDoubleSpinBox*>("IQRng")->setValue(0);
        d.findChild<QDoubleSpinBox*>("InpSRat")->setValue(20);
        QCOMPARE(QString("%1 %2").arg(a.DigRange).arg(a.DigSRate), QString("0.01 20"));
    }

    // Fields set through the widgets come back after a restart.
    void restart()
    {
        {
            W w = start("Birch", "TCPIP::127.0.0.1::INSTR");
            ui(w)->Trace_DevTyp->setCurrentIndex(typeOf("Ginkgo"));
            ui(w)->Trace_Ana_SRat->setValue(5e7), edit(ui(w)->Trace_Ana_SRat);
            ui(w)->Trace_Ana_Cnt->setValue(12345), edit(ui(w)->Trace_Ana_Cnt);
            ui(w)->Trace_Ana_PreTrg->setValue(-100), edit(ui(w)->Trace_Ana_PreTrg);
            ui(w)->Trace_Ana_TrgMod->setCurrentIndex(2);
            ui(w)->Trace_Ana_RbwTxt->setCurrentIndex(9);
            QTest::keyClicks(ui(w)->Trace_VisaRS, "x");
        }
        W w = start({});
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
