#include "block.h"
#include "hvvisa.h"
#include "formats/iqdata.h"

#include <QFile>
#include <memory>

namespace {

// A "#(" length has at most this many digits: any more overflow 64 bits.
constexpr int kParenDigits = 19;
constexpr unsigned kFilePiece = 1u << 20;

ViStatus NoBlock(const QString& why)
{
    SetDetail(why);
    return kNoBlock;
}

// Reads exactly n header bytes; the message must go on after them.
ViStatus ReadMore(unsigned vi, unsigned char* p, unsigned n, bool* ended)
{
    unsigned got = 0;
    const ViStatus st = hvRead(vi, p, n, &got);
    if (st < VI_SUCCESS)
        return st;
    *ended = st == VI_SUCCESS;
    if (got != n)
        return NoBlock(QStringLiteral("The instrument's answer ended inside a block header."));
    return VI_SUCCESS;
}

} // namespace

ViStatus ReadBlockHdr(unsigned vi, BlockHdr* h)
{
    *h = BlockHdr();
    unsigned char b[kParenDigits + 1];
    bool ended = false;
    ViStatus st = ReadMore(vi, b, 2, &ended);
    if (st != VI_SUCCESS)
        return st;
    if (b[0] != '#')
        return NoBlock(QStringLiteral("The instrument answered no data block."));
    if (b[1] == '0') {
        h->Indefinite = true;
        h->Ended = ended;
        return VI_SUCCESS;
    }
    int digits = 0;
    if (b[1] >= '1' && b[1] <= '9') {
        digits = b[1] - '0';
        if (ended)
            return NoBlock(QStringLiteral("The instrument's answer ended inside a block header."));
        if ((st = ReadMore(vi, b, unsigned(digits), &ended)) != VI_SUCCESS)
            return st;
    } else if (b[1] == '(') {
        for (;; ++digits) {
            if (ended)
                return NoBlock(QStringLiteral("The instrument's answer ended inside a block header."));
            if ((st = ReadMore(vi, b + digits, 1, &ended)) != VI_SUCCESS)
                return st;
            if (b[digits] == ')')
                break;
            if (digits == kParenDigits)
                return NoBlock(QStringLiteral("The block header announces an impossible length."));
        }
    } else {
        return NoBlock(QStringLiteral("The instrument answered no data block."));
    }
    uint64_t len = 0;
    for (int k = 0; k < digits; ++k) {
        if (b[k] < '0' || b[k] > '9' || len > (UINT64_MAX - 9) / 10)
            return NoBlock(QStringLiteral("The block header announces an impossible length."));
        len = len * 10 + uint64_t(b[k] - '0');
    }
    if (digits == 0 || (ended && len > 0))
        return NoBlock(QStringLiteral("The instrument's answer ended inside a block header."));
    h->Len = len;
    h->Ended = ended;
    return VI_SUCCESS;
}

ViStatus DrainMessage(unsigned vi)
{
    unsigned char buf[4096];
    ViStatus st = VI_SUCCESS_MAX_CNT;
    while (st == VI_SUCCESS_MAX_CNT) {
        unsigned got = 0;
        st = hvRead(vi, buf, sizeof buf, &got);
    }
    return st < VI_SUCCESS ? st : VI_SUCCESS;
}

ViStatus ReadBlockToFile(unsigned vi, const BlockHdr& h, const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return VI_ERROR_FILE_IO;
    std::unique_ptr<unsigned char[]> buf(new unsigned char[kFilePiece]);
    if (h.Indefinite)
        return h.Ended ? VI_SUCCESS : DrainMessage(vi);
    uint64_t left = h.Len;
    ViStatus st = h.Ended ? VI_SUCCESS : VI_SUCCESS_MAX_CNT;
    while (left > 0) {
        if (st == VI_SUCCESS)
            return NoBlock(QStringLiteral("The instrument's answer ended %1 bytes before the end of its block.").arg(left));
        const unsigned want = unsigned(std::min<uint64_t>(left, kFilePiece));
        unsigned got = 0;
        st = hvRead(vi, buf.get(), want, &got);
        if (st < VI_SUCCESS)
            return st;
        if (got > want || f.write(reinterpret_cast<const char*>(buf.get()), got) != qint64(got))
            return VI_ERROR_FILE_IO;
        left -= got;
    }
    // The terminator, unless the data ended the message itself.
    if (st != VI_SUCCESS) {
        unsigned got = 0;
        st = hvRead(vi, buf.get(), 1, &got);
        if (st < VI_SUCCESS)
            return st;
    }
    return f.flush() ? VI_SUCCESS : VI_ERROR_FILE_IO;
}
