// WV waveform files: a text header of tags in braces, then I/Q pairs as
// 16-bit integers, then "}". Scrambled waveforms are recognised and refused.
#pragma once

#include "blockio.h"

#include <QDateTime>

int32_t LoadHvWv(IQDatStr* rec);
int32_t SaveHvWv(IQDatStr rec, const QString& file);

int32_t OpenR_HvWv(IQDatStr* rec, io::Reader* in, bool findRange, bool findPower);
// The WV block read: n pairs of signed 16-bit values, unscaled.
int32_t ReadShUnion(IQDatStr* rec, io::Reader* in, uint64_t n);
int32_t OpenW_HvWv(IQDatStr rec, BlockOut* out, double* scale, bool findPower);
void Writ_HvWv(IQDatStr rec, BlockOut* out, uint64_t n, double scale);
// Ends the file after the last block.
void Tail_HvWv(BlockOut* out);

// The header written before n samples whose largest magnitude is peak and
// whose squared magnitudes sum to sum, stamped with the given time.
QByteArray WvHeader(double peak, double sum, uint64_t n, double clock, const QDateTime& now);
