// Raw SCPI over TCP. The stream has no END indicator, so message ends come
// from the IEEE 488.2 scanner; bytes received past a message's end wait in
// the session's buffer for the next read.
#include "visa/eom.h"
#include "visa/net.h"
#include "visa/transport.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

namespace ovisa {

namespace {

constexpr size_t BufferSize = 64 * 1024;
// viClear takes away what has already arrived, but not without end from a
// peer that keeps sending.
constexpr size_t MaxDiscard = 64 * 1024 * 1024;

class SocketTransport : public Transport
{
public:
    SocketTransport(int fd, const std::string& address) : fd_(fd), buf_(new uint8_t[BufferSize])
    {
        address_ = address;
    }
    ~SocketTransport() override { close(fd_); }

    ViStatus write(const uint8_t* p, size_t n, bool, size_t* done, const Deadline& dl) override
    {
        *done = 0;
        while (*done < n) {
            if (lost_)
                return VI_ERROR_CONN_LOST;
            const int wait = arm(SO_SNDTIMEO, dl) ? 0 : MSG_DONTWAIT;
            const ssize_t r = send(fd_, p + *done, n - *done, MSG_NOSIGNAL | wait);
            if (r > 0)
                *done += size_t(r);
            else if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return VI_ERROR_TMO;
            else if (r == 0 || errno != EINTR)
                lost_ = true;
        }
        return VI_SUCCESS;
    }

    ViStatus read(uint8_t* p, size_t n, int termChar, size_t* got, const Deadline& dl) override
    {
        *got = 0;
        if (lost_ && head_ == tail_)
            return VI_ERROR_CONN_LOST;
        while (*got < n) {
            if (head_ == tail_) {
                head_ = tail_ = 0;
                // Block data goes straight to the caller, never further than
                // the block, so no byte of a later message is taken along.
                const uint64_t block = eom_.blockRemaining();
                if (block && termChar < 0) {
                    size_t r = 0;
                    const size_t want = size_t(std::min<uint64_t>(n - *got, block));
                    const ViStatus st = receive(p + *got, want, &r, dl, MSG_WAITALL);
                    if (st != VI_SUCCESS)
                        return st;
                    bool end = false;
                    eom_.feed(p + *got, r, &end);
                    *got += r;
                    continue;
                }
                size_t r = 0;
                const ViStatus st = receive(buf_.get(), BufferSize, &r, dl, 0);
                if (st != VI_SUCCESS)
                    return st;
                tail_ = r;
            }
            const uint8_t* s = buf_.get() + head_;
            size_t take = std::min(tail_ - head_, n - *got);
            bool term = false;
            if (termChar >= 0) {
                if (const void* t = std::memchr(s, termChar, take)) {
                    take = size_t(static_cast<const uint8_t*>(t) - s) + 1;
                    term = true;
                }
            }
            bool end = false;
            const size_t k = eom_.feed(s, take, &end);
            std::memcpy(p + *got, s, k);
            head_ += k;
            *got += k;
            if (end)
                return VI_SUCCESS;
            if (term)
                return VI_SUCCESS_TERM_CHAR;
        }
        return VI_SUCCESS_MAX_CNT;
    }

    ViStatus clear(const Deadline&) override
    {
        head_ = tail_ = 0;
        eom_.reset();
        for (size_t dropped = 0; dropped < MaxDiscard && !lost_;) {
            const ssize_t r = recv(fd_, buf_.get(), BufferSize, MSG_DONTWAIT);
            if (r > 0)
                dropped += size_t(r);
            else if (r == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                lost_ = true;
            else if (errno != EINTR)
                break;
        }
        return lost_ ? VI_ERROR_CONN_LOST : VI_SUCCESS;
    }

    // A raw socket has no service request channel: the status byte comes
    // from the instrument's "*STB?".
    ViStatus readStb(ViUInt16* stb, const Deadline& dl) override
    {
        static const char query[] = "*STB?\n";
        size_t n = 0;
        ViStatus st = write(reinterpret_cast<const uint8_t*>(query), sizeof query - 1, true, &n, dl);
        if (st != VI_SUCCESS)
            return st;
        char reply[32] = {};
        st = read(reinterpret_cast<uint8_t*>(reply), sizeof reply - 1, -1, &n, dl);
        if (st != VI_SUCCESS)
            return st < 0 ? st : VI_ERROR_IO;
        char* endp = nullptr;
        const long v = std::strtol(reply, &endp, 10);
        if (endp == reply || v < 0 || v > 255)
            return VI_ERROR_IO;
        *stb = ViUInt16(v);
        return VI_SUCCESS;
    }

    ViStatus controlRen(ViUInt16, const Deadline&) override { return VI_ERROR_NSUP_OPER; }

    ViStatus setOption(ViAttr attr, bool on) override
    {
        const int v = on;
        const int r = attr == VI_ATTR_TCPIP_NODELAY ? setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v)
                                                    : setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &v, sizeof v);
        return r == 0 ? VI_SUCCESS : VI_ERROR_SYSTEM_ERROR;
    }

    void shutdown(const Deadline&) override {}

private:
    // Sets the time-out of the socket's next blocking call to what is left
    // of the deadline; false when nothing is left, so the call must not block
    // (a zero time-out would mean no time-out at all).
    bool arm(int option, const Deadline& dl)
    {
        timeval tv{};
        if (!dl.infinite()) {
            const uint32_t ms = dl.remainingMs();
            if (ms == 0)
                return false;
            tv.tv_sec = time_t(ms / 1000);
            tv.tv_usec = suseconds_t(ms % 1000) * 1000;
        }
        setsockopt(fd_, SOL_SOCKET, option, &tv, sizeof tv);
        return true;
    }

    // One recv into p (at most n bytes), waiting until data arrives; with
    // MSG_WAITALL until all n bytes are there (block data only: they all
    // belong to the message).
    ViStatus receive(uint8_t* p, size_t n, size_t* got, const Deadline& dl, int flags)
    {
        for (;;) {
            if (lost_)
                return VI_ERROR_CONN_LOST;
            const ssize_t r = recv(fd_, p, n, arm(SO_RCVTIMEO, dl) ? flags : MSG_DONTWAIT);
            if (r > 0) {
                *got = size_t(r);
                return VI_SUCCESS;
            }
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return VI_ERROR_TMO;
            // End of stream or a reset: the instrument is gone for good.
            if (r == 0 || errno != EINTR)
                lost_ = true;
        }
    }

    int fd_;
    bool lost_ = false;
    EomScanner eom_;
    std::unique_ptr<uint8_t[]> buf_;
    size_t head_ = 0, tail_ = 0;
};

} // namespace

ViStatus openSocket(const Resource& r, const Deadline& dl, std::unique_ptr<Transport>* out)
{
    Peer peer;
    if (!resolve(r.host, &peer))
        return VI_ERROR_RSRC_NFOUND;
    const int fd = connectTcp(peer, r.port, dl);
    if (fd < 0)
        return VI_ERROR_RSRC_NFOUND;
    setBlocking(fd);
    out->reset(new SocketTransport(fd, peer.text));
    return VI_SUCCESS;
}

} // namespace ovisa
