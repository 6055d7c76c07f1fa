// The symbol server against a real QTcpSocket client on the loopback address.
#include "formats/iqdata.h"
#include "remote/symbolserver.h"
#include "remoteutil.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <vector>

using namespace remoteutil;

namespace {

// The window's side of the server: a load record in miniature.
struct Host {
    ServeState st;
    std::vector<float> i, q;
    int snapshots = 0;

    void load(uint64_t n, double clock = 2.5e6)
    {
        i.resize(n);
        q.resize(n);
        for (uint64_t k = 0; k < n; ++k) {
            i[k] = float(k) + 0.25f;
            q[k] = -float(k) - 0.5f;
        }
        st.n = n;
        st.clock = clock;
        st.dataValid = true;
        st.newState = true;
    }
    void attach(SymbolServer& s)
    {
        s.setStateSource([this] { return st; });
        s.setSymbolSource([this] {
            ++snapshots;
            return SymbolData::copyOf(i.data(), q.data(), i.size());
        });
    }
};

int sockets(const SymbolServer& s) { return s.findChildren<QTcpSocket*>().size(); }

void reapDeleted()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TstRemote : public QObject {
    Q_OBJECT
private slots:
    void listensOnLoopbackOnly();
    void portTaken();
    void threeRepliesOnConnect_data();
    void threeRepliesOnConnect();
    void requests_data();
    void requests();
    void symbolPieces_data();
    void symbolPieces();
    void noSymbolsWithoutValidData();
    void requestsSplitAndJoined();
    void scannerKeepsCutKeyword();
    void snapshotSurvivesReload();
    void borrowedArraysOutliveTheirRecord();
    void borrowedReplySurvivesReload();
    void secondClientReplacesFirst();
    void connectCycles();
    void garbageLeavesServerAnswering();
    void floodIsThrottled();
    void clientLeavesMidReply();
};

void TstRemote::listensOnLoopbackOnly()
{
    SymbolServer srv;
    QVERIFY(srv.listen(0));
    QVERIFY(srv.isListening());
    QCOMPARE(srv.serverAddress(), QHostAddress(QHostAddress::LocalHost));
    QVERIFY(srv.serverPort() != 0);
}

void TstRemote::portTaken()
{
    SymbolServer a, b;
    QVERIFY(a.listen(0));
    QVERIFY(!b.listen(a.serverPort()));
    QVERIFY(!b.errorString().isEmpty());
    QVERIFY(!b.isListening());
}

void TstRemote::threeRepliesOnConnect_data()
{
    QTest::addColumn<bool>("newState");
    QTest::addColumn<quint64>("n");
    QTest::addColumn<double>("clock");
    QTest::newRow("nothing loaded") << false << quint64(0) << 1e8;
    QTest::newRow("after a load") << true << quint64(8000) << 2.5e6;
    // Counts above 2^24 are rounded on the wire; the float is what goes out.
    QTest::newRow("large count") << true << quint64(50000001) << 61.44e6;
}

void TstRemote::threeRepliesOnConnect()
{
    QFETCH(bool, newState);
    QFETCH(quint64, n);
    QFETCH(double, clock);
    Host h;
    h.st = ServeState{newState, newState, n, clock, 1};
    SymbolServer srv;
    h.attach(srv);
    QSignalSpy conn(&srv, &SymbolServer::clientConnected);
    QVERIFY(srv.listen(0));
    Client c(srv.serverPort());
    QByteArray want = value(3, newState ? 1.0f : 0.0f) + value(1, float(n)) + value(0, float(clock));
    QCOMPARE(c.take(24), want);
    QCOMPARE(conn.count(), 1);
    QVERIFY(srv.hasClient());
    // No symbols on connect, even with the flag set: the next bytes answer
    // the next request.
    c.send("GetSymbolRate");
    QCOMPARE(c.take(8), value(0, float(clock)));
    QCOMPARE(h.snapshots, 0);
}

void TstRemote::requests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("newState");
    QTest::addColumn<int>("connectTo");
    QTest::addColumn<QString>("reply");   // sequence of reply tags
    const char* ns = "GetNewState";
    QTest::newRow("server id") << QByteArray("GetServerID") << true << 1 << "I";
    QTest::newRow("server id with line end") << QByteArray("GetServerID\r\n") << true << 1 << "I";
    QTest::newRow("sequence length") << QByteArray("GetSequenceLength") << true << 1 << "L";
    QTest::newRow("symbol rate, not symbols") << QByteArray("GetSymbolRate") << true << 1 << "R";
    QTest::newRow("symbols") << QByteArray("GetSymbol") << true << 1 << "S";
    QTest::newRow("symbols, other tail") << QByteArray("GetSymbols\n") << true << 1 << "S";
    QTest::newRow("symbols, tail near Rate") << QByteArray("GetSymbolRat") << true << 1 << "S";
    QTest::newRow("new state clear") << QByteArray(ns) << false << 1 << "N";
    QTest::newRow("new state clear, index 0") << QByteArray(ns) << false << 0 << "N";
    QTest::newRow("new state set, index 0") << QByteArray(ns) << true << 0 << "NRL";
    QTest::newRow("new state set, index 1") << QByteArray(ns) << true << 1 << "NRLS";
    QTest::newRow("lowercase id") << QByteArray("getserverid") << true << 1 << "";
    QTest::newRow("upper case symbol") << QByteArray("GETSYMBOL") << true << 1 << "";
    QTest::newRow("keyword cut short") << QByteArray("GetSymbo") << true << 1 << "";
    QTest::newRow("unknown") << QByteArray("Hello") << true << 1 << "";
    QTest::newRow("empty line") << QByteArray("\n") << true << 1 << "";
}

void TstRemote::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, newState);
    QFETCH(int, connectTo);
    QFETCH(QString, reply);
    Host h;
    h.load(1000, 3.84e6);
    h.st.newState = newState;
    h.st.connectTo = connectTo;
    SymbolServer srv;
    h.attach(srv);
    QVERIFY(srv.listen(0));
    Client c(srv.serverPort());
    QCOMPARE(c.take(24).size(), 24);

    c.send(request);
    QByteArray want;
    for (QChar t : reply) {
        switch (t.toLatin1()) {
        case 'I': want += serverId(); break;
        case 'L': want += value(1, 1000.0f); break;
        case 'R': want += value(0, 3.84e6f); break;
        case 'N': want += value(3, newState ? 1.0f : 0.0f); break;
        case 'S': want += symbols(h.i, h.q); break;
        }
    }
    // A request that is not answered leaves nothing in the stream: the
    // reply to a later request comes next. A cut keyword must not swallow
    // the next one either.
    c.send("GetSequenceLength");
    want += value(1, 1000.0f);
    QByteArray got = c.take(want.size());
    QCOMPARE(got.size(), want.size());
    QVERIFY(got == want);
    QCOMPARE(c.sock.bytesAvailable(), qint64(0));
}

void TstRemote::symbolPieces_data()
{
    QTest::addColumn<quint64>("n");
    QTest::addColumn<QList<qint64>>("pieces");
    QTest::newRow("1") << quint64(1) << QList<qint64>{12};
    QTest::newRow("7999") << quint64(7999) << QList<qint64>{63996};
    QTest::newRow("8000") << quint64(8000) << QList<qint64>{64000, 4};
    QTest::newRow("8001") << quint64(8001) << QList<qint64>{64000, 12};
    QTest::newRow("16000") << quint64(16000) << QList<qint64>{64000, 64000, 4};
    QTest::newRow("100000") << quint64(100000) << (QList<qint64>() << 64000 << 64000 << 64000 << 64000 << 64000
                                                                    << 64000 << 64000 << 64000 << 64000 << 64000
                                                                    << 64000 << 64000 << 32004);
}

void TstRemote::symbolPieces()
{
    QFETCH(quint64, n);
    QFETCH(QList<qint64>, pieces);
    Host h;
    h.load(n);
    SymbolServer srv;
    h.attach(srv);
    QSignalSpy spy(&srv, &SymbolServer::symbolPiece);
    QVERIFY(srv.listen(0));
    Client c(srv.serverPort());
    QCOMPARE(c.take(24).size(), 24);
    c.send("GetSymbol");
    QByteArray want = symbols(h.i, h.q);
    QCOMPARE(qint64(want.size()), qint64(4 + 8 * n));
    QByteArray got = c.take(want.size());
    QCOMPARE(got.size(), want.size());
    QVERIFY(got == want);
    QList<qint64> seen;
    for (const auto& args : spy)
        seen << args.at(0).toLongLong();
    QCOMPARE(seen, pieces);
}

void TstRemote::noSymbolsWithoutValidData()
{
    struct Row {
        const char* name;
        uint64_t n;
        bool valid;
    };
    for (Row r : {Row{"no samples", 0, true}, Row{"data not valid", 500, false}}) {
        Host h;
        h.load(r.n);
        h.st.dataValid = r.valid;
        SymbolServer srv;
        h.attach(srv);
        QVERIFY(srv.listen(0));
        Client c(srv.serverPort());
        QCOMPARE(c.take(24).size(), 24);
        // Index 1 with the flag set would carry symbols; here none go out.
        c.send("GetSymbol");
        c.send("GetNewState");
        QByteArray want = value(3, 1.0f) + value(0, 2.5e6f) + value(1, float(r.n));
        QVERIFY2(c.take(want.size()) == want, r.name);
        QCOMPARE(h.snapshots, 0);
    }
}

void TstRemote::requestsSplitAndJoined()
{
    Host h;
    h.load(10);
    SymbolServer srv;
    h.attach(srv);
    QVERIFY(srv.listen(0));
    Client c(srv.serverPort());
    QCOMPARE(c.take(24).size(), 24);
    // Several requests in one write are all answered, in order.
    c.send("GetSymbolRateGetServerIDxxGetSequenceLength");
    QByteArray want = value(0, 2.5e6f) + serverId() + value(1, 10.0f);
    QCOMPARE(c.take(want.size()), want);
    // A keyword split over two writes is still recognised.
    c.send("GetSeq");
    c.sock.flush();
    c.send("uenceLength");
    QCOMPARE(c.take(8), value(1, 10.0f));
}

void TstRemote::scannerKeepsCutKeyword()
{
    RequestScanner s;
    // One byte at a time, as a slow link might deliver it.
    const QByteArray stream = "xxGetSymbolRateGetNewStategetserveridGetSymbolGetSequenceLength";
    QList<Request> got;
    for (char ch : stream) {
        s.feed(QByteArray(1, ch));
        for (Request r; (r = s.next()) != Request::None;)
            got << r;
    }
    // "GetSymbol" is answered as soon as it is complete; fed byte by byte,
    // "GetSymbolRate" becomes "GetSymbol" + junk, which is why whole
    // requests are tested above.
    QCOMPARE(got, (QList<Request>{Request::Symbol, Request::NewState, Request::Symbol,
                                 Request::SequenceLength}));
    QVERIFY(s.pending() == 0);
    s.feed("GetServ");
    QCOMPARE(s.next(), Request::None);
    QCOMPARE(s.pending(), 7);
    s.feed("erIDGetNew");
    QCOMPARE(s.next(), Request::ServerID);
    QCOMPARE(s.next(), Request::None);
    QCOMPARE(s.pending(), 6);
    s.feed("X");
    QCOMPARE(s.next(), Request::None);
    QCOMPARE(s.pending(), 0);
}

void TstRemote::snapshotSurvivesReload()
{
    // A reply far larger than the socket buffers, so most of it is still
    // to be cut from the samples when the record changes under it.
    Host h;
    h.load(2000000);
    const QByteArray want = symbols(h.i, h.q);
    SymbolServer srv;
    h.attach(srv);
    QVERIFY(srv.listen(0));
    Client c(srv.serverPort(), 4096);
    QCOMPARE(c.take(24).size(), 24);
    c.send("GetSymbol");
    QVERIFY(waitFor([&] { return h.snapshots == 1; }));
    // Reload with other values, then free the arrays entirely.
    h.load(300);
    std::vector<float>().swap(h.i);
    std::vector<float>().swap(h.q);
    h.st.dataValid = false;
    c.sock.setReadBufferSize(0);
    QByteArray got = c.take(want.size(), 60000);
    QCOMPARE(got.size(), want.size());
    QVERIFY(got == want);
    c.send("GetSequenceLength");
    QCOMPARE(c.take(8), value(1, 300.0f));
}

void TstRemote::borrowedArraysOutliveTheirRecord()
{
    IQDatStr rec;
    QCOMPARE(MakeIQArr(&rec, 3), ST_OK);
    rec.N = 3;
    for (int k = 0; k < 3; ++k) {
        rec.I[k] = float(k);
        rec.Q[k] = float(10 + k);
    }
    const QByteArray want = le32(2) + lef(0) + lef(10) + lef(1) + lef(11) + lef(2) + lef(12);
    auto bytes = [](const SymbolData& d) {
        QByteArray b(int(d.replyBytes()), '\0');
        d.fill(0, reinterpret_cast<uint8_t*>(b.data()), size_t(b.size()));
        return b;
    };
    {
        // Released by its borrowers before the record lets go: the record
        // still owns and frees the arrays.
        SymbolData::Ptr a = SymbolData::borrow(rec);
        QCOMPARE(bytes(*a), want);
    }
    QCOMPARE(rec.I[2], 2.0f);
    SymbolData::Ptr a = SymbolData::borrow(rec);
    SymbolData::Ptr b = SymbolData::borrow(rec);
    FreeArr(&rec);   // the record lets go first: the borrowers keep the samples
    QVERIFY(!rec.I && !rec.Q);
    QCOMPARE(MakeIQArr(&rec, 3), ST_OK);
    std::fill(rec.I, rec.I + 3, -1.0f);
    std::fill(rec.Q, rec.Q + 3, -1.0f);
    a.reset();
    QCOMPARE(bytes(*b), want);
    b.reset();       // the last borrower frees them (the leak checker watches)
    FreeArr(&rec);
    rec.N = 0;
    QCOMPARE(SymbolData::borrow(rec)->n(), uint64_t(0));
}

void TstRemote::borrowedReplySurvivesReload()
{
    // As the window serves: every reply borrows the load record's arrays,
    // and the record is reloaded while a reply is still going out.
    IQDatStr rec;
    const uint64_t n = 1000000;
    QCOMPARE(MakeIQArr(&rec, n), ST_OK);
    rec.N = n;
    std::vector<float> i(n), q(n);
    for (uint64_t k = 0; k < n; ++k) {
        rec.I[k] = i[k] = float(k);
        rec.Q[k] = q[k] = -float(k);
    }
    SymbolServer srv;
    srv.setStateSource([&rec] { return ServeState{true, rec.N > 0, rec.N, 1e6, 1}; });
    srv.setSymbolSource([&rec] { return SymbolData::borrow(rec); });
    QVERIFY(srv.listen(0));
    Client c(srv.serverPort(), 4096);
    QCOMPARE(c.take(24).size(), 24);
    QSignalSpy pieces(&srv, &SymbolServer::symbolPiece);
    c.send("GetSymbol");
    QVERIFY(pieces.wait(10000));
    QVERIFY(srv.backlog() > 1000000);
    QCOMPARE(MakeIQArr(&rec, 10), ST_OK);   // what a load does first
    rec.N = 10;
    std::fill(rec.I, rec.I + 10, 7.0f);
    std::fill(rec.Q, rec.Q + 10, 7.0f);
    c.sock.setReadBufferSize(0);
    const QByteArray want = symbols(i, q);
    QByteArray got = c.take(want.size(), 60000);
    QCOMPARE(got.size(), want.size());
    QVERIFY(got == want);
    c.send("GetSymbol");
    QCOMPARE(c.take(84), symbols(std::vector<float>(10, 7.0f), std::vector<float>(10, 7.0f)));
    FreeArr(&rec);
}

void TstRemote::secondClientReplacesFirst()
{
    Host h;
    h.load(100);
    SymbolServer srv;
    h.attach(srv);
    QSignalSpy conn(&srv, &SymbolServer::clientConnected);
    QVERIFY(srv.listen(0));
    Client a(srv.serverPort());
    QCOMPARE(a.take(24).size(), 24);
    QSignalSpy aGone(&a.sock, &QTcpSocket::disconnected);
    Client b(srv.serverPort());
    QCOMPARE(b.take(24).size(), 24);
    // The earlier socket is closed, not left open and unread.
    QVERIFY(aGone.count() == 1 || aGone.wait(10000));
    b.send("GetServerID");
    QCOMPARE(b.take(100), serverId());
    QCOMPARE(conn.count(), 2);
    reapDeleted();
    QCOMPARE(sockets(srv), 1);
}

void TstRemote::connectCycles()
{
    Host h;
    h.load(16);
    SymbolServer srv;
    h.attach(srv);
    QSignalSpy gone(&srv, &SymbolServer::clientDisconnected);
    QVERIFY(srv.listen(0));
    for (int k = 0; k < 200; ++k) {
        Client c(srv.serverPort());
        QVERIFY(c.connected());
        if (k % 2)
            c.send("GetSymbol");   // leave with a reply under way
        QCOMPARE(c.take(24).size(), 24);
        c.sock.disconnectFromHost();
        QVERIFY(gone.count() == k + 1 || gone.wait(10000));
        QVERIFY(!srv.hasClient());
    }
    reapDeleted();
    QCOMPARE(sockets(srv), 0);
    Client c(srv.serverPort());
    QCOMPARE(c.take(24).size(), 24);
    c.send("GetServerID");
    QCOMPARE(c.take(100), serverId());
}

void TstRemote::garbageLeavesServerAnswering()
{
    Host h;
    h.load(64);
    SymbolServer srv;
    h.attach(srv);
    QVERIFY(srv.listen(0));
    Client c(srv.serverPort());
    QCOMPARE(c.take(24).size(), 24);
    QByteArray junk(1 << 20, '\0');
    auto* rng = QRandomGenerator::global();
    for (char& ch : junk)
        ch = char(rng->bounded(256));
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

void TstRemote::floodIsThrottled()
{
    Host h;
    h.load(1000);
    SymbolServer srv;
    h.attach(srv);
    QVERIFY(srv.listen(0));
    // A client that sends many requests and reads nothing for a while.
    Client c(srv.serverPort(), 4096);
    QCOMPARE(c.take(24).size(), 24);
    const int count = 3000;
    QByteArray flood;
    for (int k = 0; k < count; ++k)
        flood += "GetSymbol";
    qint64 peak = 0;
    connect(&srv, &SymbolServer::symbolPiece, this, [&] { peak = std::max(peak, srv.backlog()); });
    c.send(flood);
    // The server stops reading once its replies pile up.
    QVERIFY(waitFor([&] { return srv.backlog() >= (1 << 20); }));
    const QByteArray one = symbols(h.i, h.q);
    c.sock.setReadBufferSize(0);
    QByteArray got = c.take(qint64(one.size()) * count, 60000);
    QCOMPARE(got.size(), one.size() * count);
    for (int k = 0; k < count; ++k)
        QVERIFY(std::memcmp(got.constData() + qint64(k) * one.size(), one.constData(), size_t(one.size())) == 0);
    // Held back by the input gate: far below the 24 MB all replies take.
    QVERIFY2(peak < (6 << 20), qPrintable(QString::number(peak)));
    c.send("GetServerID");
    QCOMPARE(c.take(100), serverId());
}

void TstRemote::clientLeavesMidReply()
{
    Host h;
    h.load(3000000);
    SymbolServer srv;
    h.attach(srv);
    QSignalSpy gone(&srv, &SymbolServer::clientDisconnected);
    QVERIFY(srv.listen(0));
    {
        Client c(srv.serverPort(), 4096);
        QCOMPARE(c.take(24).size(), 24);
        c.send("GetSymbol");
        QVERIFY(waitFor([&] { return srv.backlog() > 0; }));
        c.take(100000);
        c.sock.abort();
    }
    QVERIFY(gone.count() == 1 || gone.wait(10000));
    QCOMPARE(srv.backlog(), qint64(0));
    Client c(srv.serverPort());
    QCOMPARE(c.take(24).size(), 24);
    c.send("GetSequenceLength");
    QCOMPARE(c.take(8), value(1, 3000000.0f));
}

QTEST_GUILESS_MAIN(TstRemote)
#include "tst_remote.moc"
