// Hex text types for hardware test benches (16-bit ones' complement, 10-bit
// and 17-bit offset binary, one "I Q" line per sample) and the DAB-V1 symbol
// file (an I block and a Q block of "%0.7e" lines, each behind a two-line
// header).
#pragma once

#include "iqdata.h"

// The writers scale I and Q by one common factor so that the larger of the
// two peaks fills the code range; an all-zero record writes the zero code.
int32_t SaveHex16Mix(IQDatStr rec, const QString& file);
int32_t SaveHex10Mix(IQDatStr rec, const QString& file);
int32_t SaveHex17Mix(IQDatStr rec, const QString& file);

// The readers give values normalised to a full scale of +-1: the 16-bit
// reader divides by 32767, the 10- and 17-bit readers invert their writers
// so that saving what they read reproduces a full-scale file code for code.
int32_t LoadHex16Mix(IQDatStr* rec);
int32_t LoadHex10Mix(IQDatStr* rec);
int32_t LoadHex17Mix(IQDatStr* rec);

int32_t SaveDAB(IQDatStr rec, const QString& file);
int32_t LoadDAB(IQDatStr* rec);
