#include "mainwindow.h"
#include "copy.h"
#include "inifile.h"
#include "prompts.h"
#include "app/version.h"
#include "ui_mainwindow.h"

#include "formats/catalogue.h"
#include "graph/fftgraph.h"
#include "formats/save.h"
#include "instrument/devtable.h"
#include "instrument/hvvisa.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cstdlib>

// Resources live in the window library; a static library needs the explicit
// registration, and it must happen outside any namespace.
static void InitResources() { Q_INIT_RESOURCE(orvex); }

namespace {

const QString kIniName = QStringLiteral("/Orvex.ini");
// Saving from memory is offered up to this many samples; Copy IQ has no limit.
constexpr uint64_t kSaveLimit = 50000000;
constexpr int kStatusMs = 1000;
constexpr int kTraceTab = 1;

bool ProposesQ(const TypStr& t) { return TraitsOf(t.Code).proposesQ; }

// Append is not offered for the hexadecimal text types.
bool OffersAppend(const TypStr& t) { return !TraitsOf(t.Code).hex; }

QString FileFilter(const QString& kind, const QString& pattern)
{
    return kind + QStringLiteral(" File (") + pattern + QStringLiteral(");;All Files (*.*)");
}

// The Copy IQ conversion reads and writes block by block: only types with
// block functions in the catalogue take part.
bool StreamsFrom(const TypStr& t)
{
    const FmtFn* f = FmtOf(t.Code);
    return f && f->block.openR && f->block.read;
}

bool StreamsTo(const TypStr& t)
{
    const FmtFn* f = FmtOf(t.Code);
    return f && f->block.openW && f->block.writ;
}

QString Count(uint64_t n)
{
    return QLocale(QLocale::English).toString(qulonglong(n)) + (n == 1 ? QStringLiteral(" sample") : QStringLiteral(" samples"));
}

// "out.mat", or "out.i and out.q" for a pair: what the status line names.
QString Names(const QString& i, const QString& q)
{
    const QString ni = QFileInfo(i).fileName();
    return q.isEmpty() ? ni : ni + QStringLiteral(" and ") + QFileInfo(q).fileName();
}

QString StyleSheet()
{
    QFile f(QStringLiteral(":/orvex.qss"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

MainWindow::Busy::~Busy()
{
    w_->busy = false;
    // A cancel that came after the work's last poll must not stop the next one.
    EscFlg = 0;
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui_MainWindow), progress(this)
{
    InitResources();
    ui->setupUi(this);
    setStyleSheet(StyleSheet());
    // The count is the one of the samples in memory, the count Save writes:
    // shown, not edited.
    ui->Load_Cnt->setReadOnly(true);
    ui->Load_Cnt->setButtonSymbols(QAbstractSpinBox::NoButtons);
    serverNote = new QLabel(this);
    serverNote->setObjectName(QStringLiteral("ServerNote"));
    serverNote->hide();
    statusBar()->addPermanentWidget(serverNote);

    if (!VisaInit())
        Fatal(QStringLiteral("VISA driver!"), QStringLiteral("VISA driver not installed. Program quits."));

    settingsFolder = SettingsFolder(QStandardPaths::writableLocation(QStandardPaths::DataLocation));
    // All levels: on a fresh account the maker's folder does not exist yet,
    // and creating only the last one would leave the settings unsaved.
    QDir().mkpath(settingsFolder);
    LoadIniFile(settingsFolder + kIniName, &ana, &loadRec, &saveRec, &tcpPort, &connectTo, &winX, &winY);

    move(winX, winY);
    if (loadRec.SrcTab != 0 && loadRec.SrcTab != kTraceTab)
        loadRec.SrcTab = 0;
    ui->LodTrcIqr->setCurrentIndex(loadRec.SrcTab);
    FillComboBoxes();
    newState = false;
    UpdPnl(loadRec.SrcTab);

    StartServer();

    if (!VisaOpenRm())
        Fatal(QStringLiteral("VISA Error!"), QStringLiteral("Please install VISA Runtime driver. Program quits."));

    SetProgress(&progress);
}

MainWindow::~MainWindow()
{
    StopServer();
    SetProgress(nullptr);
    SaveIniFile(settingsFolder + kIniName, ana, loadRec, saveRec, tcpPort, connectTo, pos().x(), pos().y());
    VisaCloseRm();
    FreeArr(&loadRec);
    FreeArr(&saveRec);
    FreeArr(&dstRec);
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent* e)
{
    // Closing in the middle of a load would destroy the record being filled;
    // treat it as a cancel instead.
    if (busy) {
        EscFlg = 1;
        e->ignore();
        return;
    }
    QMainWindow::closeEvent(e);
}

bool (*MainWindow::visaLoader)() = hvVisaDll_Init;

bool MainWindow::VisaInit() { return visaLoader(); }

bool MainWindow::VisaOpenRm() { return hvOpenDefaultRM(&ana.Rm) >= VI_SUCCESS; }

void MainWindow::VisaCloseRm()
{
    // Closing the manager also ends every instrument session opened on it.
    if (ana.Rm != 0)
        hvClose(ana.Rm);
    ana.Rm = 0;
}

void MainWindow::Fatal(const QString& title, const QString& text)
{
    QMessageBox owner;
    Ask().warning(&owner, title, text);
    std::exit(1);
}

// ---------------------------------------------------------------- menus

void MainWindow::on_actionAbout_triggered()
{
    Ask().about(this, QStringLiteral("About ") + ver::DisplayName,
                ver::DisplayName + QStringLiteral("\n") + ver::ProgramName + QStringLiteral("\nVersion ")
                    + ver::Version + QStringLiteral("\nBuilt ") + ver::BuildDate);
}

void MainWindow::on_actionContents_triggered()
{
    // A manual in the working folder comes first, as it always has; then the
    // one built or installed with the program.
    const QString bin = QCoreApplication::applicationDirPath();
    QStringList folders{QDir::currentPath(), bin, QDir::cleanPath(bin + QStringLiteral("/" ORVEX_DOC_FROM_BIN))};
    folders.removeDuplicates();   // started from the program's own folder
    for (const QString& f : folders) {
        const QString pdf = f + QStringLiteral("/Orvex.pdf");
        if (QFileInfo(pdf).isFile()) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(pdf));
            return;
        }
    }
    Ask().warning(this, QStringLiteral("Warning"), QStringLiteral("The manual Orvex.pdf was not found."),
                  QStringLiteral("Looked in:\n") + folders.join(QLatin1Char('\n')));
}

void MainWindow::on_actionLoad_triggered()
{
    const QString file = Ask().openFile(this, QStringLiteral("Load Configuration"), settingsFolder,
                                        QStringLiteral("Configuration (*.ini);;All Files (*.*)"));
    if (file.isEmpty())
        return;
    LoadIniFile(file, &ana, &loadRec, &saveRec, &tcpPort, &connectTo, &winX, &winY);
    // The configuration releases the samples; nothing valid is left in memory,
    // and the instrument it names needs its own Init.
    dataValid = false;
    heldValid = false;
    FreeArr(&loadRec);
    loadRec.N = 0;
    DropSession();
    move(winX, winY);
    if (loadRec.SrcTab != 0 && loadRec.SrcTab != kTraceTab)
        loadRec.SrcTab = 0;
    ui->LodTrcIqr->setCurrentIndex(loadRec.SrcTab);
    FillComboBoxes();
    UpdPnl(loadRec.SrcTab);
    ShowServerNote();
    newState = true;
}

void MainWindow::on_actionSave_triggered()
{
    const QString file = Ask().saveFile(this, QStringLiteral("Save Configuration"), settingsFolder,
                                        QStringLiteral("Configuration (*.ini);;All Files (*.*)"), true);
    if (!file.isEmpty())
        SaveIniFile(file, ana, loadRec, saveRec, tcpPort, connectTo, pos().x(), pos().y());
}

// ---------------------------------------------------------------- panel

void MainWindow::BlkSignals(bool block)
{
    for (QObject* w : std::initializer_list<QObject*>{
             ui->Load_Typ, ui->Save_Typ, ui->Trace_Ana_Rbw, ui->Trace_Ana_RbwTxt, ui->Trace_Ana_SRat,
             ui->Trace_Ana_SRatTxt, ui->Trace_Ana_TrgMod, ui->Trace_Ana_TrgSlp, ui->Trace_Ana_IQInp})
        w->blockSignals(block);
}

void MainWindow::FillComboBoxes()
{
    BlkSignals(true);
    ui->Load_Typ->clear();
    for (int i = 0; i < TL_COUNT; ++i) {
        const TypStr& t = tl[i];
        ui->Load_Typ->addItem(t.Name + QStringLiteral(" (") + t.PatI
                                  + (t.Files == 2 ? QStringLiteral(",") + t.PatQ : QString()) + QStringLiteral(")"),
                              i);
    }
    // Shown from the start, so the list and the record agree whichever tab
    // is current; the Load tab's own refresh then changes nothing.
    if (loadRec.Typ < 0 || loadRec.Typ >= TL_COUNT)
        loadRec.Typ = 0;
    ui->Load_Typ->setCurrentIndex(loadRec.Typ);
    FillTraceLists();
    ui->Save_Typ->clear();
    for (int i = 0; i < TS_COUNT; ++i) {
        const TypStr& t = ts[i];
        ui->Save_Typ->addItem(t.Name + QStringLiteral(" (") + t.PatI
                                  + (t.Files == 2 ? QStringLiteral(", ") + t.PatQ : QString()) + QStringLiteral(")"),
                              i);
    }
    int idx = ui->Save_Typ->findData(saveRec.Typ);
    if (idx < 0) {
        // A stored type this version does not know: fall back to the first.
        idx = 0;
        saveRec.Typ = 0;
    }
    ui->Save_Typ->setCurrentIndex(idx);
    BlkSignals(false);
}

void MainWindow::UpdPnl(int tab)
{
    ui->Port->setValue(tcpPort);
    if (connectTo < 0 || connectTo >= ui->ConnectTo->count())
        connectTo = 1;
    ui->ConnectTo->setCurrentIndex(connectTo);

    if (tab == kTraceTab)
        UpdTracePnl();
    if (tab == 0) {
        if (loadRec.Typ < 0 || loadRec.Typ >= TL_COUNT)
            loadRec.Typ = 0;
        // Signals are live: a changed selection runs the load type handler.
        ui->Load_Typ->setCurrentIndex(loadRec.Typ);
        ui->Load_SRat->setValue(loadRec.Clock);
        ui->Load_Cnt->setEnabled(dataValid);
        LabelFileButtons(ui->Load_I, ui->Load_Q, tl[LoadTyp()]);
        ui->Load_Di->setText(loadRec.FileI);
        ui->Load_Dq->setText(loadRec.FileQ);
    }

    LabelFileButtons(ui->Save_I, ui->Save_Q, ts[SaveTyp()]);
    OfferSave(SavePairComplete() && dataValid && !saveResult);
    ShowDataValid();
    RecomputeTraceCount();
    ShowCount(loadRec.N);
    CopyPostAction();
}

void MainWindow::LabelFileButtons(QPushButton* i, QPushButton* q, const TypStr& t)
{
    const bool two = t.Files == 2;
    i->setText(two ? QStringLiteral("I") : QStringLiteral("IQ"));
    q->setText(two ? QStringLiteral("Q") : QString());
    q->setEnabled(two);
}

int MainWindow::LoadTyp() const
{
    return std::clamp<int>(loadRec.Typ, 0, TL_COUNT - 1);
}

int MainWindow::SaveTyp() const
{
    return std::clamp<int>(saveRec.Typ, 0, TS_COUNT - 1);
}

bool MainWindow::LoadPairComplete() const
{
    return loadIChosen && (tl[LoadTyp()].Files != 2 || loadQChosen);
}

bool MainWindow::SavePairComplete() const
{
    return saveIChosen && (ts[SaveTyp()].Files != 2 || saveQChosen);
}

bool MainWindow::DstPairComplete() const
{
    return dstIChosen && (ts[SaveTyp()].Files != 2 || dstQChosen);
}

void MainWindow::RecomputeTraceCount()
{
    if (loadRec.SrcTab != kTraceTab || !ag[ana.DevTyp].does(kCountByRecLen))
        return;
    const double n = ana.SRate * ana.RecLen * 0.001;
    // Truncated toward zero and kept to 32 bits, as the instrument counts.
    const uint64_t whole = n > 0 && n < 1.8e19 ? uint64_t(n) : 0;
    SetRecCount(uint32_t(whole));
}

void MainWindow::ShowDataValid()
{
    ui->DVal->setChecked(dataValid);
    ui->Spec->setEnabled(dataValid);
    ui->IvsQ->setEnabled(dataValid);
    ui->GDel->setEnabled(dataValid);
}

void MainWindow::ShowCount(uint64_t n)
{
    ui->Load_Cnt->setValue(int(std::min<uint64_t>(n, uint64_t(ui->Load_Cnt->maximum()))));
}

void MainWindow::OfferSave(bool on)
{
    // Append writes what Save IQ writes, after the destination's own data:
    // it is offered under the same rules, for a type that can be read back.
    ui->Save_Sav->setEnabled(on);
    ui->Save_App->setEnabled(on && DstPairComplete() && OffersAppend(ts[SaveTyp()]));
}

bool MainWindow::CopyOffered() const
{
    return LoadPairComplete() && SavePairComplete() && StreamsFrom(tl[LoadTyp()]) && StreamsTo(ts[SaveTyp()]);
}

void MainWindow::LoadPostAction()
{
    ui->Load_Cnt->setEnabled(dataValid);
    OfferSave(SavePairComplete() && dataValid && loadRec.N <= kSaveLimit);
    ui->Load_Cpy->setEnabled(CopyOffered());
    ShowCount(loadRec.N);
    loadRec.Clock = ui->Load_SRat->value();
    ShowDataValid();
    RecomputeTraceCount();
    newState = true;
}

void MainWindow::SavePostAction()
{
    OfferSave(SavePairComplete() && dataValid);
    ui->Load_Cpy->setEnabled(CopyOffered());
}

void MainWindow::CopyPostAction()
{
    ui->Load_Cpy->setEnabled(CopyOffered());
}

void MainWindow::ShowOutcome(const QString& text, const QStringList& notices)
{
    // What a load had to cut or fill is said with its outcome.
    statusBar()->showMessage((QStringList(text) + notices).join(QLatin1Char(' ')));
}

void MainWindow::ReportLoadError(int32_t status, const QString& fileI)
{
    if (status == ST_CANCEL) {
        ShowOutcome(QStringLiteral("Cancelled"));
        return;
    }
    ShowOutcome(LoadErrorText(status, fileI));
    Ask().warning(this, status == ST_REFUSED ? QStringLiteral("Warning") : QStringLiteral("Error"),
                  LoadErrorText(status, fileI), LastDetail());
}

void MainWindow::ReportSaveError(int32_t status, bool append)
{
    if (status == ST_CANCEL)
        ShowOutcome(QStringLiteral("Cancelled"));
    if (status == ST_OK || status == ST_CANCEL)
        return;
    ShowOutcome(SaveErrorText(status, append));
    Ask().warning(this, QStringLiteral("Error"), SaveErrorText(status, append), LastDetail());
}

// ---------------------------------------------------------------- load side

void MainWindow::on_Load_Typ_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    loadRec.Typ = index;
    LabelFileButtons(ui->Load_I, ui->Load_Q, tl[LoadTyp()]);
    loadRec.FileI.clear();
    loadRec.FileQ.clear();
    ui->Load_Di->clear();
    ui->Load_Dq->clear();
    dataValid = false;
    loadIChosen = false;
    loadQChosen = false;
    loadRec.N = 0;
    newState = true;
    LoadPostAction();
}

void MainWindow::on_Load_I_clicked()
{
    if (busy)
        return;
    loadIChosen = false;
    const TypStr& t = tl[LoadTyp()];
    loadRec.FileI = Ask().openFile(this, QStringLiteral("Load File"), loadRec.Folder,
                                   FileFilter(t.Files == 2 ? QStringLiteral("I") : QStringLiteral("IQ"), t.PatI));
    if (!loadRec.FileI.isEmpty()) {
        ui->Load_Di->setText(loadRec.FileI);
        loadIChosen = true;
        if (ProposesQ(t) && QFileInfo(loadRec.FileI).suffix() == QLatin1String("i")) {
            loadRec.FileQ = QNameFor(loadRec.FileI);
            ui->Load_Dq->setText(loadRec.FileQ);
        }
        dataValid = false;
        loadRec.N = 0;
        // A cancelled dialog keeps the folder the user was browsing.
        loadRec.Folder = QFileInfo(loadRec.FileI).absolutePath();
    }
    LoadPostAction();
}

void MainWindow::on_Load_Q_clicked()
{
    if (busy)
        return;
    loadQChosen = false;
    const TypStr& t = tl[LoadTyp()];
    loadRec.FileQ = Ask().openFile(this, QStringLiteral("Load File"), loadRec.Folder,
                                   FileFilter(QStringLiteral("Q"), t.PatQ));
    if (!loadRec.FileQ.isEmpty()) {
        ui->Load_Dq->setText(loadRec.FileQ);
        loadQChosen = true;
        dataValid = false;
        loadRec.N = 0;
        loadRec.Folder = QFileInfo(loadRec.FileQ).absolutePath();
    }
    LoadPostAction();
}

void MainWindow::on_Load_Lod_clicked()
{
    if (busy)
        return;
    // Nothing to open: say which choice is missing, and leave the samples
    // in memory as they are, since no load was tried.
    const TypStr& t = tl[LoadTyp()];
    const bool two = t.Files == 2;
    if (loadRec.FileI.isEmpty() || (two && loadRec.FileQ.isEmpty())) {
        const QString which = loadRec.FileI.isEmpty() ? (two ? QStringLiteral("I") : QStringLiteral("IQ")) : QStringLiteral("Q");
        const QString text = QStringLiteral("No %1 file chosen.").arg(which);
        ShowOutcome(text);
        Ask().warning(this, QStringLiteral("Error"), text,
                      QStringLiteral("Choose the file with the button \"%1\" first.").arg(which));
        return;
    }
    statusBar()->showMessage(loadRec.FileQ.isEmpty() ? QStringLiteral("Loading IQ file...")
                                                     : QStringLiteral("Loading I and Q files..."),
                             kStatusMs);
    loadRec.Clock = ui->Load_SRat->value();
    loadRec.RefLev = float(ui->Load_RLev->value());
    // The load releases the old samples first, whatever its outcome.
    dataValid = false;
    int32_t st;
    {
        Busy b(this);
        st = LoadDatFile(&loadRec);
    }
    if (st == ST_OK) {
        dataValid = true;
        newState = true;
        ShowCount(loadRec.N);
        ui->Load_SRat->setValue(loadRec.Clock);
        ShowOutcome(QStringLiteral("Loaded %1 from %2").arg(Count(loadRec.N), Names(loadRec.FileI, two ? loadRec.FileQ : QString())),
                    loadRec.Notices);
    } else {
        ReportLoadError(st, loadRec.FileI);
        newState = false;
    }
    ShowDataValid();
    LoadPostAction();
    // A failed load leaves nothing new for the client to fetch.
    if (st != ST_OK)
        newState = false;
}

void MainWindow::on_Load_Cpy_clicked()
{
    if (busy)
        return;
    statusBar()->showMessage((loadRec.FileQ.isEmpty() ? QStringLiteral("Converting IQ file...")
                                                      : QStringLiteral("Converting I and Q files..."))
                             + QStringLiteral(" ")
                             + (saveRec.FileQ.isEmpty() ? QStringLiteral("to IQ file...")
                                                        : QStringLiteral("to I and Q files...")));
    loadRec.Clock = ui->Load_SRat->value();
    loadRec.RefLev = float(ui->Load_RLev->value());

    // The conversion runs on a copy of the load settings: its block buffers
    // and the source's count must not replace the samples in memory.
    IQDatStr work = loadRec;
    work.I = work.Q = nullptr;
    work.N = 0;
    int32_t st;
    {
        Busy b(this);
        st = CopyIQ(&work, saveRec.FileI, ts[SaveTyp()].Code);
    }
    FreeArr(&work);
    statusBar()->clearMessage();
    // The count field keeps the count of the samples in memory, which a
    // conversion leaves alone; the copy's own count goes to the status line.
    // A failed copy touched nothing in memory either: the data stays valid.
    if (st == ST_OK) {
        ui->Load_SRat->setValue(work.Clock);
        loadRec.Clock = ui->Load_SRat->value();
        ShowOutcome(QStringLiteral("Copied %1 to %2").arg(Count(work.N), QFileInfo(saveRec.FileI).fileName()), work.Notices);
    } else if (LastFailureWrote()) {
        ReportSaveError(st, false);
    } else {
        ReportLoadError(st, loadRec.FileI);
    }
    CopyPostAction();
}

// ---------------------------------------------------------------- save side

void MainWindow::on_Save_Typ_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    saveRec.Typ = index;
    LabelFileButtons(ui->Save_I, ui->Save_Q, ts[SaveTyp()]);
    ui->Save_Di->clear();
    ui->Save_Dq->clear();
    saveIChosen = false;
    saveQChosen = false;
    // The shown destination is gone, so append must not write to it unseen.
    dstIChosen = false;
    dstQChosen = false;
    SavePostAction();
}

void MainWindow::on_Save_I_clicked()
{
    if (busy)
        return;
    saveIChosen = false;
    const TypStr& t = ts[SaveTyp()];
    saveRec.FileI = Ask().saveFile(this, QStringLiteral("Save File"), saveRec.Folder,
                                   FileFilter(t.Files == 2 ? QStringLiteral("I") : QStringLiteral("IQ"), t.PatI), false);
    if (saveRec.FileI.isEmpty()) {
        dstIChosen = false;
    } else {
        ui->Save_Di->setText(saveRec.FileI);
        saveIChosen = true;
        dstRec.FileI = saveRec.FileI;
        dstIChosen = true;
        if (ProposesQ(t)) {
            saveRec.FileQ = QNameFor(saveRec.FileI);
            saveQChosen = true;
            ui->Save_Dq->setText(saveRec.FileQ);
            dstRec.FileQ = saveRec.FileQ;
            dstQChosen = true;
        } else if (t.Files != 2) {
            saveRec.FileQ.clear();
            dstRec.FileQ.clear();
        }
        saveRec.Folder = QFileInfo(saveRec.FileI).absolutePath();
    }
    SavePostAction();
}

void MainWindow::on_Save_Q_clicked()
{
    if (busy)
        return;
    saveRec.FileQ.clear();
    saveQChosen = false;
    const TypStr& t = ts[SaveTyp()];
    const QString name = Ask().saveFile(this, QStringLiteral("Save File"), saveRec.Folder,
                                        FileFilter(QStringLiteral("Q"), t.PatQ), false);
    if (name.isEmpty()) {
        dstQChosen = false;
    } else {
        saveRec.FileQ = name;
        ui->Save_Dq->setText(name);
        dstRec.FileQ = name;
        saveQChosen = true;
        dstQChosen = true;
        saveRec.Folder = QFileInfo(name).absolutePath();
    }
    SavePostAction();
}

bool MainWindow::MayReplace()
{
    const bool two = ts[SaveTyp()].Files == 2;
    QStringList there;
    for (const QString& f : {dstRec.FileI, two ? dstRec.FileQ : QString()})
        if (!f.isEmpty() && QFileInfo::exists(f))
            there << QFileInfo(f).fileName();
    if (there.isEmpty())
        return true;
    const QString text = there.size() == 1
                             ? there[0] + QStringLiteral(" already exists.\nDo you want to replace it?")
                             : there.join(QStringLiteral(" and ")) + QStringLiteral(" already exist.\nDo you want to replace them?");
    return Ask().question(this, QStringLiteral("Save File"), text);
}

void MainWindow::SaveOrAppend(bool append)
{
    if (busy)
        return;
    // Append adds to the file it was given; only a plain save replaces one.
    if (!append && !MayReplace()) {
        ShowOutcome(QStringLiteral("Cancelled"));
        return;
    }
    statusBar()->showMessage(saveRec.FileQ.isEmpty() ? QStringLiteral("Saving IQ file...")
                                                     : QStringLiteral("Saving I and Q files..."),
                             kStatusMs);
    appendMode = append;
    guardSamples = ui->Save_Grd->value();
    int32_t st;
    {
        Busy b(this);
        st = SaveDatFile(&loadRec, &dstRec, &saveRec, TraceSettings(), appendMode, int32_t(guardSamples), &saveResult);
    }
    ReportSaveError(st, append);
    if (st == ST_OK) {
        const QString to = Names(dstRec.FileI, ts[SaveTyp()].Files == 2 ? dstRec.FileQ : QString());
        // The dispatcher has brought the count of trace data within what
        // the record holds; a guard longer than the new data is shortened.
        const uint64_t guard = uint64_t(std::clamp<int64_t>(guardSamples, 0, int64_t(loadRec.N)));
        if (!append)
            ShowOutcome(QStringLiteral("Saved %1 to %2").arg(Count(loadRec.N), to));
        else if (guard == 0)
            ShowOutcome(QStringLiteral("Appended %1 to %2").arg(Count(loadRec.N), to));
        else
            ShowOutcome(QStringLiteral("Appended %1 to %2 after %3 of guard").arg(Count(loadRec.N), to, Count(guard)));
    }
    SavePostAction();
}

void MainWindow::on_Save_Sav_clicked() { SaveOrAppend(false); }
void MainWindow::on_Save_App_clicked() { SaveOrAppend(true); }

// ---------------------------------------------------------------- tabs

void MainWindow::on_LodTrcIqr_currentChanged(int index)
{
    loadRec.SrcTab = index;
    if (index == kTraceTab) {
        SetRecCount(uint64_t(ui->Trace_Ana_Cnt->value()));
        UpdPnl(kTraceTab);
        return;
    }
    // Nothing replaced the samples the Trace tab hid: they are shown again,
    // with the save file that was chosen for them.
    if (heldValid && loadRec.I)
        dataValid = true;
    heldValid = false;
    UpdPnl(index);
}

// ---------------------------------------------------------------- graphs

void MainWindow::ShowGraph(int mode)
{
    if (busy)
        return;
    Busy b(this);
    loadRec.GrfMode = mode;
    // No parent, as a window of its own; the dialog copies what it draws.
    AnaStr settings = TraceSettings();
    FftGraph g(&loadRec, &settings, nullptr);
    g.exec();
}

void MainWindow::on_Spec_clicked() { ShowGraph(0); }
void MainWindow::on_IvsQ_clicked() { ShowGraph(1); }
void MainWindow::on_GDel_clicked() { ShowGraph(2); }
