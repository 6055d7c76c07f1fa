#include "sim/server.h"

#include "common/byteorder.h"
#include "common/fdio.h"

#include <vxi11.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace sim {

// ---------------------------------------------------------------- messages

bool MessageSplitter::feed(const uint8_t* p, size_t n, std::vector<std::string>* out)
{
    size_t k = 0;
    while (k < n) {
        if (state_ == State::Data) {
            size_t take = size_t(std::min<uint64_t>(length_, n - k));
            current_.append(reinterpret_cast<const char*>(p + k), take);
            k += take;
            length_ -= take;
            if (length_ == 0)
                state_ = State::Text;
            continue;
        }
        const char c = char(p[k++]);
        if (c == '\n') {
            current_ += c;
            out->push_back(std::move(current_));
            clear();
            continue;
        }
        if (++text_ > kMaxText)
            return false;
        current_ += c;
        switch (state_) {
        case State::Text:
            if (c == '\'' || c == '"') {
                quote_ = c;
                state_ = State::Quote;
            } else if (c == '#') {
                state_ = State::Hash;
            }
            break;
        case State::Quote:
            if (c == quote_)
                state_ = State::Text;
            break;
        case State::Hash:
            if (c >= '1' && c <= '9') {
                digits_ = c - '0';
                length_ = 0;
                state_ = State::Digits;
            } else {
                state_ = State::Text;
            }
            break;
        case State::Digits:
            if (c < '0' || c > '9') {
                state_ = State::Text; // not a block after all
                break;
            }
            length_ = length_ * 10 + uint64_t(c - '0');
            if (length_ > kMaxBlock)
                return false;
            if (--digits_ == 0)
                state_ = length_ ? State::Data : State::Text;
            break;
        case State::Data:
            break;
        }
    }
    return true;
}

void MessageSplitter::end(std::vector<std::string>* out)
{
    if (current_.empty()) // the write ended with its line feed
        return;
    out->push_back(std::move(current_));
    clear();
}

void MessageSplitter::clear()
{
    current_.clear();
    text_ = 0;
    state_ = State::Text;
    length_ = 0;
}

// ---------------------------------------------------------------- sockets

namespace {

constexpr int kMaxConnections = 64;
constexpr size_t kChunk = size_t(1) << 20;
std::atomic<int> liveConnections{0};

// Runs body(fd) on a detached thread for every accepted connection, within
// the connection limit.
template <typename Body>
void acceptLoop(int listener, Body body)
{
    std::thread([listener, body] {
        while (true) {
            int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE)
                    continue;
                return;
            }
            if (liveConnections.fetch_add(1) >= kMaxConnections) {
                liveConnections.fetch_sub(1);
                ::close(fd);
                continue;
            }
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::thread([fd, body] {
                body(fd);
                ::close(fd);
                liveConnections.fetch_sub(1);
            }).detach();
        }
    }).detach();
}

// Sends one reply; false when the connection is to be closed (dropped by
// the fault switch or broken by the peer).
bool sendReply(int fd, Reply r, const Faults& faults)
{
    ReplyQueue q;
    const uint64_t total = r.size();
    q.push(std::move(r));
    const bool drop = faults.dropAfter && total > faults.dropAfter;
    const uint64_t limit = drop ? faults.dropAfter : total;
    const size_t piece = faults.trickle ? std::min(faults.trickle, kChunk) : kChunk;
    std::vector<uint8_t> buf(size_t(std::min<uint64_t>(piece, total)));
    uint64_t sent = 0;
    while (sent < limit) {
        size_t n = q.peek(buf.data(), size_t(std::min<uint64_t>(buf.size(), limit - sent)));
        if (!fdio::sendAll(fd, buf.data(), n))
            return false;
        q.consume(n);
        sent += n;
    }
    return !drop;
}

} // namespace

int listenOn(int port, bool udp, int* bound)
{
    int fd = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || (!udp && ::listen(fd, 16) < 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) < 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    *bound = ntohs(a.sin_port);
    return fd;
}

void serveSocket(int listener, Instrument* instrument, const Faults& faults)
{
    acceptLoop(listener, [instrument, faults](int fd) {
        MessageSplitter splitter;
        std::vector<uint8_t> buf(65536);
        std::vector<std::string> messages;
        while (true) {
            ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            messages.clear();
            bool ok = splitter.feed(buf.data(), size_t(n), &messages);
            for (const std::string& m : messages)
                if (!sendReply(fd, instrument->execute(m), faults))
                    return;
            if (!ok)
                return;
        }
    });
}

// ---------------------------------------------------------------- ONC RPC

namespace {

constexpr uint32_t kPortmapProgram = 100000;
constexpr uint32_t kCoreProgram = DEVICE_CORE;
constexpr uint32_t kAbortProgram = DEVICE_ASYNC;
constexpr size_t kMaxRecvSize = size_t(1) << 20;      // announced to clients for device_write
constexpr size_t kMaxRecord = kMaxRecvSize + 4096;     // largest call record accepted
constexpr size_t kMaxRead = size_t(16) << 20;          // largest device_read answer
constexpr int kMaxLinks = 256;
// A client that writes queries and never reads cannot grow a link's output
// without bound: beyond these, further replies are discarded.
constexpr size_t kMaxQueuedReplies = 4096;
constexpr uint64_t kMaxQueuedText = uint64_t(64) << 20;

enum AcceptStat { Success = 0, ProgUnavail = 1, ProgMismatch = 2, ProcUnavail = 3, GarbageArgs = 4 };
enum VxiError { NoError = 0, InvalidLink = 4, OutOfResources = 9, NotSupported = 8, IoTimeout = 15, Aborted = 23 };

struct RpcCall {
    uint32_t xid = 0, prog = 0, vers = 0, proc = 0;
    const uint8_t* args = nullptr;
    size_t argLength = 0;
};

// Reply bytes, with room for the record mark in front (left out over UDP).
struct Out {
    std::vector<uint8_t> b = std::vector<uint8_t>(4);
    void u32(uint32_t v)
    {
        uint8_t w[4];
        io::putBe32(w, v);
        b.insert(b.end(), w, w + 4);
    }
    void opaque(const std::string& s)
    {
        u32(uint32_t(s.size()));
        b.insert(b.end(), s.begin(), s.end());
        b.resize(b.size() + (4 - s.size() % 4) % 4);
    }
    void header(uint32_t xid, AcceptStat stat)
    {
        for (uint32_t v : {xid, 1u, 0u, 0u, 0u, uint32_t(stat)})
            u32(v);
    }
    // Appends the XDR encoding of a result through an rpcgen routine.
    template <typename T>
    bool xdr(bool_t (*encode)(XDR*, T*), T* value)
    {
        size_t at = b.size();
        b.resize(at + 256);
        XDR x;
        xdrmem_create(&x, reinterpret_cast<char*>(b.data() + at), 256, XDR_ENCODE);
        bool ok = encode(&x, value);
        b.resize(ok ? at + xdr_getpos(&x) : at);
        xdr_destroy(&x);
        return ok;
    }
};

// One RPC record over TCP: fragments with a 4-byte mark, the last flagged;
// a record larger than any call we serve ends the connection.
bool readRecord(int fd, std::vector<uint8_t>* rec)
{
    rec->clear();
    while (true) {
        uint8_t mark[4];
        if (!fdio::recvAll(fd, mark, 4))
            return false;
        uint32_t h = io::be32(mark);
        size_t len = h & 0x7fffffffu;
        if (rec->size() + len > kMaxRecord)
            return false;
        size_t at = rec->size();
        rec->resize(at + len);
        if (!fdio::recvAll(fd, rec->data() + at, len))
            return false;
        if (h & 0x80000000u)
            return true;
    }
}

bool sendRecord(int fd, Out& out)
{
    io::putBe32(out.b.data(), 0x80000000u | uint32_t(out.b.size() - 4));
    return fdio::sendAll(fd, out.b.data(), out.b.size());
}

// Parses a call message; false when it is none (or malformed beyond reply).
bool parseCall(const uint8_t* p, size_t n, RpcCall* c, bool* badVersion)
{
    *badVersion = false;
    if (n < 24)
        return false;
    c->xid = io::be32(p);
    if (io::be32(p + 4) != 0) // not a CALL
        return false;
    if (io::be32(p + 8) != 2) {
        *badVersion = true;
        return true;
    }
    c->prog = io::be32(p + 12);
    c->vers = io::be32(p + 16);
    c->proc = io::be32(p + 20);
    size_t at = 24;
    for (int auth = 0; auth < 2; ++auth) { // credentials, then verifier
        if (n < at + 8)
            return false;
        uint32_t len = io::be32(p + at + 4);
        if (len > 400)
            return false;
        at += 8 + (len + 3) / 4 * 4;
        if (at > n)
            return false;
    }
    c->args = p + at;
    c->argLength = n - at;
    return true;
}

void rpcVersionMismatch(Out& out, uint32_t xid)
{
    for (uint32_t v : {xid, 1u, 1u, 0u, 2u, 2u})
        out.u32(v);
}

void progMismatch(Out& out, uint32_t xid, uint32_t low, uint32_t high)
{
    out.header(xid, ProgMismatch);
    out.u32(low);
    out.u32(high);
}

// True when the XDR length field at byte offset `at` of the arguments does
// not claim more bytes than the call holds; checked before decoding so that
// a forged length never becomes an allocation.
bool lengthFits(const RpcCall& c, size_t at)
{
    return c.argLength >= at + 4 && io::be32(c.args + at) <= c.argLength - at - 4;
}

template <typename T>
bool decode(const RpcCall& c, bool_t (*fn)(XDR*, T*), T* value)
{
    XDR x;
    xdrmem_create(&x, reinterpret_cast<char*>(const_cast<uint8_t*>(c.args)), u_int(c.argLength), XDR_DECODE);
    bool ok = fn(&x, value);
    xdr_destroy(&x);
    return ok;
}

template <typename T>
void release(bool_t (*fn)(XDR*, T*), T* value)
{
    xdr_free(reinterpret_cast<xdrproc_t>(fn), reinterpret_cast<char*>(value));
}

// ---------------------------------------------------------------- VXI-11

// A VXI-11 link: its own input (partial message) and output queue; the
// instrument state behind it is shared by all links and sockets.
struct Link {
    long id = 0;
    std::mutex mutex;
    std::condition_variable wake;
    MessageSplitter in;
    ReplyQueue out;
    bool aborted = false;
};

class Links {
public:
    std::shared_ptr<Link> create()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (links_.size() >= size_t(kMaxLinks))
            return nullptr;
        auto l = std::make_shared<Link>();
        l->id = next_++;
        links_[l->id] = l;
        return l;
    }
    std::shared_ptr<Link> find(long id)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = links_.find(id);
        return it == links_.end() ? nullptr : it->second;
    }
    bool destroy(long id)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return links_.erase(id) > 0;
    }

private:
    std::mutex mutex_;
    std::map<long, std::shared_ptr<Link>> links_;
    long next_ = 1;
};

Links& links()
{
    static Links l;
    return l;
}

struct VxiConnection {
    int fd;
    int port;
    Instrument* instrument;
    Faults faults;
    std::vector<long> owned;
    bool close = false; // the drop fault ends the connection after this reply
    bool gone = false;  // the client hung up while a read waited

    bool peerGone() const
    {
        pollfd p{fd, POLLRDHUP, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
    }

    void error(Out& out, const RpcCall& c, long code)
    {
        out.header(c.xid, Success);
        out.u32(uint32_t(code));
    }

    std::shared_ptr<Link> link(long id)
    {
        auto l = links().find(id);
        return l;
    }

    void createLink(const RpcCall& c, Out& out)
    {
        Create_LinkParms p{};
        if (!lengthFits(c, 12) || !decode(c, xdr_Create_LinkParms, &p)) {
            release(xdr_Create_LinkParms, &p);
            return out.header(c.xid, GarbageArgs);
        }
        release(xdr_Create_LinkParms, &p);
        Create_LinkResp r{};
        auto l = links().create();
        if (!l) {
            r.error = OutOfResources;
        } else {
            owned.push_back(l->id);
            r.lid = l->id;
            r.abortPort = u_short(port);
            r.maxRecvSize = kMaxRecvSize;
        }
        out.header(c.xid, Success);
        out.xdr(xdr_Create_LinkResp, &r);
    }

    void write(const RpcCall& c, Out& out)
    {
        Device_WriteParms p{};
        if (!lengthFits(c, 16) || !decode(c, xdr_Device_WriteParms, &p)) {
            release(xdr_Device_WriteParms, &p);
            return out.header(c.xid, GarbageArgs);
        }
        Device_WriteResp r{};
        auto l = link(p.lid);
        if (!l) {
            r.error = InvalidLink;
        } else {
            std::vector<std::string> messages;
            std::unique_lock<std::mutex> lock(l->mutex);
            bool ok = l->in.feed(reinterpret_cast<const uint8_t*>(p.data.data_val), p.data.data_len, &messages);
            if (ok && (p.flags & 8))
                l->in.end(&messages);
            lock.unlock();
            // Executed outside the link's lock: a long reply is only queued.
            for (const std::string& m : messages) {
                Reply reply = instrument->execute(m);
                lock.lock();
                if (l->out.messages() < kMaxQueuedReplies && l->out.heldText() + reply.textSize() <= kMaxQueuedText)
                    l->out.push(std::move(reply));
                lock.unlock();
            }
            l->wake.notify_all();
            if (!ok) {
                close = true; // beyond the message limits: a hostile peer
                r.error = OutOfResources;
            }
            r.size = p.data.data_len;
        }
        release(xdr_Device_WriteParms, &p);
        out.header(c.xid, Success);
        out.xdr(xdr_Device_WriteResp, &r);
    }

    void read(const RpcCall& c, Out& out)
    {
        Device_ReadParms p{};
        if (!decode(c, xdr_Device_ReadParms, &p))
            return out.header(c.xid, GarbageArgs);
        auto l = link(p.lid);
        if (!l)
            return error(out, c, InvalidLink), out.u32(0), out.u32(0);
        std::unique_lock<std::mutex> lock(l->mutex);
        // Waits in slices so that a client that hangs up during a long
        // time-out does not hold its connection slot until the time-out ends.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(p.io_timeout);
        while (!l->aborted && l->out.empty()) {
            auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero())
                break;
            l->wake.wait_for(lock, std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(250)));
            if (peerGone()) {
                gone = true;
                return;
            }
        }
        if (l->aborted || l->out.empty()) {
            long code = l->aborted ? Aborted : IoTimeout;
            l->aborted = false;
            return error(out, c, code), out.u32(0), out.u32(0);
        }
        // One answer never crosses the end of a reply message, so END marks
        // exactly where the instrument's message ends.
        uint64_t left = l->out.frontSize() - l->out.frontConsumed();
        uint64_t n = std::min<uint64_t>({p.requestSize, kMaxRead, left});
        if (faults.trickle)
            n = std::min<uint64_t>(n, faults.trickle);
        if (faults.dropAfter && l->out.frontSize() > faults.dropAfter) {
            n = std::min<uint64_t>(n, faults.dropAfter - l->out.frontConsumed());
            close = l->out.frontConsumed() + n >= faults.dropAfter;
        }
        out.header(c.xid, Success);
        size_t at = out.b.size();
        out.b.resize(at + 12 + size_t(n) + 3);
        uint8_t* data = out.b.data() + at + 12;
        size_t got = l->out.peek(data, size_t(n));
        long reason = 0;
        if (p.flags & 0x80) {
            auto* hit = static_cast<uint8_t*>(std::memchr(data, uint8_t(p.termChar), got));
            if (hit) {
                got = size_t(hit - data) + 1;
                reason |= 2;
            }
        }
        if (l->out.consume(got))
            reason |= 4;
        if (got == p.requestSize)
            reason |= 1;
        lock.unlock();
        io::putBe32(out.b.data() + at, NoError);
        io::putBe32(out.b.data() + at + 4, uint32_t(reason));
        io::putBe32(out.b.data() + at + 8, uint32_t(got));
        out.b.resize(at + 12 + (got + 3) / 4 * 4);
        std::fill(out.b.begin() + long(at + 12 + got), out.b.end(), 0);
    }

    void readStb(const RpcCall& c, Out& out)
    {
        Device_GenericParms p{};
        if (!decode(c, xdr_Device_GenericParms, &p))
            return out.header(c.xid, GarbageArgs);
        Device_ReadStbResp r{};
        auto l = link(p.lid);
        if (!l) {
            r.error = InvalidLink;
        } else {
            std::lock_guard<std::mutex> lock(l->mutex);
            r.stb = instrument->statusByte(!l->out.empty());
        }
        out.header(c.xid, Success);
        out.xdr(xdr_Device_ReadStbResp, &r);
    }

    // device_clear, device_remote, device_local: generic parameters, error reply.
    void generic(const RpcCall& c, Out& out, bool clear)
    {
        Device_GenericParms p{};
        if (!decode(c, xdr_Device_GenericParms, &p))
            return out.header(c.xid, GarbageArgs);
        auto l = link(p.lid);
        if (l && clear) {
            std::lock_guard<std::mutex> lock(l->mutex);
            l->in.clear();
            l->out.clear();
        }
        error(out, c, l ? NoError : InvalidLink);
    }

    void destroyLink(const RpcCall& c, Out& out)
    {
        Device_Link id = 0;
        if (!decode(c, xdr_Device_Link, &id))
            return out.header(c.xid, GarbageArgs);
        bool mine = std::find(owned.begin(), owned.end(), id) != owned.end();
        if (mine) {
            owned.erase(std::find(owned.begin(), owned.end(), id));
            links().destroy(id);
        }
        error(out, c, mine ? NoError : InvalidLink);
    }

    void abort(const RpcCall& c, Out& out)
    {
        Device_Link id = 0;
        if (!decode(c, xdr_Device_Link, &id))
            return out.header(c.xid, GarbageArgs);
        auto l = link(id);
        if (l) {
            std::lock_guard<std::mutex> lock(l->mutex);
            l->aborted = true;
            l->wake.notify_all();
        }
        error(out, c, l ? NoError : InvalidLink);
    }

    void dispatch(const RpcCall& c, Out& out)
    {
        if (c.prog == kAbortProgram) {
            if (c.vers != 1)
                return progMismatch(out, c.xid, 1, 1);
            if (c.proc == 0)
                return out.header(c.xid, Success);
            if (c.proc == 1)
                return abort(c, out);
            return out.header(c.xid, ProcUnavail);
        }
        if (c.prog != kCoreProgram)
            return out.header(c.xid, ProgUnavail);
        if (c.vers != 1)
            return progMismatch(out, c.xid, 1, 1);
        switch (c.proc) {
        case 0: return out.header(c.xid, Success);
        case 10: return createLink(c, out);
        case 11: return write(c, out);
        case 12: return read(c, out);
        case 13: return readStb(c, out);
        case 15: return generic(c, out, true);
        case 16:
        case 17: return generic(c, out, false);
        case 23: return destroyLink(c, out);
        case 22: // device_docmd answers an error and empty data
            return error(out, c, NotSupported), out.u32(0);
        case 14: case 18: case 19: case 20: case 25: case 26:
            return error(out, c, NotSupported);
        default: return out.header(c.xid, ProcUnavail);
        }
    }

    void run()
    {
        std::vector<uint8_t> rec;
        while (!close && readRecord(fd, &rec)) {
            RpcCall c;
            bool badVersion;
            if (!parseCall(rec.data(), rec.size(), &c, &badVersion))
                continue;
            Out out;
            if (badVersion)
                rpcVersionMismatch(out, c.xid);
            else
                dispatch(c, out);
            if (gone || !sendRecord(fd, out))
                break;
        }
        for (long id : owned)
            links().destroy(id);
    }
};

// ---------------------------------------------------------------- portmapper

struct Mapping {
    uint32_t prog, vers, prot, port;
};

std::vector<Mapping> mappings(int vxi11Port)
{
    const uint32_t tcp = 6, udp = 17, v = uint32_t(vxi11Port);
    return {{kPortmapProgram, 2, tcp, 111}, {kPortmapProgram, 2, udp, 111}, {kCoreProgram, 1, tcp, v}, {kAbortProgram, 1, tcp, v}};
}

// Reads an XDR string at *at; false when it overruns.
bool xdrString(const RpcCall& c, size_t* at, std::string* s)
{
    if (*at + 4 > c.argLength)
        return false;
    uint32_t len = io::be32(c.args + *at);
    if (len > c.argLength - *at - 4)
        return false;
    s->assign(reinterpret_cast<const char*>(c.args + *at + 4), len);
    *at += 4 + (size_t(len) + 3) / 4 * 4;
    return true;
}

// Version 2 (portmapper) and, for clients that ask rpcbind first, the
// address look-up of versions 3 and 4.
void portmap(const RpcCall& c, Out& out, int vxi11Port)
{
    if (c.prog != kPortmapProgram)
        return out.header(c.xid, ProgUnavail);
    if (c.vers < 2 || c.vers > 4)
        return progMismatch(out, c.xid, 2, 4);
    const std::vector<Mapping> table = mappings(vxi11Port);
    if (c.proc == 0)
        return out.header(c.xid, Success);
    if (c.proc == 1 || c.proc == 2) { // set, unset: refused
        out.header(c.xid, Success);
        return out.u32(0);
    }
    if (c.vers == 2 && c.proc == 3) {
        if (c.argLength < 16)
            return out.header(c.xid, GarbageArgs);
        uint32_t prog = io::be32(c.args), vers = io::be32(c.args + 4), prot = io::be32(c.args + 8);
        uint32_t port = 0;
        for (const Mapping& m : table)
            if (m.prog == prog && m.vers == vers && m.prot == prot)
                port = m.port;
        out.header(c.xid, Success);
        return out.u32(port);
    }
    if (c.vers == 2 && c.proc == 4) {
        out.header(c.xid, Success);
        for (const Mapping& m : table)
            for (uint32_t v : {1u, m.prog, m.vers, m.prot, m.port})
                out.u32(v);
        return out.u32(0);
    }
    if (c.vers >= 3 && (c.proc == 3 || (c.vers == 4 && c.proc == 9))) { // getaddr, getversaddr
        size_t at = 8;
        std::string netid, addr, owner;
        if (c.argLength < 8 || !xdrString(c, &at, &netid) || !xdrString(c, &at, &addr) || !xdrString(c, &at, &owner))
            return out.header(c.xid, GarbageArgs);
        uint32_t prog = io::be32(c.args), vers = io::be32(c.args + 4);
        uint32_t prot = netid == "tcp" ? 6 : netid == "udp" ? 17 : 0;
        std::string uaddr;
        for (const Mapping& m : table)
            if (m.prog == prog && m.vers == vers && m.prot == prot)
                uaddr = "127.0.0.1." + std::to_string(m.port >> 8) + "." + std::to_string(m.port & 255);
        out.header(c.xid, Success);
        return out.opaque(uaddr);
    }
    out.header(c.xid, ProcUnavail);
}

} // namespace

void serveVxi11(int listener, int port, Instrument* instrument, const Faults& faults)
{
    acceptLoop(listener, [port, instrument, faults](int fd) {
        VxiConnection c{fd, port, instrument, faults, {}, false};
        c.run();
    });
}

void servePortmapperTcp(int listener, int vxi11Port)
{
    acceptLoop(listener, [vxi11Port](int fd) {
        std::vector<uint8_t> rec;
        while (readRecord(fd, &rec)) {
            RpcCall c;
            bool badVersion;
            if (!parseCall(rec.data(), rec.size(), &c, &badVersion))
                continue;
            Out out;
            if (badVersion)
                rpcVersionMismatch(out, c.xid);
            else
                portmap(c, out, vxi11Port);
            if (!sendRecord(fd, out))
                return;
        }
    });
}

void servePortmapperUdp(int fd, int vxi11Port)
{
    std::thread([fd, vxi11Port] {
        std::vector<uint8_t> buf(9000);
        while (true) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = ::recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            RpcCall c;
            bool badVersion;
            if (!parseCall(buf.data(), size_t(n), &c, &badVersion))
                continue;
            Out out;
            if (badVersion)
                rpcVersionMismatch(out, c.xid);
            else
                portmap(c, out, vxi11Port);
            ::sendto(fd, out.b.data() + 4, out.b.size() - 4, 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }).detach();
}

} // namespace sim
