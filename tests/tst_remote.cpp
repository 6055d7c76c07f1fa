// The symbol server against a real QTcpSocket client on the loopback address.
// Every wire-format fact is tested here; the window and command-line tests
// check only their glue.
#include "formats/iqdata.h"
#include "remote/symbolserver.h"
#include "remoteutil.h"

#include <QRandomGenerator>

using namespace remoteutil;

namespace {

// The window's side of the server: a load record in miniature, served on a
// port the system picks.
struct Host {
    ServeState st;
    testutil::Vf i, q;
    int snapshots = 0;
    SymbolServer srv;

    explicit Host(uint64_t n, double clock = 2.5e6)
    {
        load(n, clock);
        srv.setStateSource([this] { return st; });
        srv.setSymbolSource([this] {
            ++snapshots;
            return SymbolData::copyOf(i.data(), q.data(), i.size());
        });
        srv.listen(0);
    }
    void load(uint64_t n, double clock = 2.5e6)
    {
        i.resize(n);
        q.resize(n);
        for (uint64_t k = 0; k < n; ++k) {
            i[k] = float(k) + 0.25f;
            q[k] = -float(k) - 0.5f;
        }
        st = ServeState{true, true, n, clock, 1};
    }
    quint16 port() const { return srv.serverPort(); }
    int sockets()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return srv.findChildren<QTcpSocket*>().size();
    }
};

} // namespace

class TstRemote : public QObject {
    Q_OBJECT
private slots:
    void listensOnLoopbackOnly()
    {
        SymbolServer a, b;
        QVERIFY(a.listen(0));
        QVERIFY(a.serverAddress() == QHostAddress(QHostAddress::LocalHost) && a.serverPort() != 0);
        QVERIFY(!b.listen(a.serverPort()));
        QVERIFY(!b.errorString().isEmpty() && !b.isListening());
    }

    // New-state flag, sequence length, symbol rate; counts above 2^24 are
    // rounded on the wire, the float is what goes out. No symbols on
    // connect, even with the flag set: the next bytes answer the next request.
    void threeRepliesOnConnect()
    {
        const struct { bool newState; uint64_t n; double clock; } rows[] = {
            {false, 0, 1e8}, {true, 8000, 2.5e6}, {true, 50000001, 61.44e6}};
        for (const auto& row : rows) {
            Host h(0);
            h.st = ServeState{row.newState, row.newState, row.n, row.clock, 1};
            QSignalSpy conn(&h.srv, &SymbolServer::clientConnected);
            Client c(h.port());
            QCOMPARE(c.take(24), value(3, row.newState ? 1.0f : 0.0f) + value(1, float(row.n)) + value(0, float(row.clock)));
            QVERIFY(conn.count() == 1 && h.srv.hasClient());
            c.send("GetSymbolRate");
            QCOMPARE(c.take(8), value(0, float(row.clock)));
            QCOMPARE(h.snapshots, 0);
        }
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("newState");
        QTest::addColumn<int>("connectTo");
        QTest::addColumn<QString>("data");    // samples: valid, not valid, none
        QTest::addColumn<QString>("reply");   // sequence of reply tags
        const QByteArray ns = "GetNewState", sym = "GetSymbol";
        QTest::newRow("server id") << QByteArray("GetServerID") << true << 1 << "valid" << "I";
        QTest::newRow("server id with line end") << QByteArray("GetServerID\r\n") << true << 1 << "valid" << "I";
        QTest::newRow("sequence length") << QByteArray("GetSequenceLength") << true << 1 << "valid" << "L";
        QTest::newRow("symbol rate, not symbols") << QByteArray("GetSymbolRate") << true << 1 << "valid" << "R";
        QTest::newRow("symbols") << sym << true << 1 << "valid" << "S";
        QTest::newRow("symbols, other tail") << QByteArray("GetSymbols\n") << true << 1 << "valid" << "S";
        QTest::newRow("symbols, tail near Rate") << QByteArray("GetSymbolRat") << true << 1 << "valid" << "S";
        QTest::newRow("symbols, data not valid") << sym << true << 1 << "not valid" << "";
        QTest::newRow("symbols, no samples") << sym << true << 1 << "none" << "";
        QTest::newRow("new state clear") << ns << false << 1 << "valid" << "N";
        QTest::newRow("new state clear, index 0") << ns << false << 0 << "valid" << "N";
        QTest::newRow("new state set, index 0") << ns << true << 0 << "valid" << "NRL";
        QTest::newRow("new state set, index 1") << ns << true << 1 << "valid" << "NRLS";
        QTest::newRow("new state set, data not valid") << ns << true << 1 << "not valid" << "NRL";
        QTest::newRow("new state set, no samples") << ns << true << 1 << "none" << "NRL";
        QTest::newRow("lowercase id") << QByteArray("getserverid") << true << 1 << "valid" << "";
        QTest::newRow("lowercase new state") << QByteArray("getnewstate") << true << 1 << "valid" << "";
        QTest::newRow("upper case symbol") << QByteArray("GETSYMBOL") << true << 1 << "valid" << "";
        QTest::newRow("keyword cut short") << QByteArray("GetSymbo") << true << 1 << "valid" << "";
        QTest::newRow("unknown") << QByteArray("Hello") << true << 1 << "valid" << "";
        QTest::newRow("empty line") << QByteArray("\n") << true << 1 << "valid" << "";
    }
    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, newState);
        QFETCH(int, connectTo);
        QFETCH(QString, data);
        QFETCH(QString, reply);
        Host h(data == "none" ? 0 : 1000, 3.84e6);
        h.st.newState = newState;
        h.st.connectTo = connectTo;
        h.st.dataValid = data != "not valid";
        Client c(h.port());
        QVERIFY(c.greeted());
        c.send(request);
        QByteArray want;
        for (QChar t : reply)
            want += t == 'I' ? serverId() : t == 'L' ? value(1, float(h.st.n)) : t == 'R' ? value(0, 3.84e6f)
                  : t == 'N' ? value(3, newState ? 1.0f : 0.0f) : symbols(h.i, h.q);
        // A request that is not answered leaves nothing in the stream, and a
        // cut keyword does not swallow the next one.
        c.send("GetSequenceLength");
        want += value(1, float(h.st.n));
        QVERIFY(c.take(want.size()) == want);
        QCOMPARE(c.sock.bytesAvailable(), qint64(0));
        // Samples are only taken for a reply that carries them.
        QCOMPARE(h.snapshots, int(reply.count('S')));
    }

    // Replies go out in pieces of 8000 samples.
    void symbolPieces()
    {
        const std::pair<uint64_t, QList<qint64>> rows[] = {
            {1, {12}}, {7999, {63996}}, {8000, {64000, 4}}, {8001, {64000, 12}}, {16000, {64000, 64000, 4}}};
        for (const auto& [n, pieces] : rows) {
            Host h(n);
            QSignalSpy spy(&h.srv, &SymbolServer::symbolPiece);
            Client c(h.port());
            QVERIFY(c.greeted());
            c.send("GetSymbol");
            const QByteArray want = symbols(h.i, h.q);
            QVERIFY(c.take(want.size()) == want);
            QList<qint64> seen;
            for (const auto& args : spy)
                seen << args.at(0).toLongLong();
            QCOMPARE(seen, pieces);
        }
    }

    void requestsSplitAndJoined()
    {
        Host h(10);
        Client c(h.port());
        QVERIFY(c.greeted());
        // Several requests in one write are all answered, in order.
        c.send("GetSymbolRateGetServerIDxxGetSequenceLength");
        const QByteArray want = value(0, 2.5e6f) + serverId() + value(1, 10.0f);
        QCOMPARE(c.take(want.size()), want);
        // A keyword split over two writes is still recognised.
        c.send("GetSeq");
        c.sock.flush();
        c.send("uenceLength");
        QCOMPARE(c.take(8), value(1, 10.0f));
    }

    void scannerKeepsCutKeyword()
    {
        RequestScanner s;
        // One byte at a time, as a slow link might deliver it. "GetSymbol" is
        // answered as soon as it is complete; fed byte by byte, "GetSymbolRate"
        // becomes "GetSymbol" + junk, which is why whole requests are tested above.
        QList<Request> got;
        for (char ch : QByteArray("xxGetSymbolRateGetNewStategetserveridGetSymbolGetSequenceLength")) {
            s.feed(QByteArray(1, ch));
            for (Request r; (r = s.next()) != Request::None;)
                got << r;
        }
        QCOMPARE(got, (QList<Request>{Request::Symbol, Request::NewState, Request::Symbol, Request::SequenceLength}));
        QCOMPARE(s.pending(), 0);
        s.feed("GetServ");
        QVERIFY(s.next() == Request::None && s.pending() == 7);
        s.feed("erIDGetNew");
        QCOMPARE(s.next(), Request::ServerID);
        QVERIFY(s.next() == Request::None && s.pending() == 6);
        s.feed("X");
        QVERIFY(s.next() == Request::None && s.pending() == 0);
    }

    void snapshotSurvivesReload()
    {
        // A reply far larger than the socket buffers, so most of it is still
        // to be cut from the samples when the record changes under it.
        Host h(2000000);
        const QByteArray want = symbols(h.i, h.q);
        Client c(h.port(), 4096);
        QVERIFY(c.greeted());
        c.send("GetSymbol");
        QVERIFY(waitFor([&] { return h.snapshots == 1; }));
        // Reload with other values, then free the arrays entirely.
        h.load(300);
        testutil::Vf().swap(h.i);
        testutil::Vf().swap(h.q);
        h.st.dataValid = false;
        c.sock.setReadBufferSize(0);
        QVERIFY(c.take(want.size(), 60000) == want);
        c.send("GetSequenceLength");
        QCOMPARE(c.take(8), value(1, 300.0f));
    }

    void secondClientReplacesFirst()
    {
        Host h(100);
        QSignalSpy conn(&h.srv, &SymbolServer::clientConnected);
        Client a(h.port());
        QVERIFY(a.greeted());
        QSignalSpy aGone(&a.sock, &QTcpSocket::disconnected);
        Client b(h.port());
        QVERIFY(b.greeted());
        // The earlier socket is closed, not left open and unread.
        QVERIFY(aGone.count() == 1 || aGone.wait(10000));
        b.send("GetServerID");
        QCOMPARE(b.take(100), serverId());
        QVERIFY(conn.count() == 2 && h.sockets() == 1);
    }

    void connectCycles()
    {
        Host h(16);
        QSignalSpy gone(&h.srv, &SymbolServer::clientDisconnected);
        for (int k = 0; k < 200; ++k) {
            Client c(h.port());
            QVERIFY(c.connected());
            if (k % 2)
                c.send("GetSymbol");   // leave with a reply under way
            QVERIFY(c.greeted());
            c.sock.disconnectFromHost();
            QVERIFY(gone.count() == k + 1 || gone.wait(10000));
            QVERIFY(!h.srv.hasClient());
        }
        QCOMPARE(h.sockets(), 0);
        Client c(h.port());
        QVERIFY(c.greeted());
        c.send("GetServerID");
        QCOMPARE(c.take(100), serverId());
    }

    void garbageLeavesServerAnswering()
    {
        Host h(64);
        Client c(h.port());
        QVERIFY(c.greeted());
        QByteArray junk(1 << 20, '\0');
        for (char& ch : junk)
            ch = char(QRandomGenerator::global()->bounded(256));
        junk.replace('G', 'g');   // no accidental keyword
        for (const char* near : {"Get", "GETSERVERID", "GetSym", "GetNew", "\0\0\0", "GetSequence"})
            junk += QByteArray(near) + "!";
        c.send(junk);
        c.send("GetServerID");
        QCOMPARE(c.take(100, 30000), serverId());
        // Binary zeros and a request right behind them.
        c.send(QByteArray(5000, '\0') + "GetSymbolRate");
        QCOMPARE(c.take(8), value(0, 2.5e6f));
    }

    void floodIsThrottled()
    {
        Host h(1000);
        // A client that sends many requests and reads nothing for a while.
        Client c(h.port(), 4096);
        QVERIFY(c.greeted());
        const int count = 3000;
        qint64 peak = 0;
        connect(&h.srv, &SymbolServer::symbolPiece, this, [&] { peak = std::max(peak, h.srv.backlog()); });
        c.send(QByteArray("GetSymbol").repeated(count));
        // The server stops reading once its replies pile up.
        QVERIFY(waitFor([&] { return h.srv.backlog() >= (1 << 20); }));
        const QByteArray one = symbols(h.i, h.q);
        c.sock.setReadBufferSize(0);
        const QByteArray got = c.take(qint64(one.size()) * count, 60000);
        QCOMPARE(got, one.repeated(count));
        // Held back by the input gate: far below the 24 MB all replies take.
        QVERIFY2(peak < (6 << 20), qPrintable(QString::number(peak)));
        c.send("GetServerID");
        QCOMPARE(c.take(100), serverId());
    }

    void clientLeavesMidReply()
    {
        Host h(3000000);
        QSignalSpy gone(&h.srv, &SymbolServer::clientDisconnected);
        {
            Client c(h.port(), 4096);
            QVERIFY(c.greeted());
            c.send("GetSymbol");
            QVERIFY(waitFor([&] { return h.srv.backlog() > 0; }));
            c.take(100000);
            c.sock.abort();
        }
        QVERIFY(gone.count() == 1 || gone.wait(10000));
        QCOMPARE(h.srv.backlog(), qint64(0));
        Client c(h.port());
        QVERIFY(c.greeted());
        c.send("GetSequenceLength");
        QCOMPARE(c.take(8), value(1, 3000000.0f));
    }
};

QTEST_GUILESS_MAIN(TstRemote)
#include "tst_remote.moc"
