// The main window: owns the I/Q records, the acquisition settings and the
// widgets, and runs every action synchronously on the GUI thread.
#pragma once

#include "formats/iqdata.h"
#include "instrument/anastr.h"
#include "remote/hvremoteexception.h"
#include "remote/symbolserver.h"
#include "progressdialog.h"

#include <QList>
#include <QMainWindow>

class Ui_MainWindow;
class QLabel;
class QPushButton;
struct TypStr;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Loads the VISA library at start-up; a test may start the window on a
    // library of its choice.
    static bool (*visaLoader)();

signals:
    void remoteError(HvRemoteException* e);

protected:
    void closeEvent(QCloseEvent* e) override;

private slots:
    // Menus.
    void on_actionAbout_triggered();
    void on_actionContents_triggered();
    void on_actionLoad_triggered();
    void on_actionSave_triggered();

    // Load tab and Save group.
    void on_Load_Typ_currentIndexChanged(int index);
    void on_Load_I_clicked();
    void on_Load_Q_clicked();
    void on_Load_Lod_clicked();
    void on_Load_Cpy_clicked();
    void on_Save_Typ_currentIndexChanged(int index);
    void on_Save_I_clicked();
    void on_Save_Q_clicked();
    void on_Save_Sav_clicked();
    void on_Save_App_clicked();

    void on_LodTrcIqr_currentChanged(int index);

    // Trace tab (tracetab.cpp): instrument, trace and the parameter fields.
    void on_Trace_Init_clicked();
    void on_Trace_Trc_clicked();
    void on_Trace_Rst_clicked(bool checked);
    void on_Trace_Raw_clicked(bool checked);
    void on_Trace_VisaRS_textEdited(const QString& text);
    void on_Trace_VisaRS_editingFinished();
    void on_Trace_DevTyp_currentIndexChanged(int index);
    void on_Trace_Ana_SRat_editingFinished();
    void on_Trace_Ana_SRatTxt_currentIndexChanged(int index);
    void on_Trace_Ana_Rbw_editingFinished();
    void on_Trace_Ana_RbwTxt_currentIndexChanged(int index);
    void on_Trace_Ana_TrgMod_currentIndexChanged(int index);
    void on_Trace_Ana_TrgSlp_currentIndexChanged(int index);
    void on_Trace_Ana_TrgOfs_editingFinished();
    void on_Trace_Ana_PreTrg_editingFinished();
    void on_Trace_Ana_RLen_editingFinished();
    void on_Trace_Ana_Cnt_editingFinished();
    void on_Trace_Ana_Avg_editingFinished();
    void on_Trace_Ana_IQInp_currentIndexChanged(int index);
    void on_Trace_Ana_Bal_clicked(bool checked);
    void on_Trace_Ana_Imp_clicked(bool checked);
    void on_Trace_Ana_Dith_clicked(bool checked);
    void on_Trace_Ana_Lp_clicked(bool checked);
    void on_Trace_Ana_DatTyp_textChanged(const QString& text);
    void on_Trace_Osc_Ch_editingFinished();
    void on_Trace_Osc_SRat_editingFinished();
    void on_Trace_Osc_Bw_editingFinished();
    void on_Trace_Osc_RelBw_editingFinished();
    void on_Trace_Osc_CFrq_editingFinished();
    void on_Trace_Osc_InpTyp_currentIndexChanged(int index);
    void on_Trace_Osc_InpMod_currentIndexChanged(int index);
    void on_Trace_Osc_SbIf_currentIndexChanged(int index);
    void on_Trace_Osc_SbRf_currentIndexChanged(int index);
    void on_Trace_Osc_RLen_editingFinished();

    // Graph buttons: spectrum, I vs. Q, group delay (phase over frequency).
    void on_Spec_clicked();
    void on_IvsQ_clicked();
    void on_GDel_clicked();

    // Symbol server (remote/mainwindow_remote.cpp).
    void new_connection();
    void read_connection();
    void disconnected();
    void sendToWavesmith(SERVER_MESSAGE_HEADER_TYPE type, float value);
    void sendServerID();
    void sendNewState();
    void sendSymbolrate();
    void sendSequenceLength();
    void sendSymbols();
    void on_ConnectTo_currentIndexChanged(int index);
    void on_Port_editingFinished();
    void remoteErrorCalled(HvRemoteException* e);

private:
    // Runs the graph dialog modally on the load record in the given mode.
    void ShowGraph(int mode);

    // Refresh the enabled state after a change on the load side, the save
    // side or a conversion.
    void LoadPostAction();
    void SavePostAction();
    void CopyPostAction();
    // Enables Save IQ as given, and Append with it where the destination
    // allows one.
    void OfferSave(bool on);
    bool CopyOffered() const;
    // What the last action came to, on the status line until the next one.
    void ShowOutcome(const QString& text, const QStringList& notices = {});
    // Asks before a save replaces existing files; true to go on.
    bool MayReplace();
    // The symbol server's port trouble and a port change waiting for the
    // next start, beside the status line.
    void ShowServerNote();

    void BlkSignals(bool block);
    void FillComboBoxes();
    void UpdPnl(int tab);

    // The Trace tab's lists and its per-type field rules.
    void FillTraceLists();
    void UpdTracePnl();
    void UpdOscPnl();
    void UpdAnaPnl();
    // Brings the settings within the instrument's limits, exactly as a trace
    // does, and shows them.
    void ApplyLimits();
    void ShowAnaValues();
    // The instrument's input options have been asked by an Init.
    bool OptsKnown() const;
    // Closes the instrument session: a new Init is needed before tracing.
    void DropSession();
    void SaveOff();
    // The load record's count, which follows the Trace tab's request only
    // while the record holds no samples.
    void SetRecCount(uint64_t n);
    // A setting changed: limits, fields and new state.
    void AnaChanged();
    // The settings a save or a graph of trace data takes its count from.
    AnaStr TraceSettings() const;

    // Starts the symbol server on the configured port; stops it before the
    // records go.
    void StartServer();
    void StopServer();

    // The VISA library: load it, open and close the default resource
    // manager. False means the program cannot run.
    bool VisaInit();
    bool VisaOpenRm();
    void VisaCloseRm();
    [[noreturn]] void Fatal(const QString& title, const QString& text);

    bool LoadPairComplete() const;
    bool SavePairComplete() const;
    bool DstPairComplete() const;
    int LoadTyp() const;
    int SaveTyp() const;
    void RecomputeTraceCount();
    void ShowDataValid();
    void ShowCount(uint64_t n);
    void ReportLoadError(int32_t status, const QString& fileI);
    void ReportSaveError(int32_t status, bool append);
    void SaveOrAppend(bool append);
    static void LabelFileButtons(QPushButton* i, QPushButton* q, const TypStr& t);

    // Marks a stretch of synchronous work: the window refuses to close and
    // no action starts until it is over.
    struct Busy {
        explicit Busy(MainWindow* w) : w_(w) { w_->busy = true; }
        ~Busy();
        MainWindow* w_;
    };

    Ui_MainWindow* ui;
    bool dstIChosen = false;     // the destination record holds a save I name
    bool dstQChosen = false;     // ... and a save Q name
    bool newState = false;       // data or settings changed since the client last looked
    bool saveResult = false;     // out-parameter of the save dispatcher
    bool dataValid = false;      // the load record holds a trace or a loaded file
    bool loadIChosen = false, loadQChosen = false;
    bool saveIChosen = false, saveQChosen = false;
    bool appendMode = false;
    // The samples of a loaded file are valid but hidden while an analyzer's
    // Trace tab is shown; they are valid again back on the Load tab unless a
    // trace replaced them.
    bool heldValid = false;
    // The option flags that an Init has asked in this run.
    QList<const bool*> askedOpts;
    QString sessionRsrc;          // the resource string of the open session
    int winX = 0, winY = 0;
    int tcpPort = 0;
    int connectTo = 0;
    QString settingsFolder;      // without trailing slash
    int64_t guardSamples = 0;
    IQDatStr loadRec;            // the I/Q data in memory and the load settings
    IQDatStr saveRec;            // the save settings
    IQDatStr dstRec;             // working record of the save dispatcher
    AnaStr ana;
    SymbolServer* server = nullptr;   // with its one client socket
    int servedPort = 0;               // the port the server was started on
    QString listenError;              // why it is not listening, if it tried
    QLabel* serverNote = nullptr;

    DialogProgress progress;
    bool busy = false;

    friend class WindowTest;
    friend class TraceTabTest;
    friend class WindowRemoteTest;
};
