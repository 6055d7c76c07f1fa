// VXI-11 core channel over ONC RPC/TCP through libtirpc. The portmapper on
// port 111 names the core channel's port; one link per session.
#include "visa/net.h"
#include "visa/readreply.h"
#include "visa/transport.h"

#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>

#include "vxi11.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <pthread.h>
#include <unistd.h>

namespace ovisa {

namespace {

constexpr uint16_t PortmapperPort = 111;
constexpr long FlagEnd = 0x08;
constexpr long FlagTermChar = 0x80;
constexpr long ReasonTermChar = 0x02;
constexpr long ReasonEnd = 0x04;
// The RPC waits this much longer than the device's own time-out, so that the
// device's time-out reply (error 15) arrives before the call gives up.
constexpr uint32_t RpcMarginMs = 1000;
// libtirpc turns the call's time-out into int milliseconds.
constexpr time_t MaxRpcSeconds = 2000000;
// A protocol minimum; used when a device announces no receive size.
constexpr uint32_t MinRecvSize = 1024;
// Socket buffers of the RPC record stream (libtirpc's upper limit).
constexpr u_int RecordBufferSize = 256 * 1024;

struct DeviceErrorRow
{
    long code;
    ViStatus status;
};
// VXI-11 device error codes.
const DeviceErrorRow DeviceErrors[] = {
    {1, VI_ERROR_INV_PARAMETER},  // syntax error
    {3, VI_ERROR_RSRC_NFOUND},    // device not accessible
    {4, VI_ERROR_CONN_LOST},      // invalid link identifier
    {5, VI_ERROR_INV_PARAMETER},  // parameter error
    {6, VI_ERROR_NSUP_OPER},      // channel not established
    {8, VI_ERROR_NSUP_OPER},      // operation not supported
    {9, VI_ERROR_ALLOC},          // out of resources
    {11, VI_ERROR_RSRC_LOCKED},   // device locked by another link
    {12, VI_ERROR_SESN_NLOCKED},  // no lock held by this link
    {15, VI_ERROR_TMO},           // I/O timeout
    {17, VI_ERROR_IO},            // I/O error
    {21, VI_ERROR_RSRC_NFOUND},   // invalid address
    {23, VI_ERROR_ABORT},         // abort
    {29, VI_ERROR_IO},            // channel already established
};

ViStatus deviceStatus(long code)
{
    if (code == 0)
        return VI_SUCCESS;
    for (const DeviceErrorRow& row : DeviceErrors)
        if (row.code == code)
            return row.status;
    return VI_ERROR_IO;
}

// viGpibControlREN modes (index) on a VXI-11 link: the link can only take
// its device to local or to remote state.
const u_long RenProcedures[] = {
    device_local,  // VI_GPIB_REN_DEASSERT
    device_remote, // VI_GPIB_REN_ASSERT
    device_local,  // VI_GPIB_REN_DEASSERT_GTL
    device_remote, // VI_GPIB_REN_ASSERT_ADDRESS
    device_remote, // VI_GPIB_REN_ASSERT_LLO
    device_remote, // VI_GPIB_REN_ASSERT_ADDRESS_LLO
    device_local,  // VI_GPIB_REN_ADDRESS_GTL
};

// A write to a peer that has gone raises SIGPIPE in the writing thread;
// libtirpc writes with write(2), so the signal is held back around each call
// and a pending one taken away, leaving the host program's handling alone.
class SigpipeGuard
{
public:
    SigpipeGuard()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigpipeGuard()
    {
        sigset_t pending;
        if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
            const timespec zero{0, 0};
            while (sigtimedwait(&pipe_, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t pipe_, old_;
    bool wasPending_ = false;
};

template <typename F>
xdrproc_t xdrProc(F f)
{
    return reinterpret_cast<xdrproc_t>(f);
}

timeval rpcTimeout(uint32_t ioMs)
{
    const uint64_t ms = ioMs == VI_TMO_INFINITE ? uint64_t(MaxRpcSeconds) * 1000 : uint64_t(ioMs) + RpcMarginMs;
    timeval tv{};
    tv.tv_sec = std::min<time_t>(time_t(ms / 1000), MaxRpcSeconds);
    tv.tv_usec = suseconds_t(ms % 1000) * 1000;
    return tv;
}

CLIENT* rpcClient(int fd, const Peer& peer, uint16_t port, u_long prog, u_long vers)
{
    sockaddr_storage addr = peer.addr;
    if (addr.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in*>(&addr)->sin_port = htons(port);
    netbuf nb{};
    nb.buf = &addr;
    nb.len = nb.maxlen = peer.len;
    // libtirpc writes with blocking write(2); SO_SNDTIMEO bounds each write.
    setBlocking(fd);
    CLIENT* cl = clnt_vc_create(fd, &nb, prog, vers, RecordBufferSize, RecordBufferSize);
    if (!cl) {
        close(fd);
        return nullptr;
    }
    clnt_control(cl, CLSET_FD_CLOSE, nullptr);
    return cl;
}

// Status of an RPC call; *broken tells that the connection is of no further
// use (gone, or a request left half sent).
ViStatus rpcStatus(CLIENT* cl, clnt_stat s, bool* broken)
{
    rpc_err err{};
    clnt_geterr(cl, &err);
    switch (s) {
    case RPC_SUCCESS:
        return VI_SUCCESS;
    case RPC_TIMEDOUT:
        return VI_ERROR_TMO;
    case RPC_CANTSEND:
        *broken = true;
        return err.re_errno == EAGAIN || err.re_errno == EWOULDBLOCK ? VI_ERROR_TMO : VI_ERROR_CONN_LOST;
    case RPC_CANTRECV:
        *broken = true;
        return VI_ERROR_CONN_LOST;
    case RPC_PROCUNAVAIL:
    case RPC_PROGUNAVAIL:
    case RPC_PROGVERSMISMATCH:
        return VI_ERROR_NSUP_OPER;
    default:
        return VI_ERROR_IO;
    }
}

ViStatus call(CLIENT* cl, u_long proc, xdrproc_t in, const void* args, xdrproc_t out, void* result, uint32_t ioMs,
              bool* broken)
{
    const timeval tv = rpcTimeout(ioMs);
    int fd = -1;
    if (clnt_control(cl, CLGET_FD, reinterpret_cast<char*>(&fd)) && fd >= 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    SigpipeGuard guard;
    const clnt_stat s = clnt_call(cl, proc, in, reinterpret_cast<caddr_t>(const_cast<void*>(args)), out,
                                  reinterpret_cast<caddr_t>(result), tv);
    return rpcStatus(cl, s, broken);
}

std::atomic<long> nextClientId{1};

class Vxi11Transport : public Transport
{
public:
    Vxi11Transport(CLIENT* cl, long lid, uint32_t maxRecv, const std::string& address)
        : cl_(cl), lid_(lid), maxRecv_(maxRecv ? maxRecv : MinRecvSize)
    {
        address_ = address;
    }
    ~Vxi11Transport() override { clnt_destroy(cl_); }

    ViStatus write(const uint8_t* p, size_t n, bool end, size_t* done, const Deadline& dl) override
    {
        *done = 0;
        do {
            if (lost_)
                return VI_ERROR_CONN_LOST;
            const size_t len = std::min<size_t>(maxRecv_, n - *done);
            Device_WriteParms parms{};
            parms.lid = lid_;
            parms.io_timeout = dl.remainingMs();
            parms.flags = end && *done + len == n ? FlagEnd : 0;
            parms.data.data_len = u_int(len);
            parms.data.data_val = reinterpret_cast<char*>(const_cast<uint8_t*>(p + *done));
            Device_WriteResp resp{};
            const ViStatus st = call(cl_, device_write, xdrProc(xdr_Device_WriteParms), &parms, xdrProc(xdr_Device_WriteResp),
                                     &resp, parms.io_timeout, &lost_);
            if (st != VI_SUCCESS)
                return st;
            if (resp.error)
                return deviceStatus(resp.error);
            // A device that takes more than it was given, or nothing at all,
            // would make the loop lie or spin.
            if (resp.size > len || (resp.size == 0 && len > 0))
                return VI_ERROR_IO;
            *done += resp.size;
        } while (*done < n);
        return VI_SUCCESS;
    }

    ViStatus read(uint8_t* p, size_t n, int termChar, size_t* got, const Deadline& dl) override
    {
        *got = 0;
        if (lost_)
            return VI_ERROR_CONN_LOST;
        while (*got < n) {
            Device_ReadParms parms{};
            parms.lid = lid_;
            parms.requestSize = std::min<size_t>(n - *got, 0x7FFFFFFF);
            parms.io_timeout = dl.remainingMs();
            if (termChar >= 0) {
                parms.flags = FlagTermChar;
                parms.termChar = char(termChar);
            }
            ReadReply reply;
            reply.buf = reinterpret_cast<char*>(p + *got);
            reply.cap = u_int(parms.requestSize);
            const ViStatus st = call(cl_, device_read, xdrProc(xdr_Device_ReadParms), &parms, xdrProc(xdrReadReply), &reply,
                                     parms.io_timeout, &lost_);
            if (reply.oversize)
                return VI_ERROR_IO;
            if (st != VI_SUCCESS)
                return st;
            *got += reply.got;
            if (reply.error)
                return deviceStatus(reply.error);
            if (reply.reason & ReasonEnd)
                return VI_SUCCESS;
            if (reply.reason & ReasonTermChar)
                return VI_SUCCESS_TERM_CHAR;
            if (*got < n && dl.passed())
                return VI_ERROR_TMO;
        }
        return VI_SUCCESS_MAX_CNT;
    }

    ViStatus clear(const Deadline& dl) override { return generic(device_clear, dl); }

    ViStatus readStb(ViUInt16* stb, const Deadline& dl) override
    {
        if (lost_)
            return VI_ERROR_CONN_LOST;
        Device_GenericParms parms{lid_, 0, 0, dl.remainingMs()};
        Device_ReadStbResp resp{};
        const ViStatus st = call(cl_, device_readstb, xdrProc(xdr_Device_GenericParms), &parms, xdrProc(xdr_Device_ReadStbResp),
                                 &resp, parms.io_timeout, &lost_);
        if (st != VI_SUCCESS)
            return st;
        if (resp.error)
            return deviceStatus(resp.error);
        *stb = resp.stb;
        return VI_SUCCESS;
    }

    ViStatus controlRen(ViUInt16 mode, const Deadline& dl) override
    {
        if (mode >= sizeof RenProcedures / sizeof RenProcedures[0])
            return VI_ERROR_INV_MODE;
        return generic(RenProcedures[mode], dl);
    }

    ViStatus setOption(ViAttr, bool) override { return VI_ERROR_NSUP_ATTR; }

    void shutdown(const Deadline& dl) override
    {
        if (lost_)
            return;
        Device_Link lid = lid_;
        Device_Error resp{};
        call(cl_, destroy_link, xdrProc(xdr_Device_Link), &lid, xdrProc(xdr_Device_Error), &resp, dl.remainingMs(), &lost_);
    }

private:
    ViStatus generic(u_long proc, const Deadline& dl)
    {
        if (lost_)
            return VI_ERROR_CONN_LOST;
        Device_GenericParms parms{lid_, 0, 0, dl.remainingMs()};
        Device_Error resp{};
        const ViStatus st = call(cl_, proc, xdrProc(xdr_Device_GenericParms), &parms, xdrProc(xdr_Device_Error), &resp,
                                 parms.io_timeout, &lost_);
        return st != VI_SUCCESS ? st : deviceStatus(resp.error);
    }

    CLIENT* cl_;
    long lid_;
    uint32_t maxRecv_;
    bool lost_ = false;
};

// Port of the VXI-11 core channel as the host's portmapper tells it; 0 when
// there is none or the portmapper cannot be asked.
uint16_t corePort(const Peer& peer, const Deadline& dl)
{
    const int fd = connectTcp(peer, PortmapperPort, dl);
    if (fd < 0)
        return 0;
    CLIENT* cl = rpcClient(fd, peer, PortmapperPort, PMAPPROG, PMAPVERS);
    if (!cl)
        return 0;
    pmap query{};
    query.pm_prog = DEVICE_CORE;
    query.pm_vers = DEVICE_CORE_VERSION;
    query.pm_prot = IPPROTO_TCP;
    u_long port = 0;
    bool broken = false;
    const ViStatus st = call(cl, PMAPPROC_GETPORT, xdrProc(xdr_pmap), &query, xdrProc(xdr_u_long), &port,
                             dl.remainingMs(), &broken);
    clnt_destroy(cl);
    return st == VI_SUCCESS && port <= 65535 ? uint16_t(port) : 0;
}

} // namespace

ViStatus openVxi11(const Resource& r, const Deadline& dl, std::unique_ptr<Transport>* out)
{
    Peer peer;
    if (!resolve(r.host, &peer))
        return VI_ERROR_RSRC_NFOUND;
    const uint16_t port = corePort(peer, dl);
    if (port == 0)
        return VI_ERROR_RSRC_NFOUND;
    const int fd = connectTcp(peer, port, dl);
    if (fd < 0)
        return VI_ERROR_RSRC_NFOUND;
    CLIENT* cl = rpcClient(fd, peer, port, DEVICE_CORE, DEVICE_CORE_VERSION);
    if (!cl)
        return VI_ERROR_SYSTEM_ERROR;
    Create_LinkParms parms{};
    parms.clientId = nextClientId++;
    parms.device = const_cast<char*>(r.device.c_str());
    Create_LinkResp resp{};
    bool broken = false;
    ViStatus st = call(cl, create_link, xdrProc(xdr_Create_LinkParms), &parms, xdrProc(xdr_Create_LinkResp), &resp,
                       dl.remainingMs(), &broken);
    if (st == VI_SUCCESS)
        st = deviceStatus(resp.error);
    if (st != VI_SUCCESS) {
        clnt_destroy(cl);
        return st;
    }
    out->reset(new Vxi11Transport(cl, resp.lid, uint32_t(resp.maxRecvSize), peer.text));
    return VI_SUCCESS;
}

} // namespace ovisa
