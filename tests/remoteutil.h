// Helpers for tests that talk to the symbol server over loopback: the
// expected wire bytes, built independently of the server's own code, and a
// client that waits on the event loop instead of sleeping.
#pragma once

#include "testutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace remoteutil {

using testutil::le;

inline QByteArray value(int32_t type, float v) { return le(uint32_t(type)) + le(io::bits32(v)); }

inline QByteArray symbols(const testutil::Vf& i, const testutil::Vf& q)
{
    QByteArray b = le(2);
    b.resize(int(4 + 8 * i.size()));
    char* p = b.data() + 4;
    for (size_t k = 0; k < i.size(); ++k)
        for (int j = 0; j < 4; ++j) {
            p[8 * k + j] = char(io::bits32(i[k]) >> (8 * j));
            p[8 * k + 4 + j] = char(io::bits32(q[k]) >> (8 * j));
        }
    return b;
}

inline QByteArray serverId() { return (le(4) + "Orvex").leftJustified(100, '\0'); }

// Runs the event loop until cond() holds or ms pass. Wakes on every event,
// so a condition is seen as soon as the event that makes it true is handled.
template <class Cond>
bool waitFor(Cond cond, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    QTimer tick;
    tick.start(20);
    while (!cond()) {
        if (t.elapsed() >= ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

class Client {
public:
    explicit Client(quint16 port, qint64 readBuffer = 0)
    {
        sock.setReadBufferSize(readBuffer);
        sock.connectToHost(QHostAddress::LocalHost, port);
    }
    bool connected()
    {
        return waitFor([&] { return sock.state() == QAbstractSocket::ConnectedState; });
    }
    void send(const QByteArray& b) { sock.write(b); }
    // Exactly n bytes, or fewer when they do not come in time.
    QByteArray take(qint64 n, int ms = 20000)
    {
        QByteArray out;
        out.reserve(int(n));
        // read(n) would reserve n bytes on every call, however few arrived.
        auto drain = [&] { out += sock.read(std::min(n - out.size(), sock.bytesAvailable())); };
        waitFor([&] {
            drain();
            return out.size() >= n || sock.state() == QAbstractSocket::UnconnectedState;
        }, ms);
        drain();
        return out;
    }
    // The three replies every connection starts with.
    bool greeted() { return take(24).size() == 24; }
    // Sends a request and takes as many bytes as the wanted reply has.
    bool asks(const QByteArray& request, const QByteArray& want, int ms = 20000)
    {
        send(request);
        return take(want.size(), ms) == want;
    }
    QTcpSocket sock;
};

// A client past its greeting.
struct Greeted : Client {
    bool ok;
    explicit Greeted(quint16 port, qint64 readBuffer = 0) : Client(port, readBuffer), ok(greeted()) {}
};

// A port nobody listens on right now, chosen by the system.
inline quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

} // namespace remoteutil
