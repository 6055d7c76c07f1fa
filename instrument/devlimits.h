// The limits and fall-backs that the Trace panel puts on the acquisition
// settings, in one place for the panel and the command line alike.
#pragma once

#include "anastr.h"
#include "devtable.h"
#include "formats/iqdata.h"

// Ranges of the oscilloscope fields and of the input dialogs.
namespace osclim {
constexpr int32_t ChMax = 99;
constexpr double SRateMin = 1, SRateMax = 1e11;
constexpr double CFreqMax = 999999999;
constexpr uint64_t RecLenMin = 1, RecLenMax = 1999999999;
} // namespace osclim
constexpr double kAnaRangeMin = 0.0316, kAnaRangeMax = 5.62, kAnaRangeHighImp = 1.78;
constexpr double kDigRangeMin = 0.01, kDigRangeMax = 99.99;
constexpr double kDigSRateMin = 0.01, kDigSRateMax = 1000;   // MHz

// Brings every setting of a within what its instrument type offers, with
// the option flags of the last Init, and gives the load record d the sample
// count that a trace requests. Lowers the type's option-dependent maxima in
// the type table, as the panel does. Without optsKnown (no Init has asked
// the instrument yet) the limits and inputs that depend on options are left
// as they are.
void DevApply(AnaStr* a, IQDatStr* d, bool optsKnown = true);

// The input of code that row allows: one it lists, and for digital or
// analog input only with the option the connected family reports (once an
// Init has asked, optsKnown); otherwise RF.
int32_t DevInput(const DevStr& row, int32_t code, bool optsKnown);

// The Init button's check after a successful AnaIni: empty when the
// instrument may trace; otherwise the warning text, with the session closed
// and set to 0. The warning's title is the type's name + " Error".
QString DevIniCheck(AnaStr* a);
