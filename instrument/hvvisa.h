// The VISA layer: any library of the IVI VISA interface, loaded at run time,
// its functions looked up by name into the p_vi... pointers, and the hv...
// wrappers that the rest of the program calls instead of the library.
#pragma once

#include "common/visadefs.h"

#include <QString>
#include <QStringList>

using PviOpenDefaultRM = ViStatus (*)(ViSession* rm);
using PviFindRsrc = ViStatus (*)(ViSession rm, ViConstString expr, ViFindList* list, ViUInt32* count,
                                 ViChar* desc);
using PviFindNext = ViStatus (*)(ViFindList list, ViChar* desc);
using PviStatusDesc = ViStatus (*)(ViObject vi, ViStatus status, ViChar* desc);
using PviOpen = ViStatus (*)(ViSession rm, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViSession* vi);
using PviWrite = ViStatus (*)(ViSession vi, ViConstBuf buf, ViUInt32 count, ViUInt32* retCount);
using PviRead = ViStatus (*)(ViSession vi, ViBuf buf, ViUInt32 count, ViUInt32* retCount);
using PviQueryf = ViStatus (*)(ViSession vi, ViConstString writeFmt, ViConstString readFmt, ...);
using PviPrintf = ViStatus (*)(ViSession vi, ViConstString fmt, ...);
using PviScanf = ViStatus (*)(ViSession vi, ViConstString fmt, ...);
using PviReadToFile = ViStatus (*)(ViSession vi, ViConstString file, ViUInt32 count, ViUInt32* retCount);
using PviClear = ViStatus (*)(ViSession vi);
using PviClose = ViStatus (*)(ViObject vi);
using PviSetAttribute = ViStatus (*)(ViObject vi, ViAttr attr, ViAttrState value);
using PviGetAttribute = ViStatus (*)(ViObject vi, ViAttr attr, void* value);
using PviSetBuf = ViStatus (*)(ViSession vi, ViUInt16 mask, ViUInt32 size);
using PviReadSTB = ViStatus (*)(ViSession vi, ViUInt16* status);
using PviGpibControlREN = ViStatus (*)(ViSession vi, ViUInt16 mode);

// Null until the loader fills them; p_viScanf_s is never filled.
extern PviOpenDefaultRM p_viOpenDefaultRM;
extern PviFindRsrc p_viFindRsrc;
extern PviFindNext p_viFindNext;
extern PviStatusDesc p_viStatusDesc;
extern PviOpen p_viOpen;
extern PviWrite p_viWrite;
extern PviRead p_viRead;
extern PviQueryf p_viQueryf_s;
extern PviQueryf p_viQueryf_f;
extern PviQueryf p_viQueryf_i;
extern PviPrintf p_viPrintf;
extern PviScanf p_viScanf_s;
extern PviScanf p_viScanf_f;
extern PviReadToFile p_viReadToFile;
extern PviClear p_viClear;
extern PviClose p_viClose;
extern PviSetAttribute p_viSetAttribute;
extern PviGetAttribute p_viGetAttribute;
extern PviSetBuf p_viSetBuf;
extern PviReadSTB p_viReadSTB;
extern PviGpibControlREN p_viGpibControlREN;

// Loads the first VISA library of hvVisaDll_Candidates() and fills the
// pointers. False when no library is there, it does not load, or it lacks one
// of the functions; no wrapper may be called then.
bool hvVisaDll_Init();
// The places looked at, in order: a path (contains "/") counts when it is a
// regular file; a bare name is handed to the dynamic loader.
QStringList hvVisaDll_Candidates();
bool hvVisaDll_InitFrom(const QStringList& candidates);

ViStatus hvOpenDefaultRM(unsigned* rm);
ViStatus hvOpen(unsigned rm, const QString& rsrc, unsigned mode, unsigned timeout, unsigned* vi);
ViStatus hvClose(unsigned vi);
ViStatus hvWrite(unsigned vi, unsigned char* buf, unsigned count, unsigned* retCount);
ViStatus hvRead(unsigned vi, unsigned char* buf, unsigned count, unsigned* retCount);
ViStatus hvPrintf(unsigned vi, const QString& cmd);
// The reply is assigned only when the write and the read both return 0.
ViStatus hvQueryf_s(unsigned vi, const QString& cmd, QString* reply);
ViStatus hvQueryf_f(unsigned vi, const QString& cmd, double* value);
ViStatus hvQueryf_i(unsigned vi, const QString& cmd, int* value);
ViStatus hvScanf_s(unsigned vi, QString* reply);
ViStatus hvScanf_f(unsigned vi, double* value);
ViStatus hvReadToFile(unsigned vi, const QString& fileName, unsigned count, unsigned* retCount);
ViStatus hvClear(unsigned vi);
ViStatus hvSetAttribute(unsigned vi, unsigned attribute, unsigned long long value);
ViStatus hvGetAttribute(unsigned vi, unsigned attribute, void* value);
ViStatus hvSetBuf(unsigned vi, unsigned short mask, unsigned size);
ViStatus hvReadSTB(unsigned vi, unsigned short* status);
ViStatus hvGpibControlREN(unsigned vi, unsigned short mode);
ViStatus hvFindRsrc(unsigned rm, const QString& expression, unsigned* findList, unsigned* count,
                    QString* description);
ViStatus hvFindNext(unsigned findList, QString* description);
ViStatus hvStatusDesc(unsigned vi, int status, QString* description);

// The number at the start of a reply: optional sign, digits, decimal point,
// exponent; 0 when the reply does not start with one.
double hvLeadingDouble(const char* text, size_t len);
int hvLeadingInt(const char* text, size_t len);
