// Opening, identifying and releasing an instrument on the session of the
// acquisition settings. Statuses are VISA statuses: 0 success, negative error.
#pragma once

#include "anastr.h"

// Opens the session into a->Vi, asks "*IDN?" into a->DevId, tests the
// type's hardware options and returns the instrument to local control.
ViStatus AnaIni(AnaStr* a);
// True when "*OPT?" succeeds and its reply contains option (case-sensitive).
bool CheckOpt(AnaStr a, const QString& option);
// Hands the instrument back to its front panel: GPIB by the REN line, LAN
// by "&GTL"; other interfaces need nothing.
ViStatus DevLocal(AnaStr a);
// Opens the session on a resource manager of its own with a 5 s time-out,
// flush-on-access buffers and, when a->Rst is set, a reset.
ViStatus GetVisaHdl(AnaStr* a);
