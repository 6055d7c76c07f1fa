#include "visa/format.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ovisa {

namespace {

// Widths and precisions beyond this are taken as a broken format string.
constexpr int MaxField = 65535;

enum Length { None, Short, Long, LongLong };

struct Spec
{
    std::string flags;
    int width = -1;
    int precision = -1;
    bool sizeArg = false; // '#': the field's size comes from an argument
    Length length = None;
    char conv = 0;
};

bool number(const char*& f, int* v)
{
    if (!std::isdigit(static_cast<unsigned char>(*f)))
        return false;
    long n = 0;
    while (std::isdigit(static_cast<unsigned char>(*f)) && n <= MaxField)
        n = n * 10 + (*f++ - '0');
    *v = int(n);
    return n <= MaxField;
}

// Parses the conversion after '%'; f ends past it. False for a broken conversion.
bool parseSpec(const char*& f, va_list* ap, bool reading, Spec* s)
{
    while (*f && std::strchr(reading ? "#" : "-+ #0", *f)) {
        if (*f == '#' && reading)
            s->sizeArg = true;
        else
            s->flags += *f;
        ++f;
    }
    if (!reading && *f == '*') {
        s->width = va_arg(*ap, int);
        ++f;
        if (s->width < -MaxField || s->width > MaxField)
            return false;
    } else if (std::isdigit(static_cast<unsigned char>(*f)) && !number(f, &s->width)) {
        return false;
    }
    if (!reading && *f == '.') {
        ++f;
        s->precision = 0;
        if (*f == '*') {
            s->precision = va_arg(*ap, int);
            ++f;
            if (s->precision > MaxField)
                return false;
        } else if (std::isdigit(static_cast<unsigned char>(*f)) && !number(f, &s->precision)) {
            return false;
        }
    }
    if (*f == 'h') {
        s->length = Short;
        ++f;
    } else if (*f == 'l') {
        s->length = Long;
        if (*++f == 'l') {
            s->length = LongLong;
            ++f;
        }
    }
    s->conv = *f;
    if (!*f)
        return false;
    ++f;
    return true;
}

template <typename T>
void append(std::string* out, const Spec& s, const char* lengthText, T value)
{
    std::string pattern = "%" + s.flags;
    if (s.width >= 0 || s.width < -1)
        pattern += std::to_string(s.width);
    if (s.precision >= 0)
        pattern += "." + std::to_string(s.precision);
    pattern += lengthText;
    pattern += s.conv;
    const int n = std::snprintf(nullptr, 0, pattern.c_str(), value);
    if (n <= 0)
        return;
    const size_t at = out->size();
    out->resize(at + size_t(n) + 1);
    std::snprintf(&(*out)[at], size_t(n) + 1, pattern.c_str(), value);
    out->resize(at + size_t(n));
}

const char* skipSpace(const char* p, const char* end)
{
    while (p < end && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    return p;
}

// Copies a numeric field (at most width characters) into a terminated buffer.
void field(const char* p, const char* end, int width, char (&buf)[64])
{
    size_t n = size_t(end - p);
    const size_t limit = width > 0 ? size_t(width) : sizeof buf - 1;
    n = std::min(n, std::min(limit, sizeof buf - 1));
    std::memcpy(buf, p, n);
    buf[n] = 0;
}

} // namespace

ViStatus formatMessage(const char* fmt, va_list* ap, std::string* out)
{
    if (!fmt)
        return VI_ERROR_INV_FMT;
    for (const char* f = fmt; *f;) {
        if (*f != '%') {
            *out += *f++;
            continue;
        }
        ++f;
        Spec s;
        if (!parseSpec(f, ap, false, &s))
            return VI_ERROR_INV_FMT;
        const char* len = s.length == Long ? "l" : s.length == LongLong ? "ll" : "";
        switch (s.conv) {
        case '%':
            *out += '%';
            break;
        case 'd':
        case 'i':
            if (s.length == LongLong)
                append(out, s, len, va_arg(*ap, long long));
            else if (s.length == Long)
                append(out, s, len, va_arg(*ap, long));
            else
                append(out, s, "", va_arg(*ap, int));
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            if (s.length == LongLong)
                append(out, s, len, va_arg(*ap, unsigned long long));
            else if (s.length == Long)
                append(out, s, len, va_arg(*ap, unsigned long));
            else
                append(out, s, "", va_arg(*ap, unsigned));
            break;
        case 'f':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            append(out, s, "", va_arg(*ap, double));
            break;
        case 'c':
            append(out, s, "", va_arg(*ap, int));
            break;
        case 's': {
            const char* text = va_arg(*ap, const char*);
            append(out, s, "", text ? text : "");
            break;
        }
        default:
            return VI_ERROR_NSUP_FMT;
        }
    }
    return VI_SUCCESS;
}

ViStatus scanMessage(const char* fmt, va_list* ap, const char* text, size_t len)
{
    if (!fmt)
        return VI_ERROR_INV_FMT;
    const char* p = text;
    const char* const end = text + len;
    for (const char* f = fmt; *f;) {
        if (std::isspace(static_cast<unsigned char>(*f))) {
            p = skipSpace(p, end);
            ++f;
            continue;
        }
        if (*f != '%' || f[1] == '%') {
            const char c = *f == '%' ? *++f : *f;
            ++f;
            if (p == end || *p != c)
                return VI_SUCCESS;
            ++p;
            continue;
        }
        ++f;
        Spec s;
        if (!parseSpec(f, ap, true, &s))
            return VI_ERROR_INV_FMT;
        switch (s.conv) {
        case 'd':
        case 'i':
        case 'u':
        case 'x': {
            p = skipSpace(p, end);
            char buf[64];
            field(p, end, s.width, buf);
            char* stop = nullptr;
            const int base = s.conv == 'x' ? 16 : s.conv == 'i' ? 0 : 10;
            const long long v = s.conv == 'u' || s.conv == 'x' ? (long long)std::strtoull(buf, &stop, base)
                                                                : std::strtoll(buf, &stop, base);
            if (stop == buf)
                return VI_SUCCESS;
            p += stop - buf;
            if (s.length == LongLong)
                *va_arg(*ap, long long*) = v;
            else if (s.length == Long)
                *va_arg(*ap, long*) = long(v);
            else if (s.length == Short)
                *va_arg(*ap, short*) = short(v);
            else
                *va_arg(*ap, int*) = int(v);
            break;
        }
        case 'f':
        case 'e':
        case 'g': {
            p = skipSpace(p, end);
            char buf[64];
            field(p, end, s.width, buf);
            char* stop = nullptr;
            const double v = std::strtod(buf, &stop);
            if (stop == buf)
                return VI_SUCCESS;
            p += stop - buf;
            if (s.length == Long)
                *va_arg(*ap, double*) = v;
            else
                *va_arg(*ap, float*) = float(v);
            break;
        }
        case 'c': {
            const size_t n = size_t(s.width > 0 ? s.width : 1);
            if (size_t(end - p) < n)
                return VI_SUCCESS;
            std::memcpy(va_arg(*ap, char*), p, n);
            p += n;
            break;
        }
        case 's':
        case 't': {
            // %s takes one word, %t the rest of the message. The buffer's
            // size comes from the width or, with '#', from an argument.
            ViUInt32* sizeArg = s.sizeArg ? va_arg(*ap, ViUInt32*) : nullptr;
            char* dst = va_arg(*ap, char*);
            if (!dst)
                return VI_ERROR_USER_BUF;
            size_t room = sizeArg ? *sizeArg : s.width > 0 ? size_t(s.width) + 1 : size_t(-1);
            if (room == 0)
                return VI_ERROR_USER_BUF;
            if (s.conv == 's')
                p = skipSpace(p, end);
            size_t n = 0;
            while (p + n < end && n + 1 < room && (s.conv == 't' || !std::isspace(static_cast<unsigned char>(p[n]))))
                ++n;
            std::memcpy(dst, p, n);
            dst[n] = 0;
            p += n;
            if (sizeArg)
                *sizeArg = ViUInt32(n);
            break;
        }
        default:
            return VI_ERROR_NSUP_FMT;
        }
    }
    return VI_SUCCESS;
}

} // namespace ovisa
