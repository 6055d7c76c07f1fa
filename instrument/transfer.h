// Fetching trace data: IEEE 488.2 blocks of little-endian float32 values,
// read straight into the load record (ReadIQ) or through a temporary file
// into a vector (ReadArray, IntReadArray).
#pragma once

#include "anastr.h"
#include "formats/iqdata.h"

#include <QVector>

// Sends "TRAC:IQ:DATA?" and reads the answer into d. d->N on entry is the
// requested sample count, which sizes the arrays; on success d->N is the
// count actually received (never more than requested or announced). Bit 0
// of which keeps the I values, bit 1 the Q values (the other channel reads
// as 0). Every value is divided by divisor (by 1000 more for the types whose
// raw data needs it); I then Q blocks are weighted by CnvWin. Shows progress
// and stops on Cancel (EscFlg) or BrkFlg with ST_CANCEL. Returns 0, ST_CANCEL
// or a negative VISA status; on failure d holds no samples.
int ReadIQ(AnaStr* a, IQDatStr* d, char which, double divisor);

// Writes query and reads the block it answers with IntReadArray.
bool ReadArray(unsigned vi, const QString& query, QVector<double>* out);
// Reads one block of float32 values into out as doubles, through the file
// "Trace.tmp" in a temporary folder that is removed whatever happens.
bool IntReadArray(unsigned vi, QVector<double>* out);

// The time-out of a trace read: the record's duration plus 10 s, at least 60 s.
unsigned ReadTimeoutMs(uint64_t samples, double srate);
