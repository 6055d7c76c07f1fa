// Network side of the simulator: raw SCPI over TCP, the VXI-11 core and
// abort programs over ONC RPC, and a small portmapper, all on 127.0.0.1.
// One thread per connection; all of them share one Instrument.
#pragma once

#include "sim/instrument.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Faults {
    uint64_t dropAfter = 0; // 0: off
    size_t trickle = 0;     // 0: off
};

// Cuts a byte stream into messages: a message ends at a line feed outside a
// definite-length block (or where the caller signals END). Text outside
// blocks and block data are bounded, so a peer cannot make it hold more than
// a few tens of megabytes.
class MessageSplitter {
public:
    static constexpr size_t kMaxText = size_t(1) << 20;
    static constexpr uint64_t kMaxBlock = uint64_t(64) << 20;

    // Appends the messages completed by these bytes; false when a limit was broken.
    bool feed(const uint8_t* p, size_t n, std::vector<std::string>* out);
    // END indicator: whatever was received forms a message.
    void end(std::vector<std::string>* out);
    void clear();

private:
    enum class State { Text, Quote, Hash, Digits, Data };
    std::string current_;
    size_t text_ = 0;
    State state_ = State::Text;
    char quote_ = 0;
    int digits_ = 0;
    uint64_t length_ = 0;
};

// Opens a listener on 127.0.0.1:port (0 = any free port); returns the socket
// or -1 with errno set. *bound receives the port.
int listenOn(int port, bool udp, int* bound);

// Accept loops; each runs on its own detached thread until the process ends.
void serveSocket(int listener, Instrument* instrument, const Faults& faults);
void serveVxi11(int listener, int port, Instrument* instrument, const Faults& faults);
void servePortmapperTcp(int listener, int vxi11Port);
void servePortmapperUdp(int socket, int vxi11Port);

} // namespace sim
