/*
 * Orvex's VISA library (liborvexvisa.so): the IVI VISA operations that Orvex
 * looks up at run time, for LAN instruments reached over VXI-11
 * (TCPIP::host[::device][::INSTR]) or raw TCP (TCPIP::host::port::SOCKET).
 * Plain C interface; every other symbol of the library stays hidden.
 */
#pragma once

#include "common/visadefs.h"

#if defined(__GNUC__)
#define OVISA_API __attribute__((visibility("default")))
#else
#define OVISA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

OVISA_API ViStatus viOpenDefaultRM(ViPSession vi);
OVISA_API ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt, ViChar desc[]);
OVISA_API ViStatus viFindNext(ViFindList vi, ViChar desc[]);
OVISA_API ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);
OVISA_API ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi);
OVISA_API ViStatus viClose(ViObject vi);
OVISA_API ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
OVISA_API ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue);
OVISA_API ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
OVISA_API ViStatus viReadToFile(ViSession vi, ViConstString filename, ViUInt32 cnt, ViPUInt32 retCnt);
OVISA_API ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
OVISA_API ViStatus viClear(ViSession vi);
OVISA_API ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size);
OVISA_API ViStatus viPrintf(ViSession vi, ViConstString writeFmt, ...);
OVISA_API ViStatus viScanf(ViSession vi, ViConstString readFmt, ...);
OVISA_API ViStatus viQueryf(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...);
OVISA_API ViStatus viReadSTB(ViSession vi, ViPUInt16 status);
OVISA_API ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode);

#ifdef __cplusplus
}
#endif
