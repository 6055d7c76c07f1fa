// A walk over the structure of a MAT-file before the matio library opens it.
// The library allocates what element tags, dimensions and name lengths
// announce before it checks them against the file, so a file of a few
// hundred bytes can make it claim gigabytes. The walk checks every tag the
// library will follow for the variables a reader takes, against the bytes
// of its parent and a memory budget, and inflates compressed variables only
// as far as their headers reach.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace mat5 {

// What a top-level element says about the real part of its variable.
struct Extent {
    bool known = false;  // a numeric or character array whose real part was found
    uint32_t type = 0;   // element type of the real part (1 int8 ... 13 uint64)
    uint64_t bytes = 0;  // bytes the real part announces
};

struct Walk {
    QString problem;      // empty: the library may open the file
    bool truncated = false; // the problem is bytes missing from the file
    int var = 0;          // index of the top-level element the problem lies in
    std::vector<Extent> vars; // one per top-level element walked
};

// Walks the header and the first count top-level elements of file. budget:
// bytes the announced sizes of one variable may reach.
Walk walk(const QString& file, int count, uint64_t budget);

} // namespace mat5
