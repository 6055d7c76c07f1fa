// VISA resource names of the LAN interface.
#pragma once

#include "common/visadefs.h"

#include <cstdint>
#include <string>

namespace ovisa {

struct Resource
{
    enum Kind { Instr, Socket } kind = Instr;
    unsigned board = 0;
    std::string host;
    std::string device = "inst0"; // VXI-11 device (Instr)
    uint16_t port = 0;            // TCP port (Socket)

    std::string canonical() const;
};

// VI_SUCCESS, VI_ERROR_INV_RSRC_NAME for a name that is not a resource
// name, VI_ERROR_RSRC_NFOUND for a resource this library cannot reach
// (other interfaces, other LAN protocols).
ViStatus parseResource(const char* name, Resource* out);

} // namespace ovisa
