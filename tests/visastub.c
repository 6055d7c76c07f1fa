/* A VISA library that talks to no instrument: it answers reads from one
 * reply set by the test and logs writes and REN calls. Built once complete
 * and once without viQueryf (STUB_NO_QUERYF). */
#include "common/visadefs.h"

#include <stdarg.h>
#include <string.h>

static char reply[65536];
static unsigned replyLen, replyPos;
static ViStatus writeStatus, readStatus;
static char logText[4096];

static void logAdd(const char* s, size_t n)
{
    size_t len = strlen(logText);
    if (len + n < sizeof logText)
        memcpy(logText + len, s, n), logText[len + n] = 0;
}

/* The next reads return these bytes; viWrite and viRead then return the two statuses. */
void stubSet(const char* bytes, unsigned len, ViStatus ws, ViStatus rs)
{
    replyLen = len < sizeof reply ? len : sizeof reply;
    memcpy(reply, bytes, replyLen);
    replyPos = 0;
    writeStatus = ws;
    readStatus = rs;
    logText[0] = 0;
}
const char* stubLog(void) { return logText; }

ViStatus viOpenDefaultRM(ViSession* rm) { *rm = 1; return VI_SUCCESS; }
ViStatus viFindRsrc(ViSession rm, ViConstString e, ViFindList* l, ViUInt32* n, ViChar* d)
{
    (void)rm, (void)e, (void)l, (void)n, (void)d;
    return VI_ERROR_RSRC_NFOUND;
}
ViStatus viFindNext(ViFindList l, ViChar* d) { (void)l, (void)d; return VI_ERROR_RSRC_NFOUND; }
ViStatus viStatusDesc(ViObject vi, ViStatus s, ViChar* d) { (void)vi, (void)s, strcpy(d, "stub"); return VI_SUCCESS; }
ViStatus viOpen(ViSession rm, ViConstRsrc r, ViAccessMode m, ViUInt32 t, ViSession* vi)
{
    (void)rm, (void)r, (void)m, (void)t;
    *vi = 2;
    return VI_SUCCESS;
}
ViStatus viWrite(ViSession vi, ViConstBuf b, ViUInt32 n, ViUInt32* ret)
{
    (void)vi;
    logAdd("W:", 2), logAdd((const char*)b, n), logAdd("|", 1);
    if (ret)
        *ret = n;
    return writeStatus;
}
ViStatus viRead(ViSession vi, ViBuf b, ViUInt32 n, ViUInt32* ret)
{
    unsigned left = replyLen - replyPos, take = left < n ? left : n;
    (void)vi;
    if (readStatus)
        return readStatus;
    memcpy(b, reply + replyPos, take);
    replyPos += take;
    if (ret)
        *ret = take;
    return left > n ? VI_SUCCESS_MAX_CNT : VI_SUCCESS;
}
#ifndef STUB_NO_QUERYF
ViStatus viQueryf(ViSession vi, ViConstString w, ViConstString r, ...) { (void)vi, (void)w, (void)r; return VI_ERROR_NSUP_OPER; }
#endif
ViStatus viPrintf(ViSession vi, ViConstString f, ...) { (void)vi, (void)f; return VI_ERROR_NSUP_OPER; }
ViStatus viScanf(ViSession vi, ViConstString f, ...) { (void)vi, (void)f; return VI_ERROR_NSUP_OPER; }
ViStatus viReadToFile(ViSession vi, ViConstString f, ViUInt32 n, ViUInt32* r) { (void)vi, (void)f, (void)n, (void)r; return VI_ERROR_NSUP_OPER; }
ViStatus viClear(ViSession vi) { (void)vi; return VI_SUCCESS; }
ViStatus viClose(ViObject vi) { (void)vi; return VI_SUCCESS; }
ViStatus viSetAttribute(ViObject vi, ViAttr a, ViAttrState s) { (void)vi, (void)a, (void)s; return VI_SUCCESS; }
ViStatus viGetAttribute(ViObject vi, ViAttr a, void* s) { (void)vi, (void)a, (void)s; return VI_ERROR_NSUP_ATTR; }
ViStatus viSetBuf(ViSession vi, ViUInt16 m, ViUInt32 n) { (void)vi, (void)m, (void)n; return VI_SUCCESS; }
ViStatus viReadSTB(ViSession vi, ViUInt16* s) { (void)vi, *s = 0; return VI_SUCCESS; }
ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode)
{
    char t[16] = "REN:0|";
    (void)vi;
    t[4] = (char)('0' + mode % 10);
    logAdd(t, strlen(t));
    return writeStatus;
}
