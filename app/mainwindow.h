// The main window: owns the I/Q records, the acquisition settings and the
// widgets, and runs every action synchronously on the GUI thread.
#pragma once

#include "formats/iqdata.h"
#include "instrument/anastr.h"
#include "remote/hvremoteexception.h"
#include "remote/symbolserver.h"
#include "progressdialog.h"

#include <QMainWindow>

class Ui_MainWindow;
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

    void BlkSignals(bool block);
    void FillComboBoxes();
    void UpdPnl(int tab);

    // Seams of the Trace tab: the instrument lists and the per-type field
    // rules arrive with the instrument type table.
    void FillTraceLists();
    void UpdTracePnl();

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

    DialogProgress progress;
    bool busy = false;

    friend class WindowTest;
    friend class WindowRemoteTest;
};
