#include "symbolserver.h"

#include "formats/fileio.h"
#include "formats/iqdata.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/types.h>
#endif

namespace {

struct Keyword {
    const char* text;
    int len;
    Request req;
};

// Tested in this order: "GetSymbolRate" would otherwise be read as
// "GetSymbol" followed by junk.
const Keyword kKeywords[] = {
    {"GetServerID", 11, Request::ServerID},
    {"GetNewState", 11, Request::NewState},
    {"GetSequenceLength", 17, Request::SequenceLength},
    {"GetSymbolRate", 13, Request::SymbolRate},
    {"GetSymbol", 9, Request::Symbol},
};

// Replies are handed to the socket while fewer bytes than this wait in its
// buffer: enough to keep the loopback link busy between two event-loop
// turns, small enough that a client that stops reading costs little memory.
constexpr qint64 kHighWater = 4 << 20;
// Requests are only read while less than this is waiting to go out, so a
// client that floods requests without reading replies is slowed down by
// TCP itself instead of growing our queue.
constexpr qint64 kInputGate = 1 << 20;
// Bytes Qt may read ahead from the kernel for us.
constexpr qint64 kReadBuffer = 64 << 10;
// Upper bound of bytes queued in one pump call, so the event loop keeps
// turning while the kernel takes data as fast as we make it.
constexpr qint64 kPumpSlice = 4 << 20;

} // namespace

QByteArray ValueReply(SERVER_MESSAGE_HEADER_TYPE type, float value)
{
    QByteArray b(8, '\0');
    auto* p = reinterpret_cast<uint8_t*>(b.data());
    io::put32(p, uint32_t(int32_t(type)));
    io::putf32(p + 4, value);
    return b;
}

QByteArray ServerIdReply()
{
    QByteArray b(kServerIdBytes, '\0');
    io::put32(reinterpret_cast<uint8_t*>(b.data()), uint32_t(MSG_SERVERID));
    std::memcpy(b.data() + 4, "Orvex", 5);
    return b;
}

// --- RequestScanner --------------------------------------------------------

void RequestScanner::feed(const QByteArray& bytes)
{
    if (pos_ > 0) {
        buf_.remove(0, pos_);
        pos_ = 0;
    }
    buf_.append(bytes);
}

Request RequestScanner::next()
{
    const int size = buf_.size();
    while (pos_ < size) {
        const char* at = buf_.constData() + pos_;
        const int avail = size - pos_;
        bool partial = false;
        for (const Keyword& k : kKeywords) {
            if (avail >= k.len) {
                if (std::memcmp(at, k.text, size_t(k.len)) == 0) {
                    pos_ += k.len;
                    return k.req;
                }
            } else if (std::memcmp(at, k.text, size_t(avail)) == 0) {
                partial = true;
            }
        }
        if (partial)
            break;   // wait for the rest of the keyword
        int g = buf_.indexOf('G', pos_ + 1);
        pos_ = g < 0 ? size : g;
    }
    if (pos_ == size) {
        buf_.clear();
        pos_ = 0;
    }
    return Request::None;
}

void RequestScanner::clear()
{
    buf_.clear();
    pos_ = 0;
}

// --- SymbolData -------------------------------------------------------------

SymbolData::Ptr SymbolData::copyOf(const float* i, const float* q, uint64_t n)
{
    IQDatStr copy;
    if (n == 0 || !i || !q)
        return share(copy);
    if (MakeIQArr(&copy, n) != ST_OK)
        return nullptr;
    std::memcpy(copy.I, i, n * sizeof(float));
    std::memcpy(copy.Q, q, n * sizeof(float));
    copy.N = n;
    return share(copy);
}

SymbolData::Ptr SymbolData::share(const IQDatStr& rec)
{
    auto d = std::make_shared<SymbolData>();
    if (rec.I && rec.Q && rec.N) {
        // Arrays nobody owns (a view into other storage) cannot be shared.
        if (!rec.Keep)
            return copyOf(rec.I, rec.Q, rec.N);
        d->keep_ = rec.Keep;
        d->i_ = rec.I;
        d->q_ = rec.Q;
        d->n_ = rec.N;
    }
    return d;
}

SymbolData::Ptr SymbolData::adopt(IQDatStr* rec)
{
    Ptr d = share(*rec);
    FreeArr(rec);
    return d;
}

void SymbolData::fill(uint64_t offset, uint8_t* out, size_t len) const
{
    // The 4-byte type shifts every sample off the 8-byte grid, so a piece
    // may start or end in the middle of a sample.
    uint8_t head[4];
    io::put32(head, uint32_t(MSG_SYMBOLS));
    while (len > 0 && offset < 4) {
        *out++ = head[offset++];
        --len;
    }
    uint64_t k = (offset - 4) / 8;
    size_t within = size_t((offset - 4) % 8);
    const float* pi = i_;
    const float* pq = q_;
    if (within && len) {
        uint8_t pair[8];
        io::putf32(pair, pi[k]);
        io::putf32(pair + 4, pq[k]);
        size_t take = std::min(len, 8 - within);
        std::memcpy(out, pair + within, take);
        out += take;
        len -= take;
        ++k;
    }
    const size_t pairs = len / 8;
    PutPairsLE(pi + k, pq + k, pairs, out);
    k += pairs;
    out += 8 * pairs;
    len -= 8 * pairs;
    if (len) {
        uint8_t pair[8];
        io::putf32(pair, pi[k]);
        io::putf32(pair + 4, pq[k]);
        std::memcpy(out, pair, len);
    }
}

// --- SymbolServer -----------------------------------------------------------

SymbolServer::SymbolServer(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<Request>("Request");
    server_ = new QTcpServer(this);
    connect(server_, &QTcpServer::newConnection, this, &SymbolServer::new_connection);
}

SymbolServer::~SymbolServer()
{
    // The socket is our child; only its signals must not reach a half
    // destroyed server.
    if (client_)
        client_->disconnect(this);
}

bool SymbolServer::listen(quint16 port)
{
    server_->close();
    return server_->listen(QHostAddress::LocalHost, port);
}

void SymbolServer::close()
{
    server_->close();
    dropClient();
}

bool SymbolServer::isListening() const { return server_->isListening(); }
quint16 SymbolServer::serverPort() const { return server_->serverPort(); }
QHostAddress SymbolServer::serverAddress() const { return server_->serverAddress(); }
QString SymbolServer::errorString() const { return server_->errorString(); }

ServeState SymbolServer::state() const
{
    return state_ ? state_() : ServeState{};
}

void SymbolServer::new_connection()
{
    while (QTcpSocket* s = server_->nextPendingConnection()) {
        // One client at a time: a newer connection replaces the earlier one,
        // which is closed and freed rather than left open and unread.
        dropClient();
        client_ = s;
        s->setReadBufferSize(kReadBuffer);
#if defined(Q_OS_UNIX) && !defined(MSG_NOSIGNAL) && defined(SO_NOSIGPIPE)
        // sendDirect writes to the descriptor itself: a client gone away
        // must end in an error, not in SIGPIPE.
        int one = 1;
        setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
        connect(s, &QTcpSocket::readyRead, this, &SymbolServer::read_connection);
        connect(s, &QTcpSocket::disconnected, this, &SymbolServer::disconnected);
        connect(s, &QTcpSocket::bytesWritten, this, &SymbolServer::pump);
    }
    if (!client_)
        return;
    const ServeState st = state();
    sendNewState();
    sendToWavesmith(MSG_SEQLENGTH, float(st.n));
    sendToWavesmith(MSG_SYMBOLRATE, float(st.clock));
    emit clientConnected();
}

void SymbolServer::read_connection()
{
    QTcpSocket* s = client_;
    while (s && s == client_ && backlog() < kInputGate) {
        Request r = scanner_.next();
        if (r == Request::None) {
            if (s->bytesAvailable() <= 0)
                break;
            scanner_.feed(s->read(4096));
            continue;
        }
        emit requestReceived(r);
        if (s != client_)
            break;   // a slot dropped or replaced the client
        answer(r);
    }
}

void SymbolServer::answer(Request r)
{
    switch (r) {
    case Request::ServerID:
        sendServerID();
        break;
    case Request::NewState: {
        const ServeState st = state();
        sendNewState();
        if (st.newState) {
            sendSymbolrate();
            sendSequenceLength();
            if (st.connectTo == 1)
                sendSymbols();
        }
        break;
    }
    case Request::SequenceLength:
        sendSequenceLength();
        break;
    case Request::SymbolRate:
        sendSymbolrate();
        break;
    case Request::Symbol:
        sendSymbols();
        break;
    case Request::None:
        break;
    }
}

void SymbolServer::disconnected()
{
    if (sender() != client_)
        return;
    dropClient();
    emit clientDisconnected();
}

void SymbolServer::dropClient()
{
    jobs_.clear();
    scanner_.clear();
    if (!client_)
        return;
    QTcpSocket* s = client_;
    client_ = nullptr;
    s->disconnect(this);
    s->abort();
    s->deleteLater();
}

void SymbolServer::queue(QByteArray bytes)
{
    if (!client_)
        return;
    if (jobs_.empty()) {
        client_->write(bytes);
        return;
    }
    Job j;
    j.total = uint64_t(bytes.size());
    j.bytes = std::move(bytes);
    jobs_.push_back(std::move(j));
}

void SymbolServer::sendToWavesmith(SERVER_MESSAGE_HEADER_TYPE type, float value)
{
    queue(ValueReply(type, value));
}

void SymbolServer::sendServerID()
{
    queue(ServerIdReply());
}

void SymbolServer::sendNewState()
{
    sendToWavesmith(MSG_NEWSTATE, state().newState ? 1.0f : 0.0f);
}

void SymbolServer::sendSymbolrate()
{
    sendToWavesmith(MSG_SYMBOLRATE, float(state().clock));
}

void SymbolServer::sendSequenceLength()
{
    sendToWavesmith(MSG_SEQLENGTH, float(state().n));
}

void SymbolServer::sendSymbols()
{
    if (!client_)
        return;
    const ServeState st = state();
    if (st.n == 0 || !st.dataValid || !data_)
        return;
    // The snapshot is taken now, so the samples match the sequence length
    // sent just before even if the record changes while the reply drains.
    SymbolData::Ptr d = data_();
    if (!d || d->n() == 0)
        return;
    Job j;
    j.data = std::move(d);
    j.total = j.data->replyBytes();
    jobs_.push_back(std::move(j));
    pump();
}

qint64 SymbolServer::backlog() const
{
    qint64 b = client_ ? client_->bytesToWrite() : 0;
    for (const Job& j : jobs_)
        b += qint64(j.total - j.offset);
    return b;
}

// Hands a piece straight to the kernel when Qt holds nothing unsent, which
// saves the copy into Qt's write buffer. Returns the bytes taken (0 when the
// kernel buffer is full), or -1 when the direct path is not available.
qint64 SymbolServer::sendDirect(const uint8_t* data, size_t len)
{
#ifdef Q_OS_UNIX
    const qintptr fd = client_->socketDescriptor();
    if (fd < 0 || client_->bytesToWrite() > 0)
        return -1;
#ifdef MSG_NOSIGNAL
    const int flags = MSG_NOSIGNAL;
#else
    const int flags = 0;
#endif
    for (;;) {
        ssize_t w = ::send(int(fd), data, len, flags);
        if (w >= 0)
            return qint64(w);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;   // let Qt meet the error and report the disconnection
    }
#else
    Q_UNUSED(data);
    Q_UNUSED(len);
    return -1;
#endif
}

void SymbolServer::pump()
{
    if (pumping_ || !client_)
        return;
    pumping_ = true;
    QTcpSocket* s = client_;
    qint64 made = 0;
    while (s == client_ && !jobs_.empty() && s->bytesToWrite() < kHighWater && made < kPumpSlice) {
        Job& j = jobs_.front();
        if (!j.data) {
            s->write(j.bytes);
            made += j.bytes.size();
            jobs_.pop_front();
            continue;
        }
        const size_t len = size_t(std::min<uint64_t>(kSymbolPiece, j.total - j.offset));
        piece_.resize(len);
        j.data->fill(j.offset, piece_.data(), len);
        qint64 sent = sendDirect(piece_.data(), len);
        if (sent < qint64(len)) {
            // The kernel is full (or the direct path is closed): Qt keeps the
            // rest and emits bytesWritten once it drained, which brings us back.
            const qint64 from = std::max<qint64>(sent, 0);
            s->write(reinterpret_cast<const char*>(piece_.data()) + from, qint64(len) - from);
        }
        j.offset += len;
        made += qint64(len);
        if (j.offset == j.total)
            jobs_.pop_front();
        emit symbolPiece(qint64(len));
        if (sent >= 0 && sent < qint64(len))
            break;
    }
    pumping_ = false;
    // Stopped by the slice limit with nothing left in Qt's buffer: no
    // bytesWritten will come, so continue on the next event-loop turn.
    if (s == client_ && !jobs_.empty() && s->bytesToWrite() == 0 && !repump_) {
        repump_ = true;
        QMetaObject::invokeMethod(this, [this] {
            repump_ = false;
            pump();
        }, Qt::QueuedConnection);
    }
    // Requests held back while the backlog was high.
    if (s == client_ && backlog() < kInputGate && (scanner_.pending() > 0 || s->bytesAvailable() > 0))
        read_connection();
}
