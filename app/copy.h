// The window's one call into the streaming conversion.
#pragma once

#include "formats/iqdata.h"

// Converts the files named by rec into dest as the type of destCode, block by
// block; the status convention is LoadDatFile's.
int32_t CopyIQ(IQDatStr* rec, const QString& dest, int32_t destCode);
