// The symbol server methods of the main window: glue between the window's
// widgets and records and the server the command line shares.
#include "app/mainwindow.h"
#include "app/prompts.h"
#include "remote/symbolserver.h"
#include "remote/windowremote.h"
#include "ui_mainwindow.h"

#include <QLabel>

namespace {
bool listensOnStart = true;
}

void SetWindowServerListens(bool on)
{
    listensOnStart = on;
}

void MainWindow::StartServer()
{
    server = new SymbolServer(this);
    // Asked at every reply, so the client always sees the window's current
    // state; the samples are shared with the load record, not copied.
    server->setStateSource([this] {
        return ServeState{newState, dataValid, loadRec.N, loadRec.Clock, connectTo};
    });
    server->setSymbolSource([this] { return SymbolData::share(loadRec); });
    connect(server, &SymbolServer::clientConnected, this, &MainWindow::new_connection);
    connect(server, &SymbolServer::requestReceived, this, &MainWindow::read_connection);
    connect(server, &SymbolServer::clientDisconnected, this, &MainWindow::disconnected);
    connect(this, &MainWindow::remoteError, this, &MainWindow::remoteErrorCalled);
    // A port outside 1..65535 would end up as some other port (or one the
    // system picks) that no client looks for: serve no one instead, as when
    // the port is taken. Either way the window says so.
    servedPort = tcpPort;
    listenError.clear();
    if (listensOnStart) {
        if (tcpPort <= 0 || tcpPort > 65535)
            listenError = QStringLiteral("no such port");
        else if (!server->listen(quint16(tcpPort)))
            listenError = server->errorString();
    }
    ShowServerNote();
}

void MainWindow::ShowServerNote()
{
    QStringList note;
    if (!listenError.isEmpty())
        note << QStringLiteral("The symbol server cannot listen on port %1 (%2).").arg(servedPort).arg(listenError);
    if (tcpPort != servedPort)
        note << QStringLiteral("Port %1 takes effect at the next start.").arg(tcpPort);
    serverNote->setText(note.join(QLatin1Char(' ')));
    serverNote->setVisible(!note.isEmpty());
}

void MainWindow::StopServer()
{
    disconnect(this, &MainWindow::remoteError, this, &MainWindow::remoteErrorCalled);
    // Before the records go: the server reads them until it is gone.
    delete server;
    server = nullptr;
}

void MainWindow::new_connection()
{
    // The server took the client and sent new state, sequence length and
    // symbol rate.
    ui->Conn->setChecked(true);
}

void MainWindow::read_connection()
{
    // Requests are answered by the server itself, from the state it asks
    // for; nothing in the window changes.
}

void MainWindow::disconnected()
{
    ui->Conn->setChecked(false);
}

void MainWindow::sendToWavesmith(SERVER_MESSAGE_HEADER_TYPE type, float value)
{
    server->sendToWavesmith(type, value);
}

void MainWindow::sendServerID() { server->sendServerID(); }
void MainWindow::sendNewState() { server->sendNewState(); }
void MainWindow::sendSymbolrate() { server->sendSymbolrate(); }
void MainWindow::sendSequenceLength() { server->sendSequenceLength(); }
void MainWindow::sendSymbols() { server->sendSymbols(); }

void MainWindow::on_ConnectTo_currentIndexChanged(int index)
{
    ui->Conn->setChecked(false);
    newState = false;
    connectTo = index;
}

void MainWindow::on_Port_editingFinished()
{
    // Used from the next start: the server keeps its port meanwhile.
    ui->Conn->setChecked(false);
    newState = false;
    tcpPort = ui->Port->value();
    ShowServerNote();
}

void MainWindow::remoteErrorCalled(HvRemoteException* e)
{
    // The slot owns the exception it is handed.
    Ask().critical(this, QStringLiteral("Error"), e->message());
    delete e;
}
