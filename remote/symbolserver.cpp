#include "symbolserver.h"

#include "formats/fileio.h"
#include "formats/iqdata.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

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
// A running symbols reply reports its progress at least this often, and
// when the client has kept it waiting this long: one queued call per piece
// would keep the event loop busy with nothing.
constexpr uint64_t kProgressStep = 4 << 20;
constexpr int kStallMs = 10;
// Bytes of a symbols reply made and handed to send() at a time. Fewer,
// larger sends wake the client less often: on loopback 2 MiB measured 0.85x
// a plain send() of ready-made bytes, 128000 bytes 0.6x; larger pieces no
// longer fit the cache they are made in. The stream is the same.
constexpr size_t kSendBytes = size_t(2) << 20;

#ifdef MSG_NOSIGNAL
constexpr int kNoSignal = MSG_NOSIGNAL;
#else
constexpr int kNoSignal = 0;   // SO_NOSIGPIPE is set on the socket instead
#endif

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
    const uint64_t n = rec->I && rec->Q ? rec->N : 0;
    std::shared_ptr<void> block = n ? AllocBig(size_t(4 + 8 * n)) : nullptr;
    if (!block) {
        // No room for the reply beside the arrays: served from the arrays.
        Ptr d = share(*rec);
        FreeArr(rec);
        return d;
    }
    auto* out = static_cast<uint8_t*>(block.get());
    io::put32(out, uint32_t(MSG_SYMBOLS));
    // Pages of the arrays already turned into the reply go back at once
    // when nobody else holds them, so the two forms never take twice the
    // memory. What MADV_DONTNEED drops reads as zeros, and the arrays are
    // freed right after.
    const bool sole = rec->Keep.use_count() == 1;
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    auto release = [page](const float* from, uint64_t count) {
        const uintptr_t a = (reinterpret_cast<uintptr_t>(from) + page - 1) / page * page;
        const uintptr_t b = reinterpret_cast<uintptr_t>(from + count) / page * page;
        if (b > a)
            madvise(reinterpret_cast<void*>(a), size_t(b - a), MADV_DONTNEED);
    };
    constexpr uint64_t kStep = uint64_t(1) << 20;
    for (uint64_t i = 0; i < n; i += kStep) {
        const uint64_t k = std::min(kStep, n - i);
        PutPairsLE(rec->I + i, rec->Q + i, k, out + 4 + 8 * i);
        if (sole) {
            release(rec->I + i, k);
            release(rec->Q + i, k);
        }
    }
    FreeArr(rec);
    auto d = std::make_shared<SymbolData>();
    d->reply_ = out;
    d->n_ = n;
    d->keep_ = std::move(block);
    return d;
}

void SymbolData::fill(uint64_t offset, uint8_t* out, size_t len) const
{
    if (reply_) {
        std::memcpy(out, reply_ + offset, len);
        return;
    }
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

namespace {

// The pieces of a reply made from separate I and Q arrays, made on a thread
// of their own a few pieces ahead of the sending. The sending thread carries
// the kernel's work for both ends of a loopback connection; with the
// interleaving moved off it, such a reply goes out about as fast as one held
// whole (0.75x a plain send() of ready-made bytes when one thread did both).
class PieceMaker {
public:
    PieceMaker(const SymbolData& data, uint64_t total) : data_(data), total_(total)
    {
        buf_[0].resize(size_t(std::min<uint64_t>(kSendBytes, total)));
        // A reply of one piece is not worth a thread; without one (none to
        // be had), take() makes every piece in the first buffer.
        if (total > kSendBytes) {
            for (auto& b : buf_)
                b.resize(kSendBytes);
            try {
                thread_ = std::thread([this] { run(); });
            } catch (const std::system_error&) {
            }
        }
    }
    ~PieceMaker()
    {
        {
            std::lock_guard<std::mutex> g(m_);
            stop_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }
    // Piece k (bytes from k * kSendBytes), once made.
    const uint8_t* take(uint64_t k)
    {
        if (!thread_.joinable()) {
            make(k, buf_[0].data());
            return buf_[0].data();
        }
        std::unique_lock<std::mutex> g(m_);
        cv_.wait(g, [&] { return made_ > k; });
        return buf_[k % kDepth].data();
    }
    // Piece k has gone out; its buffer may take another.
    void sent(uint64_t k)
    {
        {
            std::lock_guard<std::mutex> g(m_);
            sent_ = k + 1;
        }
        cv_.notify_all();
    }

private:
    static constexpr uint64_t kDepth = 4;
    void make(uint64_t k, uint8_t* out) const
    {
        const uint64_t off = k * kSendBytes;
        data_.fill(off, out, size_t(std::min<uint64_t>(kSendBytes, total_ - off)));
    }
    void run()
    {
        for (uint64_t k = 0; k * kSendBytes < total_; ++k) {
            {
                std::unique_lock<std::mutex> g(m_);
                cv_.wait(g, [&] { return stop_ || k - sent_ < kDepth; });
                if (stop_)
                    return;
            }
            make(k, buf_[k % kDepth].data());
            {
                std::lock_guard<std::mutex> g(m_);
                made_ = k + 1;
            }
            cv_.notify_all();
        }
    }

    const SymbolData& data_;
    const uint64_t total_;
    std::vector<uint8_t> buf_[kDepth];
    std::mutex m_;
    std::condition_variable cv_;
    uint64_t made_ = 0, sent_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace

// One symbols reply on its way: a thread that writes it to its own duplicate
// of the client's descriptor, so Qt closing the socket (peer gone) can never
// leave it writing to a recycled descriptor number. The event loop does not
// write to the socket meanwhile; replies made then queue behind this one.
// A socket pair links the two: a byte from the event loop cancels, a byte
// from the thread says there is news (progress or the end).
struct SymbolServer::Sender {
    enum State { Running, Done, Failed, Cancelled };

    uint64_t generation = 0;
    SymbolData::Ptr data;
    uint64_t total = 0;
    int fd = -1;
    int link[2] = {-1, -1};              // [0] the event loop's end, [1] the thread's
    QSocketNotifier* news = nullptr;
    std::atomic<uint64_t> sent{0};
    std::atomic<int> state{Running};
    std::atomic<bool> cancel{false};
    std::atomic<bool> posted{false};     // news not yet taken by the event loop
    uint64_t reported = 0;               // event-loop side only
    std::thread thread;

    ~Sender()
    {
        if (news) {
            // It may be the one whose signal is being handled.
            news->setEnabled(false);
            news->deleteLater();
        }
        for (int f : {fd, link[0], link[1]})
            if (f >= 0)
                ::close(f);
    }

    void tell()
    {
        const char c = 0;
        while (::send(link[1], &c, 1, kNoSignal) < 0 && errno == EINTR) {
        }
    }

    // Runs on the thread: a reply held whole goes out straight from memory,
    // any other in pieces made alongside.
    State run()
    {
        const uint8_t* whole = data->reply();
        std::unique_ptr<PieceMaker> maker = whole ? nullptr : std::make_unique<PieceMaker>(*data, total);
        uint64_t told = 0;
        auto progress = [&](bool now) {
            const uint64_t s = sent.load();
            if ((now || s - told >= kProgressStep) && !posted.exchange(true)) {
                told = s;
                tell();
            }
        };
        for (uint64_t off = 0, k = 0; off < total; off += kSendBytes, ++k) {
            const size_t len = size_t(std::min<uint64_t>(kSendBytes, total - off));
            const uint8_t* piece = whole ? whole + off : maker->take(k);
            for (size_t p = 0; p < len;) {
                if (cancel.load())
                    return Cancelled;
                const ssize_t w = ::send(fd, piece + p, len - p, kNoSignal | MSG_DONTWAIT);
                if (w > 0) {
                    p += size_t(w);
                    sent += uint64_t(w);
                    progress(false);
                    continue;
                }
                if (w < 0 && errno == EINTR)
                    continue;
                if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    return Failed;
                // A full socket buffer is normal at full speed; only a client
                // that keeps us waiting is told about (and woken for).
                pollfd fds[2] = {{fd, POLLOUT, 0}, {link[1], POLLIN, 0}};
                int ready = ::poll(fds, 2, kStallMs);
                if (ready == 0) {
                    progress(true);
                    ready = ::poll(fds, 2, -1);
                }
                if (ready < 0 && errno != EINTR)
                    return Failed;
                if (fds[1].revents)
                    return Cancelled;
                // An error or hang-up on the socket shows in the next send().
            }
            if (maker)
                maker->sent(k);
        }
        return Done;
    }
};

SymbolServer::SymbolServer(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<Request>("Request");
    server_ = new QTcpServer(this);
    connect(server_, &QTcpServer::newConnection, this, &SymbolServer::new_connection);
}

SymbolServer::~SymbolServer()
{
    // The thread goes before the socket, our child, is deleted; then only
    // the socket's signals must not reach a half destroyed server.
    stopSender();
    if (client_)
        client_->disconnect(this);
}

bool SymbolServer::listen(quint16 port)
{
    // A client of the old port is not served from the new one.
    if (server_->isListening() && (port == 0 || port != server_->serverPort()))
        dropClient();
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
#if !defined(MSG_NOSIGNAL) && defined(SO_NOSIGPIPE)
        // The sending thread writes to the descriptor itself: a client gone away
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
    stopSender();
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
    if (sender_)
        b -= qint64(sender_->sent.load());
    return b;
}

void SymbolServer::pump()
{
    if (pumping_ || sender_ || !client_)
        return;
    pumping_ = true;
    QTcpSocket* s = client_;
    while (s == client_ && !sender_ && !jobs_.empty() && s->bytesToWrite() < kHighWater) {
        const Job& j = jobs_.front();
        if (!j.data) {
            s->write(j.bytes);
            jobs_.pop_front();
            continue;
        }
        // The thread writes to the descriptor itself, so what Qt holds goes
        // first; if the kernel cannot take it all now, bytesWritten brings
        // us back.
        if (s->bytesToWrite() > 0 && (s->flush(), s->bytesToWrite() > 0))
            break;
        startSender(j);
    }
    pumping_ = false;
    readHeldBack();
}

// Requests held back while the backlog was high.
void SymbolServer::readHeldBack()
{
    if (client_ && backlog() < kInputGate && (scanner_.pending() > 0 || client_->bytesAvailable() > 0))
        read_connection();
}

void SymbolServer::startSender(const Job& j)
{
    auto w = std::make_unique<Sender>();
    w->generation = ++senderGeneration_;
    w->data = j.data;
    w->total = j.total;
    w->fd = ::fcntl(int(client_->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (w->fd < 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, w->link) != 0
        || ::fcntl(w->link[0], F_SETFL, O_NONBLOCK) != 0) {
        // Out of descriptors: the reply cannot go out, and a client left
        // waiting for it forever is worse than one that sees the end.
        dropClient();
        emit clientDisconnected();
        return;
    }
    for (int f : w->link)
        ::fcntl(f, F_SETFD, FD_CLOEXEC);
    w->news = new QSocketNotifier(w->link[0], QSocketNotifier::Read, this);
    const uint64_t gen = w->generation;
    connect(w->news, &QSocketNotifier::activated, this, [this, gen] { senderNews(gen); });
    sender_ = std::move(w);
    Sender* raw = sender_.get();
    raw->thread = std::thread([raw] {
        raw->state = raw->run();
        if (!raw->posted.exchange(true))
            raw->tell();
    });
}

void SymbolServer::senderNews(uint64_t generation)
{
    if (!sender_ || sender_->generation != generation)
        return;   // from a reply cancelled since
    Sender* w = sender_.get();
    char drain[64];
    while (::recv(w->link[0], drain, sizeof drain, 0) > 0) {
    }
    w->posted = false;   // before the reads: a later change sends news again
    const int state = w->state.load();
    const uint64_t sent = w->sent.load();
    if (sent > w->reported) {
        const qint64 bytes = qint64(sent - w->reported);
        w->reported = sent;
        emit symbolPiece(bytes);
        if (!sender_ || sender_->generation != generation)
            return;   // a slot dropped the client
    }
    if (state == Sender::Running) {
        readHeldBack();
        return;
    }
    stopSender();
    jobs_.pop_front();
    if (state == Sender::Failed) {
        // The client is gone; Qt may not have noticed yet.
        dropClient();
        emit clientDisconnected();
        return;
    }
    pump();
}

void SymbolServer::stopSender()
{
    if (!sender_)
        return;
    sender_->cancel = true;
    const char c = 0;
    while (::send(sender_->link[0], &c, 1, kNoSignal) < 0 && errno == EINTR) {
    }
    if (sender_->thread.joinable())
        sender_->thread.join();
    sender_.reset();
}
