// The simulated instrument: one shared state behind a lock, fed whole SCPI
// messages by any number of connections, answering with reply messages.
#pragma once

#include "sim/reply.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace sim {

struct Settings {
    int type = 1;
    std::string idn;      // empty: "Halvard,<name>,100001/001,1.0"
    std::string options;  // empty: the type's default
    double bandwidth = 1e6;
    bool stall = false;    // queries are executed but never answered
    bool oversize = false; // definite-length blocks carry more than announced
};

// Every message received, one per line, escaped so that each line is exactly
// one message; flushed line by line.
class MessageLog {
public:
    ~MessageLog();
    bool open(const std::string& path);
    void write(const std::string& message);
    static std::string escape(const std::string& message);

private:
    std::FILE* file_ = nullptr;
    std::mutex mutex_;
};

class Instrument {
public:
    Instrument(const Settings& s, MessageLog* log);
    ~Instrument();
    // Logs and executes one message; the reply is empty when the message
    // asked nothing (or the instrument stalls).
    Reply execute(const std::string& message);
    // IEEE 488.2 status byte; outputPending sets the message-available bit.
    uint8_t statusByte(bool outputPending);

private:
    struct Engine;
    std::unique_ptr<Engine> engine_;
    std::mutex mutex_;
    MessageLog* log_;
};

} // namespace sim
