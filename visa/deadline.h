// The end of an operation's time-out (VI_ATTR_TMO_VALUE), shared by every
// wait of one VISA call so that a call never outlasts its time-out by more
// than one system call.
#pragma once

#include "common/visadefs.h"

#include <chrono>
#include <climits>
#include <cstdint>

namespace ovisa {

class Deadline
{
public:
    using Clock = std::chrono::steady_clock;

    explicit Deadline(ViUInt32 ms)
        : infinite_(ms == VI_TMO_INFINITE), end_(Clock::now() + std::chrono::milliseconds(ms)) {}

    bool infinite() const { return infinite_; }
    bool passed() const { return !infinite_ && Clock::now() >= end_; }

    // Milliseconds left, rounded up so that a wait never ends early.
    uint32_t remainingMs() const
    {
        if (infinite_)
            return VI_TMO_INFINITE;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end_ - Clock::now()).count();
        if (left <= 0)
            return 0;
        const auto ms = (left + 999) / 1000;
        return ms >= int64_t(VI_TMO_INFINITE) ? VI_TMO_INFINITE - 1 : uint32_t(ms);
    }

    // Argument for poll(): -1 waits without end.
    int pollMs() const
    {
        if (infinite_)
            return -1;
        const uint32_t ms = remainingMs();
        return ms > uint32_t(INT_MAX) ? INT_MAX : int(ms);
    }

private:
    bool infinite_;
    Clock::time_point end_;
};

} // namespace ovisa
