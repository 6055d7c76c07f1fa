// Streaming conversion between the large-file types: a scan of the source
// for the destination's scale, then a copy block by block, so files far
// larger than memory convert in a few MB.
#pragma once

#include "blockio.h"

// Copies the file named by rec (its type a tl row) into dest as the type of
// format code destCode. On success rec holds the source's sample count,
// clock, block count and remainder; its sample arrays are not touched.
int32_t CopyDatFile(IQDatStr* rec, const QString& dest, int32_t destCode);

// Block functions of the record's type (tl row), or of a format code, as
// wired in fmtTab; ST_UNSUPP for a type without them.
int32_t OpenR_IQ(IQDatStr* rec, io::Reader* in, uint16_t* wavFmt, bool findRange, bool findPower);
int32_t Read_IQ(IQDatStr* rec, io::Reader* in, uint64_t n, uint16_t wavFmt);
int32_t OpenW_IQ(IQDatStr rec, BlockOut* out, int32_t destCode, double* scale);
void Writ_IQ(IQDatStr rec, BlockOut* out, uint64_t n, int32_t destCode, double scale);

// How a source of n samples splits into full blocks and the rest.
struct BlockSplit {
    uint64_t blocks;
    uint64_t rest;
};
BlockSplit SplitBlocks(uint64_t n);
