// The window's connection strip and symbol server, driven through its
// widgets offscreen, with a real loopback client.
#include "app/mainwindow.h"
#include "app/prompts.h"
#include "formats/fileio.h"
#include "guitest.h"
#include "remoteutil.h"
#include "ui_mainwindow.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace remoteutil;

namespace {

// Answers the file dialogs and records the boxes instead of showing them.
class QuietPrompts : public Prompts {
public:
    QStringList answers;
    QStringList boxes;   // "kind|title|text"
    void warning(QWidget*, const QString& t, const QString& x, const QString&) override
    {
        boxes << "warning|" + t + "|" + x;
    }
    void critical(QWidget*, const QString& t, const QString& x) override { boxes << "critical|" + t + "|" + x; }
    void about(QWidget*, const QString&, const QString&) override {}
    QString openFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString saveFile(QWidget* p, const QString& c, const QString& d, const QString& f) override
    {
        return openFile(p, c, d, f);
    }
};

// An IQW mixed file, I = k * scale, Q = -k.
std::pair<std::vector<float>, std::vector<float>> writeIqw(const QString& path, int n, float scale)
{
    std::vector<float> i(static_cast<size_t>(n)), q(static_cast<size_t>(n));
    QByteArray b(n * 8, 0);
    for (int k = 0; k < n; ++k) {
        i[size_t(k)] = float(k) * scale;
        q[size_t(k)] = -float(k);
        io::putf32(reinterpret_cast<uint8_t*>(b.data()) + 8 * k, i[size_t(k)]);
        io::putf32(reinterpret_cast<uint8_t*>(b.data()) + 8 * k + 4, q[size_t(k)]);
    }
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(b);
    return {i, q};
}

} // namespace

class WindowRemoteTest : public QObject {
    Q_OBJECT
    QTemporaryDir home, work;
    QuietPrompts ask;
    QString iniPath;
    quint16 port = 0;
    int iqwLoad = -1;

    // A window whose configuration names a free high port and the choice.
    std::unique_ptr<MainWindow> start(int connectTo)
    {
        port = freePort();
        {
            QSettings s(iniPath, QSettings::IniFormat);
            s.setValue("Program/TCP Port", int(port));
            s.setValue("Program/Connect To", connectTo);
        }
        return std::make_unique<MainWindow>();
    }
    void load(MainWindow* w, const QString& path)
    {
        w->ui->Load_Typ->setCurrentIndex(iqwLoad);
        ask.answers << path;
        w->ui->Load_I->click();
        w->ui->Load_Lod->click();
    }
    static QByteArray greeting(bool flag, float n, float clock)
    {
        return value(3, flag ? 1.0f : 0.0f) + value(1, n) + value(0, clock);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid() && work.isValid());
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        QCoreApplication::setApplicationName(QStringLiteral("OrvexMc"));
        iniPath = home.path() + QStringLiteral("/Halvard/OrvexMc/Orvex.ini");
        QDir().mkpath(QFileInfo(iniPath).path());
        SetPrompts(&ask);
        for (int k = 0; k < TL_COUNT; ++k)
            if (tl[k].Name == QLatin1String("IQW mixed, iqiqiq....iq"))
                iqwLoad = k;
        QVERIFY(iqwLoad >= 0);
    }
    void cleanupTestCase() { SetPrompts(nullptr); }
    void init()
    {
        QFile::remove(iniPath);
        ask.answers.clear();
        ask.boxes.clear();
    }

    void listensOnTheConfiguredPort()
    {
        auto w = start(1);
        QVERIFY(w->server->isListening());
        QCOMPARE(w->server->serverPort(), port);
        QCOMPARE(w->server->serverAddress(), QHostAddress(QHostAddress::LocalHost));
        QVERIFY(!w->ui->Conn->isChecked());
        Client c(port);
        // Start-up clears the flag; nothing loaded yet.
        QCOMPARE(c.take(24), greeting(false, 0, float(w->loadRec.Clock)));
        QVERIFY(w->ui->Conn->isChecked());
        c.sock.disconnectFromHost();
        QVERIFY(waitFor([&] { return !w->ui->Conn->isChecked(); }));
    }

    void portOutOfRangeServesNoOne_data()
    {
        QTest::addColumn<int>("port");
        QTest::newRow("0") << 0;
        QTest::newRow("65536") << 65536;
        QTest::newRow("negative") << -5;
    }
    void portOutOfRangeServesNoOne()
    {
        QFETCH(int, port);
        {
            QSettings s(iniPath, QSettings::IniFormat);
            s.setValue("Program/TCP Port", port);
        }
        MainWindow w;
        QVERIFY(!w.server->isListening());
        QVERIFY(ask.boxes.isEmpty());
    }

    void portTakenIsNotReported()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        {
            QSettings s(iniPath, QSettings::IniFormat);
            s.setValue("Program/TCP Port", int(taken.serverPort()));
        }
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
        auto [i, q] = writeIqw(work.filePath("a.iqw"), 8000, 0.5f);
        auto w = start(connectTo);
        QCOMPARE(w->ui->ConnectTo->currentIndex(), connectTo);
        Client c(port);
        QCOMPARE(c.take(24).size(), 24);
        c.send("GetNewState");
        QCOMPARE(c.take(8), value(3, 0.0f));   // flag clear: 8 bytes only

        w->ui->Load_SRat->setValue(2.5e6);
        load(w.get(), work.filePath("a.iqw"));
        QVERIFY2(w->dataValid, qPrintable(ask.boxes.join('\n')));
        c.send("GetNewState");
        QByteArray want = value(3, 1.0f) + value(0, 2.5e6f) + value(1, 8000.0f);
        if (connectTo == 1)
            want += symbols(i, q);
        c.send("GetServerID");   // comes after: nothing else in between
        want += serverId();
        QVERIFY(c.take(want.size()) == want);
        // Answering does not clear the flag.
        c.send("GetNewState");
        QCOMPARE(c.take(8), value(3, 1.0f));
    }

    void connectToAndPortChangesClearNewState()
    {
        writeIqw(work.filePath("b.iqw"), 10, 1.0f);
        auto w = start(1);
        Client c(port);
        QCOMPARE(c.take(24).size(), 24);
        load(w.get(), work.filePath("b.iqw"));
        QVERIFY(w->newState);
        QVERIFY(w->ui->Conn->isChecked());

        w->ui->ConnectTo->setCurrentIndex(0);
        QVERIFY(!w->newState);
        QCOMPARE(w->connectTo, 0);
        QVERIFY(!w->ui->Conn->isChecked());   // even though the client stays
        c.send("GetNewState");
        QCOMPARE(c.take(8), value(3, 0.0f));

        load(w.get(), work.filePath("b.iqw"));
        QVERIFY(w->newState);
        const quint16 listening = w->server->serverPort();
        w->ui->Port->setValue(4711);
        emit w->ui->Port->editingFinished();
        QVERIFY(!w->newState);
        QCOMPARE(w->tcpPort, 4711);
        // The new port counts from the next start; the old one keeps serving.
        QCOMPARE(w->server->serverPort(), listening);
        c.send("GetNewState");
        QCOMPARE(c.take(8), value(3, 0.0f));
        w.reset();
        QSettings s(iniPath, QSettings::IniFormat);
        QCOMPARE(s.value("Program/TCP Port").toInt(), 4711);
        QCOMPARE(s.value("Program/Connect To").toInt(), 0);
    }

    void failedLoadClearsNewStateAndStopsSymbols()
    {
        writeIqw(work.filePath("c.iqw"), 100, 1.0f);
        auto w = start(1);
        Client c(port);
        QCOMPARE(c.take(24).size(), 24);
        load(w.get(), work.filePath("c.iqw"));
        QVERIFY(w->newState && w->dataValid);
        load(w.get(), work.filePath("missing.iqw"));
        QVERIFY(!w->newState && !w->dataValid);
        c.send("GetSymbol");
        c.send("GetNewState");
        QCOMPARE(c.take(8), value(3, 0.0f));
    }

    void reloadDuringReplyKeepsTheReplyWhole()
    {
        auto [i, q] = writeIqw(work.filePath("big.iqw"), 1000000, 1.0f);
        writeIqw(work.filePath("small.iqw"), 10, 3.0f);
        auto w = start(1);
        load(w.get(), work.filePath("big.iqw"));
        QVERIFY(w->dataValid);
        Client c(port, 4096);   // reads slowly: most of the reply waits
        QCOMPARE(c.take(24).size(), 24);
        QSignalSpy pieces(w->server, &SymbolServer::symbolPiece);
        c.send("GetSymbol");
        QVERIFY(pieces.wait(10000));
        load(w.get(), work.filePath("small.iqw"));
        QCOMPARE(w->loadRec.N, uint64_t(10));
        c.sock.setReadBufferSize(0);
        const QByteArray want = symbols(i, q);
        QVERIFY(c.take(want.size(), 60000) == want);
        c.send("GetSequenceLength");
        QCOMPARE(c.take(8), value(1, 10.0f));
    }

    void remoteErrorShowsCriticalBox()
    {
        auto w = start(1);
        emit w->remoteError(new HvRemoteException(QStringLiteral("link lost")));
        QCOMPARE(ask.boxes, QStringList{"critical|Error|link lost"});
    }

    void windowClosesWithClientMidReply()
    {
        writeIqw(work.filePath("d.iqw"), 500000, 1.0f);
        auto w = start(1);
        load(w.get(), work.filePath("d.iqw"));
        Client c(port, 4096);
        QCOMPARE(c.take(24).size(), 24);
        c.send("GetSymbol");
        QSignalSpy pieces(w->server, &SymbolServer::symbolPiece);
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
