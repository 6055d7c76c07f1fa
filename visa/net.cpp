#include "visa/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

namespace ovisa {

bool resolve(const std::string& host, Peer* peer)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    // Numeric addresses first: they never wait for a name server.
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) {
        hints.ai_flags = AI_ADDRCONFIG;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0)
            return false;
    }
    bool ok = false;
    if (list && list->ai_addrlen <= sizeof(peer->addr)) {
        std::memcpy(&peer->addr, list->ai_addr, list->ai_addrlen);
        peer->len = list->ai_addrlen;
        char text[INET6_ADDRSTRLEN] = {};
        const void* a = list->ai_family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(list->ai_addr)->sin6_addr)
            : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr);
        inet_ntop(list->ai_family, a, text, sizeof text);
        peer->text = text;
        ok = true;
    }
    freeaddrinfo(list);
    return ok;
}

namespace {

int waitFd(int fd, short events, const Deadline& deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, deadline.pollMs());
        if (r > 0)
            return 1;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

} // namespace

void setBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK); }

int connectTcp(const Peer& peer, uint16_t port, const Deadline& deadline)
{
    sockaddr_storage addr = peer.addr;
    if (addr.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in*>(&addr)->sin_port = htons(port);
    const int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), peer.len) != 0) {
        int err = errno;
        if (err == EINPROGRESS) {
            err = ETIMEDOUT;
            if (waitFd(fd, POLLOUT, deadline) == 1) {
                socklen_t len = sizeof err;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
            }
        }
        if (err != 0) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

} // namespace ovisa
