/* A VISA library without instruments: it opens a resource manager, counts
 * writes and reads (which fail) and keeps the last REN mode. Built complete
 * and without viQueryf (STUB_NO_QUERYF). */
#include "common/visadefs.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

/* Read back by the test. */
int stubWrites, stubReads, stubRen = -1;

ViStatus viOpenDefaultRM(ViSession* rm) { return *rm = 1, VI_SUCCESS; }
ViStatus viWrite(ViSession vi, ViConstBuf b, ViUInt32 n, ViUInt32* r) { return ++stubWrites, VI_ERROR_TMO; }
ViStatus viRead(ViSession vi, ViBuf b, ViUInt32 n, ViUInt32* r) { return ++stubReads, VI_ERROR_IO; }
ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode) { return stubRen = mode, VI_ERROR_NSUP_OPER; }
ViStatus viClose(ViObject vi) { return VI_SUCCESS; }

/* Looked up, never called: the parameter lists do not matter. */
#define NSUP(name) ViStatus name() { return VI_ERROR_NSUP_OPER; }
NSUP(viFindRsrc) NSUP(viFindNext) NSUP(viStatusDesc) NSUP(viOpen) NSUP(viPrintf) NSUP(viScanf)
NSUP(viReadToFile) NSUP(viClear) NSUP(viSetAttribute) NSUP(viGetAttribute) NSUP(viSetBuf) NSUP(viReadSTB)
#ifndef STUB_NO_QUERYF
NSUP(viQueryf)
#endif
