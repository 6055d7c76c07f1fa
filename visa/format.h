// The formatted-I/O subset of viPrintf, viScanf and viQueryf: conversions
// %d %i %u %x %o %c %s %f %e %g %% (with flags, width, precision, h/l/ll)
// for writing; %d %i %u %x %f %e %g %c %s %t %% (width, '#' size argument,
// h/l/ll) for reading. The argument list is shared through a pointer so that
// viQueryf reads its reply into the arguments after those of its command.
#pragma once

#include "common/visadefs.h"

#include <cstdarg>
#include <cstddef>
#include <string>

namespace ovisa {

ViStatus formatMessage(const char* fmt, va_list* ap, std::string* out);

// Assigns the fields of the message text[0..len) (text[len] must be 0) to
// the arguments. Stops quietly at the first field the text does not match;
// the arguments of that field and the following ones stay untouched.
ViStatus scanMessage(const char* fmt, va_list* ap, const char* text, size_t len);

} // namespace ovisa
