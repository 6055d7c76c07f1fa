// The window's connection strip and symbol server, driven through its
// widgets offscreen, with a real loopback client. The wire format is tested
// against the server class; here the window's state and records behind it.
#include "app/mainwindow.h"
#include "guitest.h"
#include "remoteutil.h"
#include "ui_mainwindow.h"
#include "windowtest.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace remoteutil;

class WindowRemoteTest : public QObject {
    Q_OBJECT
    QTemporaryDir home, work;
    FakePrompts ask;
    QString iniPath;
    quint16 port = 0;
    int iqwLoad = -1;

    void configure(int tcpPort, int connectTo = 1)
    {
        QSettings s(iniPath, QSettings::IniFormat);
        s.setValue("Program/TCP Port", tcpPort);
        s.setValue("Program/Connect To", connectTo);
    }
    // A window serving on a free port, with a client past its greeting.
    std::unique_ptr<MainWindow> start(int connectTo = 1)
    {
        port = freePort();
        configure(port, connectTo);
        return std::make_unique<MainWindow>();
    }
    static bool greeted(Client& c) { return c.take(24).size() == 24; }
    void load(MainWindow* w, const QString& name)
    {
        w->ui->Load_Typ->setCurrentIndex(iqwLoad);
        ask.answers << work.filePath(name);
        w->ui->Load_I->click();
        w->ui->Load_Lod->click();
    }
    static QByteArray newStateReply(bool set) { return value(3, set ? 1.0f : 0.0f); }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid() && work.isValid());
        iniPath = UseSettingsHome(home.path());
        SetPrompts(&ask);
        iqwLoad = TypeIndex(tl, TL_COUNT, "IQW mixed, iqiqiq....iq");
        QVERIFY(iqwLoad >= 0);
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
        QCOMPARE(c.take(24), value(3, 0.0f) + value(1, 0.0f) + value(0, float(w->loadRec.Clock)));
        QVERIFY(w->ui->Conn->isChecked());
        c.sock.disconnectFromHost();
        QVERIFY(waitFor([&] { return !w->ui->Conn->isChecked(); }));
    }

    // Neither a port out of range nor one already taken is reported.
    void unusablePortServesNoOne_data()
    {
        QTest::addColumn<QString>("port");
        for (const char* p : {"0", "65536", "-5", "taken"})
            QTest::newRow(p) << p;
    }
    void unusablePortServesNoOne()
    {
        QFETCH(QString, port);
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        configure(port == "taken" ? taken.serverPort() : port.toInt());
        MainWindow w;
        QVERIFY(!w.server->isListening());
        QVERIFY(ask.boxes.isEmpty());
    }

    void newStateAfterLoadWithEachChoice_data()
    {
        QTest::addColumn<int>("connectTo");
        QTest::newRow("WVSMITH") << 0;
        QTest::newRow("WVSMITH2") << 1;
    }
    void newStateAfterLoadWithEachChoice()
    {
        QFETCH(int, connectTo);
        auto [i, q] = WriteIqw(work.filePath("a.iqw"), 8000, 0.5f);
        auto w = start(connectTo);
        QCOMPARE(w->ui->ConnectTo->currentIndex(), connectTo);
        Client c(port);
        QVERIFY(greeted(c));
        c.send("GetNewState");
        QCOMPARE(c.take(8), newStateReply(false));
        w->ui->Load_SRat->setValue(2.5e6);
        load(w.get(), "a.iqw");
        QVERIFY(w->dataValid);
        c.send("GetNewState");
        QByteArray want = newStateReply(true) + value(0, 2.5e6f) + value(1, 8000.0f);
        if (connectTo == 1)
            want += symbols(i, q);
        QVERIFY(c.take(want.size()) == want);
        // Answering does not clear the flag.
        c.send("GetNewState");
        QCOMPARE(c.take(8), newStateReply(true));
    }

    // Each of these leaves the client nothing new to fetch.
    void newStateIsClearedBy_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* c : {"connect-to", "port", "failed load"})
            QTest::newRow(c) << c;
    }
    void newStateIsClearedBy()
    {
        QFETCH(QString, change);
        WriteIqw(work.filePath("b.iqw"), 10);
        auto w = start();
        Client c(port);
        QVERIFY(greeted(c));
        load(w.get(), "b.iqw");
        QVERIFY(w->newState && w->ui->Conn->isChecked());
        if (change == "connect-to") {
            w->ui->ConnectTo->setCurrentIndex(0);
            QCOMPARE(w->connectTo, 0);
        } else if (change == "port") {
            w->ui->Port->setValue(4711);
            emit w->ui->Port->editingFinished();
            QCOMPARE(w->tcpPort, 4711);
            // The new port counts from the next start; the old one keeps serving.
            QCOMPARE(w->server->serverPort(), port);
        } else {
            load(w.get(), "missing.iqw");
            QVERIFY(!w->dataValid);
            c.send("GetSymbol");   // nothing valid to send
        }
        QVERIFY(!w->newState);
        // A changed link shows as not connected, even though the client stays.
        QCOMPARE(w->ui->Conn->isChecked(), change == "failed load");
        c.send("GetNewState");
        QCOMPARE(c.take(8), newStateReply(false));
        w.reset();
        QSettings s(iniPath, QSettings::IniFormat);
        QCOMPARE(s.value("Program/TCP Port").toInt(), change == "port" ? 4711 : int(port));
        QCOMPARE(s.value("Program/Connect To").toInt(), change == "connect-to" ? 0 : 1);
    }

    // The reply borrows the load record's arrays; a reload under way must
    // neither cut it short nor change its bytes (the leak checker watches).
    void reloadDuringReplyKeepsTheReplyWhole()
    {
        auto [i, q] = WriteIqw(work.filePath("big.iqw"), 1000000);
        auto [si, sq] = WriteIqw(work.filePath("small.iqw"), 10, 3.0f);
        auto w = start();
        load(w.get(), "big.iqw");
        QVERIFY(w->dataValid);
        Client c(port, 4096);   // reads slowly: most of the reply waits
        QVERIFY(greeted(c));
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
        emit w->remoteError(new HvRemoteException(QStringLiteral("link lost")));
        QCOMPARE(ask.boxes.size(), 1);
        QCOMPARE(ask.boxes[0].kind + "|" + ask.boxes[0].title + "|" + ask.boxes[0].text,
                 QStringLiteral("critical|Error|link lost"));
    }

    void windowClosesWithClientMidReply()
    {
        WriteIqw(work.filePath("d.iqw"), 500000);
        auto w = start();
        load(w.get(), "d.iqw");
        Client c(port, 4096);
        QVERIFY(greeted(c));
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
