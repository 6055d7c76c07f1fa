// End-of-message detection for byte streams without an END indicator (raw
// TCP sockets). A message ends at a line feed that lies outside an IEEE 488.2
// arbitrary block: definite "#<d><len>", the "#(<len>)" form for lengths of
// more than nine digits, and the indefinite "#0" (data up to the next line
// feed). The scanner keeps its state between calls, so a message may be fed
// in pieces of any size, down to single bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ovisa {

class EomScanner
{
public:
    // Consumes bytes of the current message from p[0..n). Returns how many
    // belong to it; when the message ends inside the range, *end is set, the
    // returned count includes the terminating line feed and the scanner is
    // ready for the next message. Bytes past the count are not looked at.
    size_t feed(const uint8_t* p, size_t n, bool* end);

    // Data bytes still to come in the definite block being read (0 outside
    // one); a reader may move that many bytes without scanning them.
    uint64_t blockRemaining() const { return state_ == Block ? remaining_ : 0; }

    void reset();

private:
    enum State : uint8_t { Text, Hash, Digits, Paren, Block, Indefinite };
    // Returns false when the byte is not part of a block header, so the
    // header scan ends and the byte is looked at again as text.
    bool header(uint8_t c);

    State state_ = Text;
    bool elementStart_ = true; // a block may start here (message or element start)
    bool quoted_ = false;      // inside a "string"
    uint8_t digits_ = 0;       // digits still expected (definite) or seen ("#(")
    uint64_t remaining_ = 0;   // length being parsed, then block bytes to come
};

} // namespace ovisa
