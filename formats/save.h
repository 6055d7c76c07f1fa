// The dispatchers from a list row to a type's functions. Load: empties the
// record and reads its files as the load type. Save: writes the data in
// memory in a save type, optionally appended to what the destination
// already holds, with guard samples.
#pragma once

#include "iqdata.h"
#include "instrument/anastr.h"

int32_t LoadDatFile(IQDatStr* rec);
int32_t SaveDatFile(IQDatStr* dat, IQDatStr* dst, IQDatStr* sav, AnaStr ana,
                    bool append, int32_t guard, bool* result);
int32_t BldDstArr(IQDatStr* out, IQDatStr old, IQDatStr add, int32_t guard, bool* result);
