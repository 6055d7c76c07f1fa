// The Trace tab driven through its widgets, offscreen, against the
// instrument simulator over loopback: Init and its messages and limits, the
// per-type field rules, traces that succeed, fail or are cancelled, the
// sessions the tab drops, the I/Q dialogs and the settings across a restart.
#include "app/aiq.h"
#include "app/mainwindow.h"
#include "formats/catalogue.h"
#include "instrument/devtable.h"
#include "instrument/hvvisa.h"
#include "remote/windowremote.h"
#include "guitest.h"
#include "ui_mainwindow.h"
#include "windowtest.h"

#include <QDialog>
#include <QFileInfo>
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
    using W = std::unique_ptr<MainWindow>;

    // A window on the Trace tab for the type, with "Group/Key=value;..." in its configuration.
    W start(const QString& type, const QString& rsrc, const QString& config = {})
    {
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
            QCOMPARE(ui(w)->Trace_Ana_SRat->value(), r.srateShown);
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
};

ORVEX_GUI_TEST_MAIN(TraceTabTest)
#include "tst_tracetab.moc"
