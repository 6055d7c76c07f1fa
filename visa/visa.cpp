// The exported VISA operations: session table, attributes and the
// protocol-independent parts of reading and writing.
#include "visa/orvexvisa.h"
#include "common/fdio.h"

#include "visa/format.h"
#include "visa/status.h"
#include "visa/transport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <unistd.h>
#include <vector>

namespace ovisa {

namespace {

constexpr ViUInt32 DefaultTimeoutMs = 2000;
// Closing waits no longer than this for the instrument to drop its link.
constexpr ViUInt32 CloseTimeoutMs = 2000;
// viReadToFile moves data through a buffer of at most this size.
constexpr size_t FileChunk = 1024 * 1024;
// viScanf and viQueryf read one message of at most this size; the rest of a
// longer one stays for the next read.
constexpr size_t MaxScanMessage = 1024 * 1024;
constexpr size_t ScanStep = 4096;

struct Attrs
{
    ViUInt32 tmo = DefaultTimeoutMs;
    ViUInt32 termChar = '\n';
    ViUInt32 termCharEn = VI_FALSE;
    ViUInt32 sendEnd = VI_TRUE;
    ViUInt32 fileAppend = VI_FALSE;
    ViUInt32 rdMode = VI_FLUSH_DISABLE;
    ViUInt32 wrMode = VI_FLUSH_WHEN_FULL;
    ViUInt32 rdBufSize = 4096;
    ViUInt32 wrBufSize = 4096;
    ViUInt32 intfType = VI_INTF_TCPIP;
    ViUInt32 intfNum = 0;
    ViUInt32 port = 0;
    ViUInt32 noDelay = VI_TRUE;
    ViUInt32 keepAlive = VI_FALSE;
};

struct Session
{
    bool manager = false;
    ViSession rm = VI_NULL; // owning manager of an instrument session
    Resource rsrc;
    Attrs attrs;
    std::mutex io; // one operation at a time on the connection
    std::unique_ptr<Transport> link;
};

enum Where : uint8_t { Instr = 1, Socket = 2, Both = 3 };

// Numeric attributes: width in bytes as viGetAttribute writes it (ViUInt8,
// ViUInt16 incl. ViBoolean, ViUInt32), where it exists, whether it can be
// set, and the values it takes.
struct AttrRow
{
    ViAttr id;
    uint8_t width;
    Where where;
    bool writable;
    ViUInt32 Attrs::*field;
    ViUInt32 lo, hi;
};

const AttrRow NumericAttrs[] = {
    {VI_ATTR_TMO_VALUE, 4, Both, true, &Attrs::tmo, 0, 0xFFFFFFFFu},
    {VI_ATTR_TERMCHAR, 1, Both, true, &Attrs::termChar, 0, 0xFF},
    {VI_ATTR_TERMCHAR_EN, 2, Both, true, &Attrs::termCharEn, VI_FALSE, VI_TRUE},
    {VI_ATTR_SEND_END_EN, 2, Both, true, &Attrs::sendEnd, VI_FALSE, VI_TRUE},
    {VI_ATTR_FILE_APPEND_EN, 2, Both, true, &Attrs::fileAppend, VI_FALSE, VI_TRUE},
    {VI_ATTR_RD_BUF_OPER_MODE, 2, Both, true, &Attrs::rdMode, VI_FLUSH_ON_ACCESS, VI_FLUSH_DISABLE},
    {VI_ATTR_WR_BUF_OPER_MODE, 2, Both, true, &Attrs::wrMode, VI_FLUSH_ON_ACCESS, VI_FLUSH_WHEN_FULL},
    {VI_ATTR_RD_BUF_SIZE, 4, Both, false, &Attrs::rdBufSize, 0, 0},
    {VI_ATTR_WR_BUF_SIZE, 4, Both, false, &Attrs::wrBufSize, 0, 0},
    {VI_ATTR_INTF_TYPE, 2, Both, false, &Attrs::intfType, 0, 0},
    {VI_ATTR_INTF_NUM, 2, Both, false, &Attrs::intfNum, 0, 0},
    {VI_ATTR_TCPIP_PORT, 2, Socket, false, &Attrs::port, 0, 0},
    {VI_ATTR_TCPIP_NODELAY, 2, Socket, true, &Attrs::noDelay, VI_FALSE, VI_TRUE},
    {VI_ATTR_TCPIP_KEEPALIVE, 2, Socket, true, &Attrs::keepAlive, VI_FALSE, VI_TRUE},
};

// String attributes, read-only, written into the caller's buffer of
// VI_FIND_BUFLEN bytes.
struct TextAttrRow
{
    ViAttr id;
    Where where;
    std::string (*get)(const Session&);
};

const TextAttrRow TextAttrs[] = {
    {VI_ATTR_RSRC_NAME, Both, [](const Session& s) { return s.rsrc.canonical(); }},
    {VI_ATTR_RSRC_CLASS, Both,
     [](const Session& s) { return std::string(s.rsrc.kind == Resource::Socket ? "SOCKET" : "INSTR"); }},
    {VI_ATTR_TCPIP_ADDR, Both, [](const Session& s) { return s.link->address(); }},
    {VI_ATTR_TCPIP_HOSTNAME, Both, [](const Session& s) { return s.rsrc.host; }},
    {VI_ATTR_TCPIP_DEVICE_NAME, Instr, [](const Session& s) { return s.rsrc.device; }},
};

Where whereOf(const Session& s) { return s.rsrc.kind == Resource::Socket ? Socket : Instr; }

std::mutex tableMutex;
std::map<ViSession, std::shared_ptr<Session>> table;
ViSession lastHandle = VI_NULL;

std::shared_ptr<Session> find(ViObject vi)
{
    std::lock_guard<std::mutex> lock(tableMutex);
    const auto it = table.find(vi);
    return it == table.end() ? nullptr : it->second;
}

// The instrument session behind vi, or the status that says why there is none.
ViStatus instrument(ViObject vi, std::shared_ptr<Session>* out)
{
    *out = find(vi);
    if (!*out)
        return VI_ERROR_INV_OBJECT;
    return (*out)->manager ? VI_ERROR_NSUP_OPER : VI_SUCCESS;
}

// Runs io on an open instrument session under its I/O lock. A bad handle is
// reported before a bad argument (argError), a closed link after both.
template <class F>
ViStatus withLink(ViObject vi, ViStatus argError, F io)
{
    std::shared_ptr<Session> s;
    const ViStatus st = instrument(vi, &s);
    if (st != VI_SUCCESS)
        return st;
    if (argError != VI_SUCCESS)
        return argError;
    std::lock_guard<std::mutex> lock(s->io);
    return s->link ? io(*s) : VI_ERROR_INV_OBJECT;
}

ViSession insert(std::shared_ptr<Session> s)
{
    std::lock_guard<std::mutex> lock(tableMutex);
    do {
        ++lastHandle;
    } while (lastHandle == VI_NULL || table.count(lastHandle));
    table.emplace(lastHandle, std::move(s));
    return lastHandle;
}

int termCharOf(const Attrs& a) { return a.termCharEn ? int(a.termChar) : -1; }

ViStatus readInto(Session& s, uint8_t* buf, size_t count, size_t* got)
{
    return s.link->read(buf, count, termCharOf(s.attrs), got, Deadline(s.attrs.tmo));
}

ViStatus writeAll(Session& s, const uint8_t* buf, size_t count, size_t* done)
{
    return s.link->write(buf, count, s.attrs.sendEnd != VI_FALSE, done, Deadline(s.attrs.tmo));
}

// Reads one message (up to MaxScanMessage bytes) for the formatted reads.
ViStatus readMessage(Session& s, std::vector<char>* msg)
{
    const Deadline dl(s.attrs.tmo);
    ViStatus st = VI_SUCCESS_MAX_CNT;
    size_t have = 0;
    while (st == VI_SUCCESS_MAX_CNT && have < MaxScanMessage) {
        msg->resize(have + ScanStep + 1);
        size_t got = 0;
        st = s.link->read(reinterpret_cast<uint8_t*>(msg->data() + have), ScanStep, termCharOf(s.attrs), &got, dl);
        have += got;
    }
    msg->resize(have + 1);
    (*msg)[have] = 0;
    return st < 0 ? st : VI_SUCCESS;
}

ViStatus printfOn(Session& s, const char* fmt, va_list* ap)
{
    std::string text;
    ViStatus st = formatMessage(fmt, ap, &text);
    if (st != VI_SUCCESS)
        return st;
    size_t done = 0;
    return writeAll(s, reinterpret_cast<const uint8_t*>(text.data()), text.size(), &done);
}

ViStatus scanfOn(Session& s, const char* fmt, va_list* ap)
{
    if (!fmt)
        return VI_ERROR_INV_FMT;
    std::vector<char> msg;
    const ViStatus st = readMessage(s, &msg);
    if (st != VI_SUCCESS)
        return st;
    return scanMessage(fmt, ap, msg.data(), msg.size() - 1);
}

void closeSession(Session& s)
{
    std::lock_guard<std::mutex> lock(s.io);
    if (s.link) {
        s.link->shutdown(Deadline(std::min(s.attrs.tmo, CloseTimeoutMs)));
        s.link.reset();
    }
}

} // namespace

} // namespace ovisa

using namespace ovisa;

extern "C" {

ViStatus viOpenDefaultRM(ViPSession vi)
{
    if (!vi)
        return VI_ERROR_USER_BUF;
    auto s = std::make_shared<Session>();
    s->manager = true;
    *vi = insert(std::move(s));
    return VI_SUCCESS;
}

ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt, ViChar desc[])
{
    if (vi)
        *vi = VI_NULL;
    if (retCnt)
        *retCnt = 0;
    if (desc)
        desc[0] = 0;
    const auto s = find(sesn);
    if (!s || !s->manager)
        return VI_ERROR_INV_OBJECT;
    if (!expr)
        return VI_ERROR_INV_EXPR;
    // LAN instruments are not discovered; they are opened by name.
    return VI_ERROR_RSRC_NFOUND;
}

ViStatus viFindNext(ViFindList, ViChar desc[])
{
    if (desc)
        desc[0] = 0;
    return VI_ERROR_INV_OBJECT;
}

ViStatus viStatusDesc(ViObject, ViStatus status, ViChar desc[])
{
    if (!desc)
        return VI_ERROR_USER_BUF;
    return describeStatus(status, desc, VI_FIND_BUFLEN);
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi)
{
    if (!vi)
        return VI_ERROR_USER_BUF;
    *vi = VI_NULL;
    const auto rm = find(sesn);
    if (!rm || !rm->manager)
        return VI_ERROR_INV_OBJECT;
    // Locks are not offered: only unlocked sessions can be opened.
    if ((mode & ~ViAccessMode(VI_LOAD_CONFIG)) != VI_NO_LOCK)
        return VI_ERROR_INV_ACC_MODE;
    auto s = std::make_shared<Session>();
    ViStatus st = parseResource(name, &s->rsrc);
    if (st != VI_SUCCESS)
        return st;
    // The open time-out bounds connecting; 0 means the session's default.
    const Deadline dl(timeout ? timeout : DefaultTimeoutMs);
    st = s->rsrc.kind == Resource::Socket ? openSocket(s->rsrc, dl, &s->link) : openVxi11(s->rsrc, dl, &s->link);
    if (st != VI_SUCCESS)
        return st;
    s->rm = sesn;
    s->attrs.intfNum = s->rsrc.board;
    s->attrs.port = s->rsrc.port;
    *vi = insert(std::move(s));
    return VI_SUCCESS;
}

ViStatus viClose(ViObject vi)
{
    if (vi == VI_NULL)
        return VI_WARN_NULL_OBJECT;
    std::vector<std::shared_ptr<Session>> closing;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        const auto it = table.find(vi);
        if (it == table.end())
            return VI_ERROR_INV_OBJECT;
        closing.push_back(it->second);
        table.erase(it);
        if (closing.front()->manager) {
            for (auto child = table.begin(); child != table.end();) {
                if (child->second->rm == vi) {
                    closing.push_back(child->second);
                    child = table.erase(child);
                } else {
                    ++child;
                }
            }
        }
    }
    for (const auto& s : closing)
        closeSession(*s);
    return VI_SUCCESS;
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue)
{
    const auto s = find(vi);
    if (!s)
        return VI_ERROR_INV_OBJECT;
    for (const AttrRow& row : NumericAttrs) {
        if (row.id != attrName)
            continue;
        if (s->manager || !(row.where & whereOf(*s)))
            return VI_ERROR_NSUP_ATTR;
        if (!row.writable)
            return VI_ERROR_ATTR_READONLY;
        if (attrValue < row.lo || attrValue > row.hi)
            return VI_ERROR_NSUP_ATTR_STATE;
        std::lock_guard<std::mutex> lock(s->io);
        if (attrName == VI_ATTR_TCPIP_NODELAY || attrName == VI_ATTR_TCPIP_KEEPALIVE) {
            const ViStatus st = s->link->setOption(attrName, attrValue != VI_FALSE);
            if (st != VI_SUCCESS)
                return st;
        }
        s->attrs.*row.field = ViUInt32(attrValue);
        return VI_SUCCESS;
    }
    for (const TextAttrRow& row : TextAttrs)
        if (row.id == attrName)
            return s->manager || !(row.where & whereOf(*s)) ? VI_ERROR_NSUP_ATTR : VI_ERROR_ATTR_READONLY;
    return VI_ERROR_NSUP_ATTR;
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue)
{
    const auto s = find(vi);
    if (!s)
        return VI_ERROR_INV_OBJECT;
    if (!attrValue)
        return VI_ERROR_USER_BUF;
    if (s->manager)
        return VI_ERROR_NSUP_ATTR;
    std::lock_guard<std::mutex> lock(s->io);
    for (const AttrRow& row : NumericAttrs) {
        if (row.id != attrName)
            continue;
        if (!(row.where & whereOf(*s)))
            return VI_ERROR_NSUP_ATTR;
        const ViUInt32 v = s->attrs.*row.field;
        const ViUInt8 v8 = ViUInt8(v);
        const ViUInt16 v16 = ViUInt16(v);
        std::memcpy(attrValue, row.width == 1 ? static_cast<const void*>(&v8)
                               : row.width == 2 ? static_cast<const void*>(&v16)
                                                : static_cast<const void*>(&v),
                    row.width);
        return VI_SUCCESS;
    }
    for (const TextAttrRow& row : TextAttrs) {
        if (row.id != attrName)
            continue;
        if (!(row.where & whereOf(*s)) || !s->link)
            return VI_ERROR_NSUP_ATTR;
        const std::string text = row.get(*s);
        const size_t n = std::min(text.size(), size_t(VI_FIND_BUFLEN - 1));
        std::memcpy(attrValue, text.data(), n);
        static_cast<char*>(attrValue)[n] = 0;
        return VI_SUCCESS;
    }
    return VI_ERROR_NSUP_ATTR;
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    if (retCnt)
        *retCnt = 0;
    return withLink(vi, !buf && cnt ? VI_ERROR_USER_BUF : VI_SUCCESS, [&](Session& s) {
        size_t got = 0;
        const ViStatus st = readInto(s, buf, cnt, &got);
        if (retCnt)
            *retCnt = ViUInt32(got);
        return st;
    });
}

ViStatus viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViPUInt32 retCnt)
{
    if (retCnt)
        *retCnt = 0;
    return withLink(vi, filename ? VI_SUCCESS : VI_ERROR_FILE_ACCESS, [&](Session& s) {
        const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (s.attrs.fileAppend ? O_APPEND : O_TRUNC);
        const int fd = open(filename, flags, 0666);
        if (fd < 0)
            return VI_ERROR_FILE_ACCESS;
        std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[std::max<size_t>(1, std::min<size_t>(cnt, FileChunk))]);
        if (!chunk) {
            close(fd);
            return VI_ERROR_ALLOC;
        }
        const Deadline dl(s.attrs.tmo);
        size_t total = 0;
        bool fileOk = true;
        ViStatus st = VI_SUCCESS_MAX_CNT;
        while (st == VI_SUCCESS_MAX_CNT && total < cnt) {
            size_t got = 0;
            st = s.link->read(chunk.get(), std::min<size_t>(cnt - total, FileChunk), termCharOf(s.attrs), &got, dl);
            if (!fdio::writeAll(fd, chunk.get(), got)) {
                fileOk = false;
                break;
            }
            total += got;
        }
        if (close(fd) != 0)
            fileOk = false;
        if (retCnt)
            *retCnt = ViUInt32(total);
        return fileOk ? st : VI_ERROR_FILE_IO;
    });
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    if (retCnt)
        *retCnt = 0;
    return withLink(vi, !buf && cnt ? VI_ERROR_USER_BUF : VI_SUCCESS, [&](Session& s) {
        size_t done = 0;
        const ViStatus st = writeAll(s, buf, cnt, &done);
        if (retCnt)
            *retCnt = ViUInt32(done);
        return st;
    });
}

ViStatus viClear(ViSession vi)
{
    return withLink(vi, VI_SUCCESS, [](Session& s) { return s.link->clear(Deadline(s.attrs.tmo)); });
}

ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size)
{
    std::shared_ptr<Session> s;
    const ViStatus st = instrument(vi, &s);
    if (st != VI_SUCCESS)
        return st;
    if (mask & ~(VI_READ_BUF | VI_WRITE_BUF | VI_IO_IN_BUF | VI_IO_OUT_BUF))
        return VI_ERROR_INV_MASK;
    // Formatted I/O buffers its data per call, so the sizes are only kept.
    std::lock_guard<std::mutex> lock(s->io);
    if (mask & VI_READ_BUF)
        s->attrs.rdBufSize = size;
    if (mask & VI_WRITE_BUF)
        s->attrs.wrBufSize = size;
    return VI_SUCCESS;
}

ViStatus viPrintf(ViSession vi, ViConstString writeFmt, ...)
{
    va_list ap;
    va_start(ap, writeFmt);
    const ViStatus st = withLink(vi, VI_SUCCESS, [&](Session& s) { return printfOn(s, writeFmt, &ap); });
    va_end(ap);
    return st;
}

ViStatus viScanf(ViSession vi, ViConstString readFmt, ...)
{
    va_list ap;
    va_start(ap, readFmt);
    const ViStatus st = withLink(vi, VI_SUCCESS, [&](Session& s) { return scanfOn(s, readFmt, &ap); });
    va_end(ap);
    return st;
}

ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...)
{
    va_list ap;
    va_start(ap, readFmt);
    const ViStatus st = withLink(vi, VI_SUCCESS, [&](Session& s) {
        const ViStatus w = printfOn(s, writeFmt, &ap);
        return w == VI_SUCCESS ? scanfOn(s, readFmt, &ap) : w;
    });
    va_end(ap);
    return st;
}

ViStatus viReadSTB(ViSession vi, ViPUInt16 status)
{
    return withLink(vi, status ? VI_SUCCESS : VI_ERROR_USER_BUF,
                    [&](Session& s) { return s.link->readStb(status, Deadline(s.attrs.tmo)); });
}

ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode)
{
    std::shared_ptr<Session> s;
    const ViStatus st = instrument(vi, &s);
    if (st != VI_SUCCESS)
        return st;
    std::lock_guard<std::mutex> lock(s->io);
    return s->link ? s->link->controlRen(mode, Deadline(s->attrs.tmo)) : VI_ERROR_INV_OBJECT;
}

} // extern "C"
