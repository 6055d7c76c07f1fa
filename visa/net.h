// TCP plumbing shared by the raw-socket and the VXI-11 transports.
#pragma once

#include "visa/deadline.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/socket.h>

namespace ovisa {

struct Peer
{
    sockaddr_storage addr{};
    socklen_t len = 0;
    std::string text; // numeric address
};

// Resolves a host name or numeric address (first TCP address wins).
bool resolve(const std::string& host, Peer* peer);

// A connected, non-blocking TCP socket with TCP_NODELAY, or -1 when the
// peer refuses, cannot be reached or does not accept within the deadline.
int connectTcp(const Peer& peer, uint16_t port, const Deadline& deadline);

// Blocking I/O: the transports bound each call with SO_RCVTIMEO/SO_SNDTIMEO.
void setBlocking(int fd);

} // namespace ovisa
