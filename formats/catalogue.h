// The one place where a file type is wired to its functions: tl/ts map list
// rows to format codes, fmtTab maps format codes to readers and writers.
#pragma once

#include "blockio.h"
#include "iqdata.h"

using LoadFn = int32_t (*)(IQDatStr*);
// Every writer gets the format code and both names; one-file writers ignore
// the Q name. Returns ST_OK or a negative status; never destroys an existing
// destination on failure.
using SaveFn = int32_t (*)(IQDatStr rec, int32_t code, const QString& fileI, const QString& fileQ);

struct FmtFn {
    LoadFn load;        // LoadDatFile's reader; null: the type cannot be read
    SaveFn save;        // SaveDatFile's writer; null: the type cannot be written
    LoadFn appendLoad;  // reads the destination back for append; null: no append
    BlockFn block = {}; // streaming copy (Copy IQ); empty: the type does not stream
};

extern const FmtFn fmtTab[FMT_CODES];

// The functions of a format code, or null for a code without a row.
const FmtFn* FmtOf(int32_t code);
