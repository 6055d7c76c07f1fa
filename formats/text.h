// Plain-text types: Matlab ASCII, MathCAD, DaDisp, COSSAP, SPW ASCII,
// ADS ASCII, Simkit (read and write), ADS ASCII time domain, UInt16 and
// "ASCII mixed no LF" (read only).
#pragma once

#include "iqdata.h"

#include <QDateTime>
#include <QStringList>
#include <cstddef>

// One writer for every written text type. An empty fileQ writes one file
// with "I Q" lines, otherwise the I values go to fileI and the Q values to
// fileQ. Returns ST_OK, ST_FILE1/ST_FILE2 when the I/Q file cannot be
// written (an existing file is then left as it was), or ST_CANCEL.
int32_t SaveAscii(IQDatStr rec, int32_t code, const QString& fileI, const QString& fileQ);

// Reads the text types by the format code of tl[rec->Typ]; two files when
// rec->FileQ is set. ST_OK, ST_FILE1, ST_FILE2, ST_CANCEL or ST_NOMEM.
int32_t LoadAscii(IQDatStr* rec);

// All values on one line, separated by single blanks, read in I/Q pairs.
int32_t LoadAscMixNoLF(IQDatStr* rec);

// Removes the header (through the first marker line) and a last "END" line
// for the codes that have them; other codes leave the list alone. The
// readers apply the same rule while streaming, without a list.
void filterHdr(int32_t code, QStringList* lines);

// The conversions of the text types, exposed for tests and benchmarks.
namespace text {

// The value QString::toFloat gives for the bytes [b, e) read as UTF-8 (0.0
// for anything that is not a number), without building a QString for
// ordinary numbers.
float ParseFloat(const char* b, const char* e);

// The value formatted like printf("%0.7e", double(v)); returns the end of
// the text. out needs room for kNumMax characters.
constexpr size_t kNumMax = 32;
char* FormatE7(float v, char* out);

// The moment the DaDisp headers carry. Tests fix it; an invalid QDateTime
// goes back to the local clock.
void SetNow(const QDateTime& fixed);

} // namespace text
