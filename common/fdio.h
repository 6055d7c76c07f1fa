// Whole transfers on a descriptor: short transfers continued, interrupted
// ones retried. Qt-free, for the core, Orvex's VISA library and the simulator.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/socket.h>
#include <unistd.h>

namespace fdio {

// Calls op(p, n) until n bytes went through; false on an error or a 0
// (the peer closed, the device is full).
template <class Op>
bool all(Op op, uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t k = op(p, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

inline bool writeAll(int fd, const void* p, size_t n)
{
    return all([fd](uint8_t* q, size_t k) { return ::write(fd, q, k); },
               static_cast<uint8_t*>(const_cast<void*>(p)), n);
}

// A peer gone away is an error here, never a SIGPIPE.
inline bool sendAll(int fd, const void* p, size_t n)
{
    return all([fd](uint8_t* q, size_t k) { return ::send(fd, q, k, MSG_NOSIGNAL); },
               static_cast<uint8_t*>(const_cast<void*>(p)), n);
}

inline bool recvAll(int fd, void* p, size_t n)
{
    return all([fd](uint8_t* q, size_t k) { return ::recv(fd, q, k, 0); }, static_cast<uint8_t*>(p), n);
}

} // namespace fdio
