#include "visa/rsrc.h"

#include <cstring>
#include <strings.h>
#include <vector>

namespace ovisa {

namespace {

// Interfaces that exist in VISA but not on a LAN-only library: their
// resources are valid names that cannot be found here.
const char* const OtherInterfaces[] = {"GPIB-VXI", "GPIB", "VXI", "ASRL", "USB", "PXI"};
// LAN device names of protocols other than VXI-11.
const char* const OtherLanProtocols[] = {"hislip"};

bool startsWithNoCase(const std::string& s, const char* prefix)
{
    return strncasecmp(s.c_str(), prefix, std::strlen(prefix)) == 0;
}

bool equalsNoCase(const std::string& s, const char* word) { return strcasecmp(s.c_str(), word) == 0; }

bool allDigits(const std::string& s)
{
    if (s.empty() || s.size() > 9)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Splits at "::"; a host in brackets (IPv6) may contain colons.
bool split(const std::string& name, std::vector<std::string>* parts)
{
    size_t pos = 0;
    for (;;) {
        size_t from = pos;
        if (parts->size() == 1 && pos < name.size() && name[pos] == '[') {
            const size_t close = name.find(']', pos);
            if (close == std::string::npos)
                return false;
            from = close;
        }
        const size_t sep = name.find("::", from);
        parts->push_back(name.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos));
        if (sep == std::string::npos)
            return true;
        pos = sep + 2;
    }
}

} // namespace

std::string Resource::canonical() const
{
    std::string s = "TCPIP" + std::to_string(board) + "::" + host + "::";
    return kind == Socket ? s + std::to_string(port) + "::SOCKET" : s + device + "::INSTR";
}

ViStatus parseResource(const char* name, Resource* out)
{
    if (!name)
        return VI_ERROR_INV_RSRC_NAME;
    std::vector<std::string> parts;
    if (!split(name, &parts))
        return VI_ERROR_INV_RSRC_NAME;
    const std::string& intf = parts[0];
    if (!startsWithNoCase(intf, "TCPIP")) {
        for (const char* other : OtherInterfaces)
            if (startsWithNoCase(intf, other))
                return parts.size() > 1 ? VI_ERROR_RSRC_NFOUND : VI_ERROR_INV_RSRC_NAME;
        return VI_ERROR_INV_RSRC_NAME;
    }
    Resource r;
    const std::string boardText = intf.substr(5);
    if (!boardText.empty() && !allDigits(boardText))
        return VI_ERROR_INV_RSRC_NAME;
    r.board = boardText.empty() ? 0 : unsigned(std::stoul(boardText));
    if (parts.size() < 2 || parts.size() > 4 || parts[1].empty())
        return VI_ERROR_INV_RSRC_NAME;
    r.host = parts[1];
    if (r.host.front() == '[') {
        if (r.host.back() != ']')
            return VI_ERROR_INV_RSRC_NAME;
        r.host = r.host.substr(1, r.host.size() - 2);
    }
    if (r.host.empty())
        return VI_ERROR_INV_RSRC_NAME;

    const std::string last = parts.size() > 2 ? parts.back() : std::string();
    if (parts.size() == 4 && equalsNoCase(last, "SOCKET")) {
        if (!allDigits(parts[2]))
            return VI_ERROR_INV_RSRC_NAME;
        const unsigned long port = std::stoul(parts[2]);
        if (port == 0 || port > 65535)
            return VI_ERROR_INV_RSRC_NAME;
        r.kind = Resource::Socket;
        r.port = uint16_t(port);
    } else {
        const bool instrWord = equalsNoCase(last, "INSTR");
        if (parts.size() == 4 && !instrWord)
            return VI_ERROR_INV_RSRC_NAME;
        const size_t deviceParts = parts.size() - (instrWord ? 3 : 2);
        if (deviceParts == 1) {
            r.device = parts[2];
            if (r.device.empty() || equalsNoCase(r.device, "SOCKET"))
                return VI_ERROR_INV_RSRC_NAME;
        }
        for (const char* other : OtherLanProtocols)
            if (startsWithNoCase(r.device, other))
                return VI_ERROR_RSRC_NFOUND;
    }
    *out = r;
    return VI_SUCCESS;
}

} // namespace ovisa
