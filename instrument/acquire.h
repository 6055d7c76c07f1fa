// Acquiring an I/Q trace: the command sequences of the analyzers and
// receivers, of the handheld receiver and of the oscilloscopes.
#pragma once

#include "anastr.h"
#include "formats/iqdata.h"

// Status of a handheld trace whose recording is not in the catalog.
constexpr ViStatus kNoRecording = VI_ERROR_FILE_ACCESS;

// Acquires a trace on the open session a->Vi into the load record d, whose
// sample count DevApply has set. 0 on success (d->N samples, possibly fewer
// than requested), ST_CANCEL when cancelled, otherwise the negative status
// of the step that failed (a reason in LastDetail() where one is known).
int TracIQ(AnaStr* a, IQDatStr* d);

// What follows a cancelled trace: trace off, reset and free-running sweep,
// or, when the instrument does not answer, GPIB go-to-local.
void TracIQCancelled(AnaStr* a);

// Numbers in commands. Integer form: truncated to a 64-bit integer.
// Short form: 6 significant digits, exponent from 1e+06 and below 1e-04.
QString IntForm(double v);
QString ShortForm(double v);
