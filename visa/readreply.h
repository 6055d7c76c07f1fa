// The reply of VXI-11 device_read, decoded straight into the caller's
// buffer: a reply longer than the request is refused, never allocated for
// or copied past the buffer (rpcgen's routine would allocate any size).
#pragma once

#include <rpc/rpc.h>

namespace ovisa {

struct ReadReply
{
    long error = 0;
    long reason = 0;
    char* buf = nullptr; // room for cap bytes
    u_int cap = 0;
    u_int got = 0;
    bool oversize = false;
};

bool_t xdrReadReply(XDR* x, ReadReply* r);

} // namespace ovisa
