#include "visa/readreply.h"

namespace ovisa {

bool_t xdrReadReply(XDR* x, ReadReply* r)
{
    u_int len = 0;
    if (!xdr_long(x, &r->error) || !xdr_long(x, &r->reason) || !xdr_u_int(x, &len))
        return FALSE;
    if (len > r->cap) {
        r->oversize = true;
        return FALSE;
    }
    if (len && !xdr_opaque(x, r->buf, len))
        return FALSE;
    r->got = len;
    return TRUE;
}

} // namespace ovisa
