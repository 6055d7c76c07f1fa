// WAV: "WAV mixed" (one stereo file, I left, Q right) and "WAV single" (two
// mono files), 16-bit PCM; 8-bit files are read too.
#pragma once

#include "blockio.h"

int32_t LoadWavStereo(IQDatStr* rec);
int32_t LoadWavMono(IQDatStr* rec);
int32_t SaveWav(IQDatStr rec, const QString& file);
// "WAV single": an I file and a Q file, both mono, with one common scale.
int32_t SaveWavMono(IQDatStr rec, const QString& fileI, const QString& fileQ);

int32_t OpenR_WavStereo(IQDatStr* rec, io::Reader* in, uint16_t* fmt, bool findRange,
                        bool findPower);
int32_t Read_WavStereo(IQDatStr* rec, io::Reader* in, uint64_t n, uint16_t fmt);
int32_t OpenW_WavStereo(IQDatStr rec, BlockOut* out, double* scale, bool findRange);
void Writ_WavStereo(IQDatStr rec, BlockOut* out, uint64_t n, double scale);

// The header before n frames of 16-bit values: the classic 44 bytes, or an
// 80-byte RF64 header once the RIFF size no longer fits its 32-bit field.
QByteArray WavHeader(uint64_t n, int channels, double clock);
// One factor for both channels that maps each onto the 16-bit range without
// letting either wrap.
double WavScale(float imin, float imax, float qmin, float qmax);
