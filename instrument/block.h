// IEEE 488.2 arbitrary blocks as instruments answer data queries:
// "#<d><d digits of length>" + data, "#(<length>)" + data for lengths of
// more than nine digits, or "#0" + data up to the end of the message.
#pragma once

#include "common/visadefs.h"

#include <QString>
#include <cstdint>

// Status of an answer that is no block, or that ends inside its header.
constexpr ViStatus kNoBlock = VI_ERROR_INV_FMT;

struct BlockHdr {
    bool Indefinite = false;   // "#0": the data runs to the end of the message
    bool Ended = false;        // the message ended with the header itself
    uint64_t Len = 0;          // data bytes of a definite block
};

// Reads a block header from the session, byte counts exactly as announced so
// that the data follows unread. VI_SUCCESS, a VISA error, or kNoBlock with
// the reason in LastDetail().
ViStatus ReadBlockHdr(unsigned vi, BlockHdr* h);

// Reads and drops the rest of the current message.
ViStatus DrainMessage(unsigned vi);

// Reads the data of a definite block of h.Len bytes into a file, in pieces,
// then its terminator. VI_SUCCESS, a VISA error, kNoBlock when the message
// ends early, or VI_ERROR_FILE_IO. An indefinite block leaves the file empty.
ViStatus ReadBlockToFile(unsigned vi, const BlockHdr& h, const QString& path);
