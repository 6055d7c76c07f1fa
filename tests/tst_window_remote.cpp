// The window's connection strip and symbol server, driven through its
// widgets offscreen, with a real loopback client. The wire format is tested
// against the server class; here the window's state and records behind it.
#include "app/mainwindow.h"
#include "formats/catalogue.h"
#include "guitest.h"
#include "remoteutil.h"
#include "ui_mainwindow.h"

#include <QSettings>
#include <QTemporaryDir>

using namespace remoteutil;

class WindowRemoteTest : public QObject {
    Q_OBJECT
    QTemporaryDir home, work;
    FakePrompts ask;
    QString iniPath;
    quint16 port = 0;

    void configure(int tcpPort, int connectTo = 1)
    {
        QSettings s(iniPath, QSettings::IniFormat);
        s.setValue("Program/TCP Port", tcpPort);
        s.setValue("Program/Connect To", connectTo);
    }
    // A window serving on a free port.
    std::unique_ptr<MainWindow> start(int connectTo = 1)
    {
        port = freePort();
        configure(port, connectTo);
        return std::make_unique<MainWindow>();
    }
    void load(MainWindow* w, const QString& name)
    {
        w->ui->Load_Typ->setCurrentIndex(TypeIndex(tl, TL_COUNT, "IQW mixed, iqiqiq....iq"));
        ask.answers << work.filePath(name);
        w->ui->Load_I->click();
        w->ui->Load_Lod->click();
    }
    static QByteArray newState(bool set) { return value(3, set ? 1.0f : 0.0f); }

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
    }

    void listensOnTheConfiguredPort()
    {
        auto w = start();
        QCOMPARE(w->server->serverPort(), port);
        QVERIFY(!w->ui->Conn->isChecked());
        Client c(port);
        // Start-up clears the flag; nothing loaded yet.
        QCOMPARE(c.take(24), newState(false) + value(1, 0.0f) + value(0, float(w->loadRec.Clock)));
        QVERIFY(w->ui->Conn->isChecked());
        c.sock.disconnectFromHost();
        QVERIFY(waitFor([&] { return !w->ui->Conn->isChecked(); }));
    }

    // Neither a port out of range nor one already taken is reported.
    void unusablePortServesNoOne()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        for (int p : {0, 65536, -5, int(taken.serverPort())}) {
            configure(p);
            MainWindow w;
            QVERIFY2(!w.server->isListening() && ask.boxes.isEmpty(), qPrintable(QString::number(p)));
        }
    }

    void newStateAfterLoadWithEachChoice()
    {
        auto [i, q] = WriteIqw(work.filePath("a.iqw"), 8000, 0.5f);
        for (int connectTo : {0, 1}) {
            auto w = start(connectTo);
            QCOMPARE(w->ui->ConnectTo->currentIndex(), connectTo);
            Client c(port);
            QVERIFY(c.greeted());
            c.send("GetNewState");
            QCOMPARE(c.take(8), newState(false));
            w->ui->Load_SRat->setValue(2.5e6);
            load(w.get(), "a.iqw");
            QVERIFY(w->dataValid);
            c.send("GetNewState");
            const QByteArray want = newState(true) + value(0, 2.5e6f) + value(1, 8000.0f) + (connectTo ? symbols(i, q) : "");
            QVERIFY(c.take(want.size()) == want);
            // Answering does not clear the flag.
            c.send("GetNewState");
            QCOMPARE(c.take(8), newState(true));
        }
    }

    // Each of these leaves the client nothing new to fetch; a changed link
    // shows as not connected, even though the client stays.
    void newStateIsClearedBy()
    {
        WriteIqw(work.filePath("b.iqw"), 10);
        for (const QString change : {"connect-to", "port", "failed load"}) {
            auto w = start();
            Client c(port);
            QVERIFY(c.greeted());
            load(w.get(), "b.iqw");
            QVERIFY(w->newState && w->ui->Conn->isChecked());
            if (change == "connect-to") {
                w->ui->ConnectTo->setCurrentIndex(0);
                QCOMPARE(w->connectTo, 0);
            } else if (change == "port") {
                w->ui->Port->setValue(4711);
                emit w->ui->Port->editingFinished();
                // The new port counts from the next start; the old one keeps serving.
                QVERIFY(w->tcpPort == 4711 && w->server->serverPort() == port);
            } else {
                load(w.get(), "missing.iqw");
                QVERIFY(!w->dataValid);
                c.send("GetSymbol");   // nothing valid to send
            }
            QVERIFY2(!w->newState && w->ui->Conn->isChecked() == (change == "failed load"), qPrintable(change));
            c.send("GetNewState");
            QCOMPARE(c.take(8), newState(false));
            w.reset();
            QSettings s(iniPath, QSettings::IniFormat);
            QCOMPARE(s.value("Program/TCP Port").toInt(), change == "port" ? 4711 : int(port));
            QCOMPARE(s.value("Program/Connect To").toInt(), change == "connect-to" ? 0 : 1);
        }
    }

    // The reply borrows the load record's arrays; a reload under way must
    // neither cut it short nor change its bytes (the leak checker watches).
    void reloadDuringReplyKeepsTheReplyWhole()
    {
        auto [i, q] = WriteIqw(work.filePath("big.iqw"), 1000000);
        auto [si, sq] = WriteIqw(work.filePath("small.iqw"), 10, 3.0f);
        auto w = start();
        load(w.get(), "big.iqw");
        Client c(port, 4096);   // reads slowly: most of the reply waits
        QVERIFY(c.greeted());
        QSignalSpy pieces(w->server, &SymbolServer::symbolPiece);
        c.send("GetSymbol");
        QVERIFY(pieces.wait(10000));
        QVERIFY(w->server->backlog() > 1000000);
        load(w.get(), "small.iqw");
        QCOMPARE(w->loadRec.N, uint64_t(10));
        c.sock.setReadBufferSize(0);
        const QByteArray want = symbols(i, q);
        QVERIFY(c.take(want.size(), 60000) == want);
        c.send("GetSymbol");
        QVERIFY(c.take(84) == symbols(si, sq));
    }

    void remoteErrorShowsCriticalBox()
    {
        auto w = start();
        emit w->remoteError(new HvRemoteException("link lost"));
        QCOMPARE(ask.boxes.size(), 1);
        QCOMPARE(ask.boxes[0].kind + "|" + ask.boxes[0].title + "|" + ask.boxes[0].text, QString("critical|Error|link lost"));
    }

    void windowClosesWithClientMidReply()
    {
        WriteIqw(work.filePath("d.iqw"), 500000);
        auto w = start();
        load(w.get(), "d.iqw");
        Client c(port, 4096);
        QVERIFY(c.greeted());
        QSignalSpy pieces(w->server, &SymbolServer::symbolPiece);
        c.send("GetSymbol");
        QVERIFY(pieces.wait(10000));
        w.reset();   // records and server go while the reply is under way
        // The client learns of the end once it reads what was still on its way.
        c.sock.setReadBufferSize(0);
        QVERIFY(waitFor([&] {
            c.sock.readAll();
            return c.sock.state() == QAbstractSocket::UnconnectedState;
        }));
    }
};

ORVEX_GUI_TEST_MAIN(WindowRemoteTest)
#include "tst_window_remote.moc"
