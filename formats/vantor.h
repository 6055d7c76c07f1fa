// Raw recorder files: a data file of 16-bit I/Q pairs ("*.wvd") and beside
// it a one-line text header with the same base name and ".wvh".
#pragma once

#include "blockio.h"

#include <QDateTime>

int32_t LoadVantorRaw(IQDatStr* rec);
int32_t SaveVantorRaw(IQDatStr rec, const QString& file);

int32_t OpenR_VantorRaw(IQDatStr* rec, io::Reader* in, bool findRange, bool findPower);
int32_t Read_VantorRaw(IQDatStr* rec, io::Reader* in, uint64_t n);
int32_t OpenW_VantorRaw(IQDatStr rec, BlockOut* out, double* scale, bool findRange);
void Writ_VantorRaw(IQDatStr rec, BlockOut* out, uint64_t n, double scale);

// "/data/rec.wvd" -> "/data/rec.wvh"; "x.y.wvd" -> "x.y.wvh".
QString VantorHeaderName(const QString& dataFile);
QByteArray VantorHeader(const IQDatStr& rec, const QDateTime& now);
