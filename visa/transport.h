// One connection to an instrument: the operations of an instrument session
// that depend on the protocol (VXI-11 or a raw TCP socket).
#pragma once

#include "common/visadefs.h"
#include "visa/deadline.h"
#include "visa/rsrc.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ovisa {

class Transport
{
public:
    virtual ~Transport() = default;

    // Sends n bytes, the last with END when end is set; *done counts the
    // bytes the peer took.
    virtual ViStatus write(const uint8_t* p, size_t n, bool end, size_t* done, const Deadline& dl) = 0;
    // Reads at most n bytes of the current message: VI_SUCCESS at its end,
    // VI_SUCCESS_TERM_CHAR after termChar (when 0..255), VI_SUCCESS_MAX_CNT
    // when n bytes came first (the rest stays for the next read).
    virtual ViStatus read(uint8_t* p, size_t n, int termChar, size_t* got, const Deadline& dl) = 0;
    virtual ViStatus clear(const Deadline& dl) = 0;
    virtual ViStatus readStb(ViUInt16* stb, const Deadline& dl) = 0;
    virtual ViStatus controlRen(ViUInt16 mode, const Deadline& dl) = 0;
    // Applies a connection option (VI_ATTR_TCPIP_NODELAY, _KEEPALIVE).
    virtual ViStatus setOption(ViAttr attr, bool on) = 0;
    // Ends the connection politely (VXI-11 destroy_link); the destructor
    // only releases it.
    virtual void shutdown(const Deadline& dl) = 0;

    const std::string& address() const { return address_; }

protected:
    std::string address_;
};

// Both return VI_SUCCESS with *out set, or the status of the failure.
ViStatus openSocket(const Resource& r, const Deadline& dl, std::unique_ptr<Transport>* out);
ViStatus openVxi11(const Resource& r, const Deadline& dl, std::unique_ptr<Transport>* out);

} // namespace ovisa
