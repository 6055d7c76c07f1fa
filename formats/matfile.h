// MAT-files of version 5 through the matio library: "Matlab binary single"
// keeps I and Q in two files (variables "I" and "Q"), "Matlab binary mixed"
// both in one file. Writers store real single-precision 1 x N rows without
// compression; readers take variables by position, whatever their names.
#pragma once

#include "iqdata.h"

int32_t SaveMLabBinSgl(IQDatStr rec, const QString& fileI, const QString& fileQ);
int32_t SaveMLabBinMix(IQDatStr rec, const QString& file);

// Real numeric variables of any class (double, single, integer, logical)
// are converted to float32; complex and non-numeric variables are refused.
int32_t LoadMLabBinSgl(IQDatStr* rec);
int32_t LoadMLabBinMix(IQDatStr* rec);
