// The Trace tab of the main window: the instrument lists and field rules of
// the chosen type, the parameter fields, Init and Trace IQ. The limits come
// from the instrument library's DevApply, which orvex-cli trace applies too,
// so the window traces with exactly the settings the command line would.
#include "mainwindow.h"
#include "aiq.h"
#include "diq.h"
#include "prompts.h"
#include "ui_mainwindow.h"

#include "instrument/acquire.h"
#include "instrument/anaini.h"
#include "instrument/devlimits.h"
#include "instrument/devtable.h"
#include "instrument/hvvisa.h"

#include <QApplication>
#include <QSignalBlocker>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

constexpr int kTraceTab = 1;
const QString kIniError = QStringLiteral(
    "Initialization error. Check your connections and make sure\nyou have the correct GPIB or LAN address.");
const QString kVisaError = QStringLiteral("A VISA error has occured.");

// Ranges the generated form leaves at the toolkit's defaults; the longest
// record (Alder's at its lowest rate) lasts about 13 s.
constexpr double kRecLenMaxMs = 99999.999;
constexpr double kTrgOfsMaxMs = 99999.999;
constexpr int kAvgMax = 999999;

const DevStr& Row(const AnaStr& a) { return ag[DevTypValid(a.DevTyp) ? a.DevTyp : 0]; }

template <size_t N, typename V>
void FillList(QComboBox* box, int32_t count, const std::array<QString, N>& txt, const std::array<V, N>& data)
{
    box->clear();
    for (int32_t k = 0; k < count; ++k)
        box->addItem(txt[size_t(k)], QVariant::fromValue(data[size_t(k)]));
}

int SpinValue(uint64_t n) { return int(std::min<uint64_t>(n, INT_MAX)); }

void Show(std::initializer_list<QWidget*> ws, bool visible, bool enabled)
{
    for (QWidget* w : ws) {
        w->setVisible(visible);
        w->setEnabled(enabled);
    }
}

} // namespace

// ---------------------------------------------------------------- session

void MainWindow::DropSession()
{
    // Dropped without closing, every session would keep its LAN connection
    // open until the program ends.
    if (ana.Vi != 0)
        hvClose(ana.Vi);
    ana.Vi = 0;
    sessionRsrc.clear();
    ui->Trace_Trc->setEnabled(false);
}

void MainWindow::SaveOff()
{
    ui->Save_Sav->setEnabled(false);
    ui->Save_App->setEnabled(false);
}

void MainWindow::SetRecCount(uint64_t n)
{
    // Samples in the record fix its count: the record's size and count must
    // agree for every reader (graph, save, the symbol server).
    if (!loadRec.I)
        loadRec.N = n;
}

bool MainWindow::OptsKnown() const
{
    const std::vector<OptTest>& opts = Row(ana).Tr.Opts;
    return std::all_of(opts.begin(), opts.end(), [this](const OptTest& o) { return askedOpts.contains(o.Flag); });
}

AnaStr MainWindow::TraceSettings() const
{
    // The settings' count is the analyzers'; an oscilloscope's trace is as
    // long as its own record, and taking the other count would cut it.
    AnaStr a = ana;
    if (Row(ana).Tr.Family == DevFamily::Scope)
        a.Count = loadRec.N;
    return a;
}

// ---------------------------------------------------------------- panel

void MainWindow::ApplyLimits()
{
    // Until an Init has asked the instrument for its options, the settings
    // that depend on them stand as stored; an instrument without an option
    // is known only after its Init.
    IQDatStr req;
    DevApply(&ana, &req, OptsKnown());
    if (loadRec.SrcTab == kTraceTab)
        SetRecCount(req.N);
}

void MainWindow::FillTraceLists()
{
    if (ui->Trace_DevTyp->count() != AG_COUNT) {
        const QSignalBlocker b(ui->Trace_DevTyp);
        ui->Trace_DevTyp->clear();
        for (const DevStr& r : ag)
            ui->Trace_DevTyp->addItem(r.Name);
        ui->Trace_Ana_RLen->setRange(0, kRecLenMaxMs);
        ui->Trace_Ana_TrgOfs->setRange(-kTrgOfsMaxMs, kTrgOfsMaxMs);
        ui->Trace_Ana_Avg->setRange(0, kAvgMax);
        ui->Trace_Osc_Ch->setRange(0, osclim::ChMax);
        // The filter type is kept for the instrument but offers no choice.
        ui->Trace_Ana_FltTyp->clear();
        ui->Trace_Ana_FltTyp->addItem(ana.FltTyp);
    }
    {
        const QSignalBlocker b(ui->Trace_DevTyp);
        ui->Trace_DevTyp->setCurrentIndex(ana.DevTyp);
    }
    const DevStr& row = Row(ana);
    ApplyLimits();
    if (row.Tr.Family == DevFamily::Scope)
        return;
    const QSignalBlocker b1(ui->Trace_Ana_RbwTxt), b2(ui->Trace_Ana_SRatTxt), b3(ui->Trace_Ana_TrgMod),
        b4(ui->Trace_Ana_TrgSlp), b5(ui->Trace_Ana_IQInp);
    FillList(ui->Trace_Ana_RbwTxt, row.RbwCnt, row.RbwTxt, row.RbwVal);
    if (!row.RbwCnt)
        ui->Trace_Ana_Rbw->setRange(row.RbwMin, row.RbwMax);
    FillList(ui->Trace_Ana_SRatTxt, row.SRateCnt, row.SRateTxt, row.SRateVal);
    FillList(ui->Trace_Ana_TrgMod, row.TrgCnt, row.TrgTxt, row.TrgScpi);
    FillList(ui->Trace_Ana_TrgSlp, row.SlpCnt, row.SlpTxt, row.SlpScpi);
    FillList(ui->Trace_Ana_IQInp, row.InpCnt, row.InpTxt, row.InpVal);
    // The table's limits lie within 32 bits; the field holds the pre-trigger
    // itself within them.
    ui->Trace_Ana_PreTrg->setRange(int(row.PreTrgMin), int(row.PreTrgMax));
    ShowAnaValues();
}

void MainWindow::ShowAnaValues()
{
    const QSignalBlocker b1(ui->Trace_Ana_RbwTxt), b2(ui->Trace_Ana_SRatTxt), b3(ui->Trace_Ana_TrgMod),
        b4(ui->Trace_Ana_TrgSlp), b5(ui->Trace_Ana_IQInp), b6(ui->Trace_Ana_DatTyp);
    // The numeric fields hold what the type takes, which also keeps them as
    // narrow as the type's largest value.
    const DevStr& row = Row(ana);
    ui->Trace_Ana_SRat->setRange(row.SRateMin, std::max(row.SRateMin, row.SRateMax));
    ui->Trace_Ana_Cnt->setRange(0, SpinValue(row.MaxCnt));
    ui->Trace_Ana_RbwTxt->setCurrentIndex(ana.RbwIdx);
    ui->Trace_Ana_Rbw->setValue(ana.Rbw);
    ui->Trace_Ana_SRatTxt->setCurrentIndex(ana.SRateIdx);
    ui->Trace_Ana_SRat->setValue(ana.SRate);
    ui->Trace_Ana_TrgMod->setCurrentIndex(ana.TrgModIdx);
    ui->Trace_Ana_TrgSlp->setCurrentIndex(ana.TrgSlpIdx);
    ui->Trace_Ana_PreTrg->setValue(ana.PreTrg);
    // The list follows an input that fell back to RF.
    ui->Trace_Ana_IQInp->setCurrentIndex(std::max(0, ui->Trace_Ana_IQInp->findData(ana.IQInp)));
    ui->Trace_Ana_Cnt->setValue(SpinValue(ana.Count));
    ui->Trace_Ana_RLen->setValue(ana.RecLen);
    ui->Trace_Ana_TrgOfs->setValue(ana.TrgOfs);
    ui->Trace_Ana_Avg->setValue(ana.Avg);
    ui->Trace_Ana_DatTyp->setText(ana.DatTyp);
    ui->Trace_Ana_Bal->setChecked(ana.Bal);
    ui->Trace_Ana_Imp->setChecked(ana.HighImp);
    ui->Trace_Ana_Dith->setChecked(ana.Dith);
    ui->Trace_Ana_Lp->setChecked(ana.LowPass);
}

void MainWindow::UpdAnaPnl()
{
    const DevStr& row = Row(ana);
    const bool recLen = row.does(kCountByRecLen);
    const bool noInp = row.does(kPanelNoInput);
    const bool fixedTrg = row.does(kPanelFixedTrg);
    const bool aiqFlags = ana.IQInp == kInpAiq && row.does(kAcqAiqCmds) && (!row.Tr.AiqOpt || *row.Tr.AiqOpt);
    auto* u = ui;
    // A free bandwidth is the instrument's own (read at Init or fixed), so
    // its field only shows it.
    Show({u->Trace_Ana_Rbw}, row.RbwCnt == 0, false);
    Show({u->Trace_Ana_RbwTxt}, row.RbwCnt > 0, !noInp);
    Show({u->Trace_Ana_Rbw_Lbl, u->Trace_Ana_TrgSlp, u->Trace_Ana_TrgSlp_Lbl}, true, !noInp);
    Show({u->Trace_Ana_FltTyp_Lbl}, !recLen, !noInp);
    Show({u->Trace_Ana_FltTyp}, !recLen, true);
    Show({u->Trace_Ana_SRat}, row.SRateCnt == 0, true);
    Show({u->Trace_Ana_SRatTxt}, row.SRateCnt > 0, true);
    Show({u->Trace_Ana_PreTrg, u->Trace_Ana_PreTrg_Lbl}, !recLen, !fixedTrg);
    Show({u->Trace_Ana_TrgMod, u->Trace_Ana_TrgMod_Lbl}, true, !fixedTrg);
    Show({u->Trace_Ana_RLen, u->Trace_Ana_RLen_Lbl, u->Trace_Ana_DatTyp, u->Trace_Ana_DatTyp_Lbl,
          u->Trace_Ana_TrgOfs, u->Trace_Ana_TrgOfs_Lbl},
         recLen, true);
    Show({u->Trace_Ana_Cnt, u->Trace_Ana_Cnt_Lbl}, true, !recLen);
    Show({u->Trace_Ana_IQInp, u->Trace_Ana_IQInp_Lbl}, !noInp, true);
    Show({u->Trace_Ana_Bal, u->Trace_Ana_Imp, u->Trace_Ana_Dith, u->Trace_Ana_Lp, u->Trace_Ana_Bal_Lbl,
          u->Trace_Ana_Imp_Lbl, u->Trace_Ana_Dith_Lbl, u->Trace_Ana_Lp_Lbl},
         !noInp, aiqFlags);
    Show({u->Trace_Ana_Avg, u->Trace_Ana_Avg_Lbl}, row.does(kPanelAvg), true);
}

void MainWindow::UpdOscPnl()
{
    const bool complex = ana.InpTyp == 1;
    const bool rfif = complex && ana.InpMod == 1;
    auto* u = ui;
    const QSignalBlocker b1(u->Trace_Osc_InpTyp), b2(u->Trace_Osc_InpMod), b3(u->Trace_Osc_SbIf),
        b4(u->Trace_Osc_SbRf);
    u->Trace_Osc_Ch->setValue(ana.OscCh);
    u->Trace_Osc_RelBw->setValue(ana.RelBw);
    u->Trace_Osc_InpTyp->setCurrentIndex(ana.InpTyp);
    u->Trace_Osc_InpMod->setCurrentIndex(ana.InpMod);
    u->Trace_Osc_Bw->setValue(ana.SRate * ana.RelBw);
    u->Trace_Osc_CFrq->setValue(int(ana.CFreq));
    Show({u->Trace_Osc_CFrq, u->Trace_Osc_CFrq_Lbl}, true, rfif);
    Show({u->Trace_Osc_SbRf, u->Trace_Osc_SbRf_Lbl}, !complex, true);
    Show({u->Trace_Osc_SbIf, u->Trace_Osc_SbIf_Lbl}, rfif, true);
    u->Trace_Osc_SbIf->setCurrentIndex(ana.SbIf);
    u->Trace_Osc_SbRf->setCurrentIndex(ana.SbRf);
    u->Trace_Osc_SRat->setValue(ana.SRate);
    if (loadRec.SrcTab == kTraceTab)
        SetRecCount(ana.OscRecLen);
    u->Trace_Osc_RLen->setValue(SpinValue(ana.OscRecLen));
}

void MainWindow::UpdTracePnl()
{
    ui->Trace_VisaRS->setText(ana.RsrcStr);
    {
        const QSignalBlocker b(ui->Trace_DevTyp);
        ui->Trace_DevTyp->setCurrentIndex(ana.DevTyp);
    }
    ui->Trace_Rst->setChecked(ana.Rst);
    ui->Trace_Raw->setChecked(ana.Raw);
    ApplyLimits();
    const bool osc = Row(ana).Tr.Family == DevFamily::Scope;
    ui->Osc->setVisible(osc);
    ui->Ana->setVisible(!osc);
    if (osc) {
        UpdOscPnl();
        return;
    }
    UpdAnaPnl();
    ShowAnaValues();
    // The samples of a file are no trace of this analyzer: hidden here, and
    // valid again back on the Load tab if no trace replaced them. The chosen
    // save file stays chosen.
    if (dataValid)
        heldValid = true;
    dataValid = false;
}

void MainWindow::AnaChanged()
{
    ApplyLimits();
    ShowAnaValues();
    UpdAnaPnl();
    newState = true;
}

// ---------------------------------------------------------------- instrument

void MainWindow::on_Trace_Init_clicked()
{
    if (busy)
        return;
    SaveOff();
    for (QWidget* w : {ui->Spec, ui->IvsQ, ui->GDel})
        w->setEnabled(false);
    DropSession();
    ui->Trace_DevMsg->clear();
    SetDetail(QString());
    ViStatus st;
    {
        Busy b(this);
        st = AnaIni(&ana);
    }
    const DevStr& row = Row(ana);
    if (st != VI_SUCCESS) {
        QApplication::beep();
        Ask().warning(this, QStringLiteral("Error"), kIniError, LastDetail());
        DropSession();
    } else {
        sessionRsrc = ana.RsrcStr;
        // The reply keeps its terminator, which a one-line field cannot show.
        ui->Trace_DevMsg->setText(ana.DevId.trimmed());
        for (const OptTest& o : row.Tr.Opts)
            if (!askedOpts.contains(o.Flag))
                askedOpts << o.Flag;
        // Closes the session itself when the instrument cannot trace.
        const QString refused = DevIniCheck(&ana);
        if (!refused.isEmpty()) {
            QApplication::beep();
            Ask().warning(this, row.Name + QStringLiteral(" Error"), refused);
            DropSession();
        }
    }
    ui->Trace_Trc->setEnabled(ana.Vi != 0);
    RecomputeTraceCount();
    newState = true;
    UpdPnl(loadRec.SrcTab);
}

void MainWindow::on_Trace_Trc_clicked()
{
    if (busy || ana.Vi == 0)
        return;
    SaveOff();
    newState = false;
    dataValid = false;
    heldValid = false;
    saveResult = false;
    ShowDataValid();
    // From here the record is the trace's: the old samples go before the
    // request sizes it, so a failed trace leaves no stale samples behind.
    FreeArr(&loadRec);
    DevApply(&ana, &loadRec);
    ShowAnaValues();
    SetDetail(QString());
    ui->Trace_Trc->setEnabled(false);
    int st;
    {
        Busy b(this);
        st = TracIQ(&ana, &loadRec);
        // The instrument is left in I/Q mode, possibly mid-transfer.
        if (st == ST_CANCEL)
            TracIQCancelled(&ana);
    }
    if (st < 0)
        FreeArr(&loadRec);
    dataValid = newState = st >= 0;
    {
        const QSignalBlocker b(ui->Trace_Osc_RLen);
        ui->Trace_Osc_RLen->setValue(std::max(1, SpinValue(loadRec.N)));
    }
    ShowDataValid();
    ui->Trace_Trc->setEnabled(ana.Vi != 0);
    if (st >= 0)
        OfferSave(SavePairComplete());
    else if (st != ST_CANCEL)
        Ask().warning(this, QStringLiteral("Error"), kVisaError, LastDetail());
    RecomputeTraceCount();
    ShowCount(loadRec.N);
}

void MainWindow::on_Trace_Rst_clicked(bool checked)
{
    SaveOff();
    DropSession();
    ana.Rst = checked;
    RecomputeTraceCount();
    newState = true;
}

void MainWindow::on_Trace_Raw_clicked(bool checked)
{
    SaveOff();
    DropSession();
    ana.Raw = checked;
    ui->Trace_DevMsg->clear();
    RecomputeTraceCount();
    newState = true;
}

void MainWindow::on_Trace_VisaRS_textEdited(const QString& text)
{
    ana.RsrcStr = text;
    // The open session belongs to the former address: tracing from it would
    // read another instrument than the one shown.
    if (ana.Vi != 0 && text != sessionRsrc) {
        SaveOff();
        DropSession();
    }
}

void MainWindow::on_Trace_VisaRS_editingFinished()
{
    const QString text = ui->Trace_VisaRS->text();
    if (text == ana.RsrcStr && (ana.Vi == 0 || text == sessionRsrc))
        return;
    on_Trace_VisaRS_textEdited(text);
    if (loadRec.SrcTab == kTraceTab)
        AnaChanged();
}

void MainWindow::on_Trace_DevTyp_currentIndexChanged(int index)
{
    if (!DevTypValid(index))
        return;
    SaveOff();
    DropSession();
    ana.DevTyp = index;
    ui->Trace_DevMsg->clear();
    FillComboBoxes();
    UpdPnl(loadRec.SrcTab);
    ui->Trace_Trc->setEnabled(ana.Vi != 0);
    RecomputeTraceCount();
    newState = true;
}

// ---------------------------------------------------------------- analyzer fields

void MainWindow::on_Trace_Ana_SRat_editingFinished()
{
    const DevStr& row = Row(ana);
    ana.SRate = std::clamp(ui->Trace_Ana_SRat->value(), row.SRateMin, std::max(row.SRateMin, row.SRateMax));
    AnaChanged();
}

void MainWindow::on_Trace_Ana_SRatTxt_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    ana.SRateIdx = index;
    ana.SRate = ui->Trace_Ana_SRatTxt->itemData(index).toDouble();
    AnaChanged();
}

void MainWindow::on_Trace_Ana_Rbw_editingFinished()
{
    ana.Rbw = ui->Trace_Ana_Rbw->value();
    AnaChanged();
}

void MainWindow::on_Trace_Ana_RbwTxt_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    ana.RbwIdx = index;
    ana.Rbw = ui->Trace_Ana_RbwTxt->itemData(index).toDouble();
    AnaChanged();
}

void MainWindow::on_Trace_Ana_TrgMod_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    ana.TrgModIdx = index;
    ana.TrgMod = ui->Trace_Ana_TrgMod->itemData(index).toString();
    AnaChanged();
}

void MainWindow::on_Trace_Ana_TrgSlp_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    ana.TrgSlpIdx = index;
    ana.TrgSlp = ui->Trace_Ana_TrgSlp->itemData(index).toString();
    AnaChanged();
}

void MainWindow::on_Trace_Ana_TrgOfs_editingFinished()
{
    ana.TrgOfs = ui->Trace_Ana_TrgOfs->value();
    newState = true;
}

void MainWindow::on_Trace_Ana_PreTrg_editingFinished()
{
    const DevStr& row = Row(ana);
    ana.PreTrg = int32_t(std::clamp<int64_t>(ui->Trace_Ana_PreTrg->value(), row.PreTrgMin, row.PreTrgMax));
    AnaChanged();
}

void MainWindow::on_Trace_Ana_RLen_editingFinished()
{
    SaveOff();
    dataValid = false;
    ShowDataValid();
    ana.RecLen = ui->Trace_Ana_RLen->value();
    // The count follows in ApplyLimits, within the type's largest record.
    AnaChanged();
}

void MainWindow::on_Trace_Ana_Cnt_editingFinished()
{
    ana.Count = uint64_t(std::max(0, ui->Trace_Ana_Cnt->value()));
    AnaChanged();
}

void MainWindow::on_Trace_Ana_Avg_editingFinished()
{
    ana.Avg = ui->Trace_Ana_Avg->value();
    newState = true;
}

void MainWindow::on_Trace_Ana_IQInp_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    const int32_t code = ui->Trace_Ana_IQInp->itemData(index).toInt();
    // An input whose option the instrument reported missing falls back to RF.
    ana.IQInp = DevInput(Row(ana), code, OptsKnown());
    if (ana.IQInp == kInpDiq) {
        Diq d(&ana, this);
        Ask().exec(&d);
    } else if (ana.IQInp == kInpAiq) {
        Aiq d(&ana, this);
        Ask().exec(&d);
    }
    AnaChanged();
}

void MainWindow::on_Trace_Ana_Bal_clicked(bool checked)
{
    ana.Bal = checked;
    newState = true;
}

void MainWindow::on_Trace_Ana_Imp_clicked(bool checked)
{
    // ApplyLimits holds the analog range at 1.78 V for a high impedance.
    ana.HighImp = checked;
    AnaChanged();
}

void MainWindow::on_Trace_Ana_Dith_clicked(bool checked)
{
    ana.Dith = checked;
    newState = true;
}

void MainWindow::on_Trace_Ana_Lp_clicked(bool checked)
{
    ana.LowPass = checked;
    newState = true;
}

void MainWindow::on_Trace_Ana_DatTyp_textChanged(const QString& text)
{
    ana.DatTyp = text;
    newState = true;
}

// ---------------------------------------------------------------- oscilloscope fields

void MainWindow::on_Trace_Osc_Ch_editingFinished()
{
    SaveOff();
    ana.OscCh = ui->Trace_Osc_Ch->value();
}

void MainWindow::on_Trace_Osc_SRat_editingFinished()
{
    SaveOff();
    ana.SRate = ui->Trace_Osc_SRat->value();
}

void MainWindow::on_Trace_Osc_Bw_editingFinished()
{
    SaveOff();
    ana.OscBw = ui->Trace_Osc_Bw->value();
}

void MainWindow::on_Trace_Osc_RelBw_editingFinished()
{
    SaveOff();
    ana.RelBw = ui->Trace_Osc_RelBw->value();
    DropSession();
    UpdPnl(loadRec.SrcTab);
}

void MainWindow::on_Trace_Osc_CFrq_editingFinished()
{
    SaveOff();
    ana.CFreq = ui->Trace_Osc_CFrq->value();
    UpdPnl(loadRec.SrcTab);
}

void MainWindow::on_Trace_Osc_InpTyp_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    SaveOff();
    ana.InpTyp = index;
    // The sideband and carrier fields that apply follow the input.
    UpdOscPnl();
}

void MainWindow::on_Trace_Osc_InpMod_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    SaveOff();
    ana.InpMod = index;
    UpdOscPnl();
}

void MainWindow::on_Trace_Osc_SbIf_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    SaveOff();
    ana.SbIf = index;
}

void MainWindow::on_Trace_Osc_SbRf_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    SaveOff();
    ana.SbRf = index;
}

void MainWindow::on_Trace_Osc_RLen_editingFinished()
{
    SaveOff();
    ana.OscRecLen = uint64_t(ui->Trace_Osc_RLen->value());
    SetRecCount(ana.OscRecLen);
}
