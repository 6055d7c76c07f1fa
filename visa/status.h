#pragma once

#include "common/visadefs.h"

#include <cstddef>

namespace ovisa {

// Writes the description of a status into desc (at most size bytes with the
// terminating zero); VI_WARN_UNKNOWN_STATUS for a code this library does not
// know, VI_SUCCESS otherwise.
ViStatus describeStatus(ViStatus status, char* desc, size_t size);

} // namespace ovisa
