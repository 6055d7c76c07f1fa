#include "visa/eom.h"

#include <algorithm>
#include <cstring>

namespace ovisa {

namespace {
// A "#(" length beyond this many digits is not a block header: the count
// must fit 64 bits.
constexpr uint8_t MaxParenDigits = 18;

bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }
} // namespace

void EomScanner::reset()
{
    state_ = Text;
    elementStart_ = true;
    quoted_ = false;
    digits_ = 0;
    remaining_ = 0;
}

bool EomScanner::header(uint8_t c)
{
    switch (state_) {
    case Hash:
        if (c == '0') {
            state_ = Indefinite;
        } else if (c >= '1' && c <= '9') {
            digits_ = uint8_t(c - '0');
            remaining_ = 0;
            state_ = Digits;
        } else if (c == '(') {
            digits_ = 0;
            remaining_ = 0;
            state_ = Paren;
        } else {
            return false;
        }
        return true;
    case Digits:
        if (!isDigit(c))
            return false;
        remaining_ = remaining_ * 10 + (c - '0');
        if (--digits_ == 0)
            state_ = remaining_ ? Block : Text;
        return true;
    case Paren:
        if (c == ')' && digits_ > 0) {
            state_ = remaining_ ? Block : Text;
            return true;
        }
        if (!isDigit(c) || digits_ == MaxParenDigits)
            return false;
        remaining_ = remaining_ * 10 + (c - '0');
        ++digits_;
        return true;
    default:
        return false;
    }
}

size_t EomScanner::feed(const uint8_t* p, size_t n, bool* end)
{
    *end = false;
    size_t i = 0;
    while (i < n) {
        switch (state_) {
        case Block: {
            const uint64_t take = std::min<uint64_t>(remaining_, n - i);
            i += size_t(take);
            remaining_ -= take;
            if (remaining_ == 0) {
                state_ = Text;
                elementStart_ = false;
            }
            break;
        }
        case Indefinite: {
            const void* lf = std::memchr(p + i, '\n', n - i);
            if (!lf)
                return n;
            i = size_t(static_cast<const uint8_t*>(lf) - p) + 1;
            reset();
            *end = true;
            return i;
        }
        case Text: {
            const uint8_t c = p[i++];
            if (c == '\n') {
                reset();
                *end = true;
                return i;
            }
            if (c == '"') {
                quoted_ = !quoted_;
                elementStart_ = false;
            } else if (c == '#' && elementStart_ && !quoted_) {
                state_ = Hash;
                elementStart_ = false;
            } else {
                elementStart_ = !quoted_ && (c == ',' || c == ';' || c == ' ' || c == '\t');
            }
            break;
        }
        default:
            if (header(p[i])) {
                ++i;
            } else {
                // Not a header after all: the byte is text, and what came
                // before it was no element start.
                state_ = Text;
                elementStart_ = false;
            }
            break;
        }
    }
    return n;
}

} // namespace ovisa
