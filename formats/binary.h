// Simple binary types: IQW (both layouts), IBN, SPW/ADS binary, ADS binary
// time domain, AWG 2000, TDS 5000/6000/7000 and the handheld receiver file.
#pragma once

#include "iqdata.h"

int32_t LoadIQW(IQDatStr* rec);
int32_t LoadIQWBlk(IQDatStr* rec);
int32_t LoadIbn(IQDatStr* rec);
int32_t LoadAdsSpwBin(IQDatStr* rec);
int32_t LoadAdsBinTim(IQDatStr* rec);
int32_t LoadAwg2000(IQDatStr* rec);
int32_t LoadTds5000(IQDatStr* rec);
// countFromFile 0: the caller has set N (the acquisition), 1: the header sets it.
int32_t LoadYew(IQDatStr* rec, int32_t countFromFile);

int32_t SaveIQW(IQDatStr rec, const QString& file);
int32_t SaveIQWBlk(IQDatStr rec, const QString& file);
int32_t SaveIBN(IQDatStr rec, const QString& file);
int32_t SaveSPWBin(IQDatStr rec, const QString& file);
