// The symbol server against a real QTcpSocket client on the loopback address.
// Every wire-format fact is tested here; the window and command-line tests
// check only their glue.
#include "formats/iqdata.h"
#include "remote/symbolserver.h"
#include "remoteutil.h"

#include <QRandomGenerator>

#include <limits>
#include <memory>

using namespace remoteutil;

namespace {

// Reads until the server closes the connection: the bytes that came, or
// more than any reply when it stays open.
qint64 ends(Client& c)
{
    qint64 got = 0;
    c.sock.setReadBufferSize(0);
    return waitFor([&] { return got += c.sock.readAll().size(), c.sock.state() == QAbstractSocket::UnconnectedState; }, 60000)
        ? got : std::numeric_limits<qint64>::max();
}

// The window's side of the server: a load record in miniature (n samples,
// I = k + 0.25, Q = -k - 0.5), served on a port the system picks. Held
// whole, the samples are served as orvex-cli serve does: adopted once, as
// the reply itself.
struct Host {
    ServeState st;
    testutil::Vf i, q;
    int snapshots = 0;
    SymbolServer srv;

    explicit Host(uint64_t n, double clock = 2.5e6, bool whole = false)
    {
        load(n, clock);
        srv.setStateSource([this] { return st; });
        if (whole) {
            IQDatStr rec;
            if (MakeIQArr(&rec, n) == ST_OK) {
                std::copy(i.begin(), i.end(), rec.I);
                std::copy(q.begin(), q.end(), rec.Q);
                rec.N = n;
            }
            SymbolData::Ptr d = SymbolData::adopt(&rec);
            srv.setSymbolSource([this, d] { return ++snapshots, d; });
        } else {
            srv.setSymbolSource([this] { return ++snapshots, SymbolData::copyOf(i.data(), q.data(), i.size()); });
        }
        srv.listen(0);
    }
    void load(uint64_t n, double clock = 2.5e6)
    {
        i.resize(n);
        q.resize(n);
        for (uint64_t k = 0; k < n; ++k)
            i[k] = float(k) + 0.25f, q[k] = -float(k) - 0.5f;
        st = ServeState{true, true, n, clock, 1};
    }
    quint16 port() const { return srv.serverPort(); }
    QByteArray symbols() const { return remoteutil::symbols(i, q); }
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
        QVERIFY(a.listen(0) && a.serverAddress() == QHostAddress(QHostAddress::LocalHost) && a.serverPort() != 0);
        QVERIFY(!b.listen(a.serverPort()) && !b.errorString().isEmpty() && !b.isListening());
    }

    // Replies by tag: I server id, L sequence length, R symbol rate, N new
    // state, S symbols. A request that is not answered leaves nothing in the
    // stream, a cut keyword does not swallow the next one, and samples are
    // only taken for a reply that carries them.
    void requests()
    {
        const QByteArray ns = "GetNewState", sym = "GetSymbol";
        const struct { const char* name; QByteArray request; bool newState; int connectTo; const char* data, *reply; } rows[] = {
            {"server id", "GetServerID", true, 1, "valid", "I"},
            {"server id with line end", "GetServerID\r\n", true, 1, "valid", "I"},
            {"sequence length", "GetSequenceLength", true, 1, "valid", "L"},
            {"symbol rate, not symbols", "GetSymbolRate", true, 1, "valid", "R"},
            {"symbols", sym, true, 1, "valid", "S"},
            {"symbols, other tail", "GetSymbols\n", true, 1, "valid", "S"},
            {"symbols, tail near Rate", "GetSymbolRat", true, 1, "valid", "S"},
            {"symbols, data not valid", sym, true, 1, "not valid", ""},
            {"symbols, no samples", sym, true, 1, "none", ""},
            {"new state clear", ns, false, 1, "valid", "N"},
            {"new state set, index 0", ns, true, 0, "valid", "NRL"},
            {"new state set, index 1", ns, true, 1, "valid", "NRLS"},
            {"new state set, data not valid", ns, true, 1, "not valid", "NRL"},
            {"new state set, no samples", ns, true, 1, "none", "NRL"},
            {"lowercase id", "getserverid", true, 1, "valid", ""},
            {"keyword cut short", "GetSymbo", true, 1, "valid", ""},
            {"unknown", "Hello\n", true, 1, "valid", ""}};

        for (const auto& row : rows) {
            Host h(QString(row.data) == "none" ? 0 : 1000, 3.84e6);
            h.st.newState = row.newState;
            h.st.connectTo = row.connectTo;
            h.st.dataValid = QString(row.data) != "not valid";
            Greeted c(h.port());
            QByteArray want;
            for (const char* t = row.reply; *t; ++t)
                want += *t == 'I' ? serverId() : *t == 'L' ? value(1, float(h.st.n)) : *t == 'R' ? value(0, 3.84e6f)
                      : *t == 'N' ? value(3, row.newState ? 1.0f : 0.0f) : h.symbols();
            QVERIFY2(c.ok && c.asks(row.request + "GetSequenceLength", want + value(1, float(h.st.n))), row.name);
            QVERIFY2(c.sock.bytesAvailable() == 0 && h.snapshots == int(QByteArray(row.reply).count('S')), row.name);
        }
    }

    // Replies made from the arrays and held whole, of sizes around the
    // 2 MiB send (262143.5 samples with the type), the progress step
    // (4 MiB) and the four pieces made ahead: every byte arrives, a reply
    // made meanwhile follows it unmixed, and the progress reported adds up.
    void symbolPieces()
    {
        for (uint64_t n : {0, 1, 262143, 262144, 524287, 524288, 524289, 1048576, 1310721})
        for (bool whole : {false, true}) {
            Host h(n, 2.5e6, whole);
            QSignalSpy spy(&h.srv, &SymbolServer::symbolPiece);
            Greeted c(h.port());
            const QByteArray want = n ? h.symbols() : QByteArray();
            QVERIFY2(c.ok && c.asks("GetSymbolGetServerID", want + serverId(), 30000),
                     qPrintable(QStringLiteral("%1 %2").arg(n).arg(whole ? "whole" : "made")));
            qint64 seen = 0;
            QVERIFY(waitFor([&] {
                for (; !spy.isEmpty(); spy.removeFirst())
                    seen += spy.first().at(0).toLongLong();
                return seen == want.size();
            }));
        }
    }

    // Several requests in one write are all answered, in order; a keyword
    // cut anywhere, even into single bytes, is kept until it is complete.
    void requestsSplitAndJoined()
    {
        Host h(10);
        Greeted c(h.port());
        QVERIFY(c.ok && c.asks("GetSymbolRateGetServerIDxxGetSequenceLength", value(0, 2.5e6f) + serverId() + value(1, 10.0f)));
        RequestScanner s;
        // Fed byte by byte, "GetSymbolRate" becomes "GetSymbol" + junk: the
        // symbols are answered as soon as their keyword is complete.
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
        QVERIFY(s.next() == Request::ServerID && s.next() == Request::None && s.pending() == 6);
        s.feed("X");
        QVERIFY(s.next() == Request::None && s.pending() == 0);
    }

    // A reply far larger than the socket buffers, so most of it is still to
    // be cut from the samples when the record is reloaded and then freed.
    void snapshotSurvivesReload()
    {
        Host h(2000000);
        const QByteArray want = h.symbols();
        Greeted c(h.port(), 4096);
        c.send("GetSymbol");
        QVERIFY(c.ok && waitFor([&] { return h.snapshots == 1; }));
        h.load(300);
        testutil::Vf().swap(h.i);
        testutil::Vf().swap(h.q);
        h.st.dataValid = false;
        c.sock.setReadBufferSize(0);
        QVERIFY(c.take(want.size(), 60000) == want && c.asks("GetSequenceLength", value(1, 300.0f)));
    }

    // Clients come and go, some with a reply under way; 1 MB of junk with
    // near-keywords and binary zeros leaves the server answering.
    void connectCyclesAndGarbage()
    {
        Host h(64);
        QSignalSpy gone(&h.srv, &SymbolServer::clientDisconnected);
        for (int k = 0; k < 200; ++k) {
            Client c(h.port());
            QVERIFY(c.connected());
            if (k % 2)
                c.send("GetSymbol");
            QVERIFY(c.greeted());
            c.sock.disconnectFromHost();
            QVERIFY((gone.count() == k + 1 || gone.wait(10000)) && !h.srv.hasClient());
        }
        QCOMPARE(h.sockets(), 0);
        QByteArray junk(1 << 20, '\0');
        for (char& ch : junk)
            ch = char(QRandomGenerator::global()->bounded(256));
        junk.replace('G', 'g');   // no accidental keyword
        for (const char* near : {"Get", "GETSERVERID", "GetSym", "GetNew", "\0\0\0", "GetSequence"})
            junk += QByteArray(near) + "!";
        Greeted c(h.port());
        QVERIFY(c.ok && c.asks(junk + "GetServerID", serverId(), 30000));
        QVERIFY(c.asks(QByteArray(5000, '\0') + "GetSymbolRate", value(0, 2.5e6f)));
    }

    // A client that sends many requests and reads nothing for a while: the
    // server stops reading once its replies pile up, held back far below the
    // 24 MB all replies take, and answers everything in the end.
    void floodIsThrottled()
    {
        Host h(1000);
        Greeted c(h.port(), 4096);
        const int count = 3000;
        qint64 peak = 0;
        connect(&h.srv, &SymbolServer::symbolPiece, this, [&] { peak = std::max(peak, h.srv.backlog()); });
        c.send(QByteArray("GetSymbol").repeated(count));
        QVERIFY(c.ok && waitFor([&] { return h.srv.backlog() >= (1 << 20); }));
        c.sock.setReadBufferSize(0);
        QVERIFY(c.take(qint64(h.symbols().size()) * count, 60000) == h.symbols().repeated(count));
        QVERIFY2(peak < (6 << 20), qPrintable(QString::number(peak)));
        QVERIFY(c.asks("GetServerID", serverId()));
    }

    // A client that leaves in the middle of a reply leaves no backlog; a
    // second client replaces the first in the middle of its reply, which
    // ends at once, and is served whole.
    void clientsLeaveAndReplace()
    {
        Host h(3000000);
        QSignalSpy gone(&h.srv, &SymbolServer::clientDisconnected), conn(&h.srv, &SymbolServer::clientConnected);
        {
            Greeted c(h.port(), 4096);
            c.send("GetSymbol");
            QVERIFY(c.ok && waitFor([&] { return h.srv.backlog() > 0; }));
            c.take(100000);
            c.sock.abort();
        }
        QVERIFY((gone.count() == 1 || gone.wait(10000)) && h.srv.backlog() == 0);
        Greeted a(h.port(), 4096);
        QSignalSpy pieces(&h.srv, &SymbolServer::symbolPiece);
        a.send("GetSymbol");
        QVERIFY(a.ok && pieces.wait(10000));
        Greeted b(h.port());
        QVERIFY(b.ok && ends(a) < h.symbols().size());
        QVERIFY(b.asks("GetSymbolGetSequenceLength", h.symbols() + value(1, 3000000.0f), 60000));
        QVERIFY(conn.count() == 3 && h.sockets() == 1);
    }

    // The server destroyed, closed or moved to another port in the middle
    // of a reply: the client sees the end, nothing hangs, and after a move
    // the new port serves whole replies.
    void stopDuringReply()
    {
        for (const char* how : {"destroyed", "closed", "port changed"}) {
            auto h = std::make_unique<Host>(3000000);
            Greeted c(h->port(), 4096);
            QSignalSpy pieces(&h->srv, &SymbolServer::symbolPiece);
            c.send("GetSymbol");
            QVERIFY2(c.ok && pieces.wait(10000), how);
            if (QByteArray(how) == "destroyed")
                h.reset();
            else if (QByteArray(how) == "closed")
                h->srv.close();
            else
                QVERIFY(h->srv.listen(0) && h->port() != c.sock.peerPort());
            QVERIFY2(ends(c) < 24000004, how);
            if (h && h->srv.isListening()) {
                Greeted d(h->port());
                QVERIFY2(d.ok && d.asks("GetSymbol", h->symbols(), 60000), how);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstRemote)
#include "tst_remote.moc"
