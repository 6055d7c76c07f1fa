#include "hvvisa.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>

#include <charconv>
#include <cstring>

PviOpenDefaultRM p_viOpenDefaultRM = nullptr;
PviFindRsrc p_viFindRsrc = nullptr;
PviFindNext p_viFindNext = nullptr;
PviStatusDesc p_viStatusDesc = nullptr;
PviOpen p_viOpen = nullptr;
PviWrite p_viWrite = nullptr;
PviRead p_viRead = nullptr;
PviQueryf p_viQueryf_s = nullptr;
PviQueryf p_viQueryf_f = nullptr;
PviQueryf p_viQueryf_i = nullptr;
PviPrintf p_viPrintf = nullptr;
PviScanf p_viScanf_s = nullptr;
PviScanf p_viScanf_f = nullptr;
PviReadToFile p_viReadToFile = nullptr;
PviClear p_viClear = nullptr;
PviClose p_viClose = nullptr;
PviSetAttribute p_viSetAttribute = nullptr;
PviGetAttribute p_viGetAttribute = nullptr;
PviSetBuf p_viSetBuf = nullptr;
PviReadSTB p_viReadSTB = nullptr;
PviGpibControlREN p_viGpibControlREN = nullptr;

namespace {

constexpr unsigned kTextBuf = 20000;
constexpr unsigned kNumBuf = 100;
constexpr unsigned kDescBuf = 1000;

struct Lookup {
    const char* name;
    void (*put)(QFunctionPointer f);
};

#define HV_LOOKUP(name, ptr) {name, [](QFunctionPointer f) { ptr = reinterpret_cast<decltype(ptr)>(f); }}

// The order of the look-ups matters: the first missing name stops the loader
// and the pointers before it keep what they received.
const Lookup kLookups[] = {
    HV_LOOKUP("viOpenDefaultRM", p_viOpenDefaultRM),
    HV_LOOKUP("viFindRsrc", p_viFindRsrc),
    HV_LOOKUP("viFindNext", p_viFindNext),
    HV_LOOKUP("viStatusDesc", p_viStatusDesc),
    HV_LOOKUP("viOpen", p_viOpen),
    HV_LOOKUP("viWrite", p_viWrite),
    HV_LOOKUP("viRead", p_viRead),
    HV_LOOKUP("viQueryf", p_viQueryf_s),
    HV_LOOKUP("viQueryf", p_viQueryf_f),
    HV_LOOKUP("viQueryf", p_viQueryf_i),
    HV_LOOKUP("viPrintf", p_viPrintf),
    HV_LOOKUP("viScanf", p_viScanf_f),
    HV_LOOKUP("viReadToFile", p_viReadToFile),
    HV_LOOKUP("viClear", p_viClear),
    HV_LOOKUP("viClose", p_viClose),
    HV_LOOKUP("viSetAttribute", p_viSetAttribute),
    HV_LOOKUP("viGetAttribute", p_viGetAttribute),
    HV_LOOKUP("viSetBuf", p_viSetBuf),
    HV_LOOKUP("viReadSTB", p_viReadSTB),
    HV_LOOKUP("viGpibControlREN", p_viGpibControlREN),
};

#undef HV_LOOKUP

// A wrapper called before a successful load reports the missing library
// instead of jumping through a null pointer.
template <typename F, typename... A>
ViStatus Call(F f, A... a)
{
    return f ? f(a...) : VI_ERROR_LIBRARY_NFOUND;
}

ViStatus WriteText(unsigned vi, const QString& cmd)
{
    const QByteArray b = cmd.toLocal8Bit();
    return Call(p_viWrite, ViSession(vi), reinterpret_cast<ViConstBuf>(b.constData()), ViUInt32(b.size()),
                static_cast<ViUInt32*>(nullptr));
}

// Reads at most size bytes into a zero-filled buffer; len is the text up to
// the first zero byte, never beyond the buffer.
ViStatus ReadText(unsigned vi, char* buf, unsigned size, size_t* len)
{
    std::memset(buf, 0, size);
    const ViStatus st = Call(p_viRead, ViSession(vi), reinterpret_cast<ViBuf>(buf), ViUInt32(size),
                             static_cast<ViUInt32*>(nullptr));
    *len = qstrnlen(buf, size);
    return st;
}

template <typename T>
T Leading(const char* s, size_t n, bool real)
{
    size_t i = 0;
    while (i < n && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    const bool plus = i < n && s[i] == '+';
    const size_t start = i + plus;   // from_chars takes no '+'
    size_t k = start + (!plus && start < n && s[start] == '-');
    size_t digits = 0;
    for (; k < n && s[k] >= '0' && s[k] <= '9'; ++k)
        ++digits;
    if (real && k < n && s[k] == '.')
        for (++k; k < n && s[k] >= '0' && s[k] <= '9'; ++k)
            ++digits;
    if (digits == 0)
        return 0;
    if (real && k < n && (s[k] == 'e' || s[k] == 'E')) {
        size_t e = k + 1;
        e += e < n && (s[e] == '+' || s[e] == '-');
        if (e < n && s[e] >= '0' && s[e] <= '9') {
            while (e < n && s[e] >= '0' && s[e] <= '9')
                ++e;
            k = e;
        }
    }
    T v = 0;
    // Out of range counts as no number, like text that is none.
    if (std::from_chars(s + start, s + k, v).ec != std::errc())
        return 0;
    return v;
}

} // namespace

double hvLeadingDouble(const char* text, size_t len) { return Leading<double>(text, len, true); }
int hvLeadingInt(const char* text, size_t len) { return Leading<int>(text, len, false); }

QStringList hvVisaDll_Candidates()
{
    QStringList c{QStringLiteral("/Library/Frameworks/VISA.framework/VISA"),
                  QStringLiteral("/Library/Frameworks/HvVisa.framework/HvVisa"),
                  QStringLiteral("libvisa.so.0"), QStringLiteral("libvisa.so")};
    // Orvex's own library, installed beside the program or in its lib folder.
    if (QCoreApplication::instance()) {
        const QString dir = QCoreApplication::applicationDirPath();
        c << dir + QStringLiteral("/liborvexvisa.so") << dir + QStringLiteral("/../lib/orvex/liborvexvisa.so");
    }
#ifdef ORVEX_VISA_BUILD
    // Programs and tests run from a build tree find the library it built.
    if (*ORVEX_VISA_BUILD)
        c << QStringLiteral(ORVEX_VISA_BUILD);
#endif
    return c;
}

bool hvVisaDll_InitFrom(const QStringList& candidates)
{
    // The first library that is there decides; one that is there but does not
    // load or lacks a function fails the start rather than hiding behind another.
    QLibrary lib;
    bool found = false;
    for (const QString& c : candidates) {
        if (c.contains(QLatin1Char('/'))) {
            const QFileInfo f(c);
            if (!f.isFile())
                continue;
#ifdef Q_OS_MACOS
            lib.setFileName(f.path());   // the framework bundle
#else
            lib.setFileName(c);
#endif
            found = true;
            break;
        }
        lib.setFileName(c);
        if (lib.load()) {
            found = true;
            break;
        }
    }
    if (!found || !lib.load())
        return false;
    // The library stays loaded for the life of the process: lib is not unloaded.
    for (const Lookup& l : kLookups) {
        const QFunctionPointer f = lib.resolve(l.name);
        if (!f)
            return false;
        l.put(f);
    }
    return true;
}

bool hvVisaDll_Init() { return hvVisaDll_InitFrom(hvVisaDll_Candidates()); }

ViStatus hvOpenDefaultRM(unsigned* rm) { return Call(p_viOpenDefaultRM, rm); }

ViStatus hvOpen(unsigned rm, const QString& rsrc, unsigned mode, unsigned timeout, unsigned* vi)
{
    const QByteArray name = rsrc.toLocal8Bit();
    return Call(p_viOpen, ViSession(rm), name.constData(), ViAccessMode(mode), ViUInt32(timeout), vi);
}

ViStatus hvClose(unsigned vi) { return Call(p_viClose, ViObject(vi)); }

ViStatus hvWrite(unsigned vi, unsigned char* buf, unsigned count, unsigned* retCount)
{
    return Call(p_viWrite, ViSession(vi), static_cast<ViConstBuf>(buf), ViUInt32(count), retCount);
}

ViStatus hvRead(unsigned vi, unsigned char* buf, unsigned count, unsigned* retCount)
{
    return Call(p_viRead, ViSession(vi), buf, ViUInt32(count), retCount);
}

ViStatus hvPrintf(unsigned vi, const QString& cmd) { return WriteText(vi, cmd); }

ViStatus hvQueryf_s(unsigned vi, const QString& cmd, QString* reply)
{
    ViStatus st = WriteText(vi, cmd);
    if (st != VI_SUCCESS)
        return st;
    char buf[kTextBuf];
    size_t len = 0;
    st = ReadText(vi, buf, sizeof buf, &len);
    if (st != VI_SUCCESS)
        return st;
    *reply = QString::fromLocal8Bit(buf, int(len));
    return VI_SUCCESS;
}

ViStatus hvQueryf_f(unsigned vi, const QString& cmd, double* value)
{
    ViStatus st = WriteText(vi, cmd);
    if (st != VI_SUCCESS)
        return st;
    return hvScanf_f(vi, value);
}

ViStatus hvQueryf_i(unsigned vi, const QString& cmd, int* value)
{
    ViStatus st = WriteText(vi, cmd);
    if (st != VI_SUCCESS)
        return st;
    char buf[kNumBuf];
    size_t len = 0;
    st = ReadText(vi, buf, sizeof buf, &len);
    if (st == VI_SUCCESS)
        *value = hvLeadingInt(buf, len);
    return st;
}

ViStatus hvScanf_s(unsigned vi, QString* reply)
{
    char buf[kTextBuf];
    size_t len = 0;
    const ViStatus st = ReadText(vi, buf, sizeof buf, &len);
    *reply = QString::fromLocal8Bit(buf, int(len));
    return st;
}

ViStatus hvScanf_f(unsigned vi, double* value)
{
    char buf[kNumBuf];
    size_t len = 0;
    const ViStatus st = ReadText(vi, buf, sizeof buf, &len);
    if (st == VI_SUCCESS)
        *value = hvLeadingDouble(buf, len);
    return st;
}

ViStatus hvReadToFile(unsigned vi, const QString& fileName, unsigned count, unsigned* retCount)
{
    const QByteArray name = fileName.toLocal8Bit();
    return Call(p_viReadToFile, ViSession(vi), name.constData(), ViUInt32(count), retCount);
}

ViStatus hvClear(unsigned vi) { return Call(p_viClear, ViSession(vi)); }

ViStatus hvSetAttribute(unsigned vi, unsigned attribute, unsigned long long value)
{
    return Call(p_viSetAttribute, ViObject(vi), ViAttr(attribute), ViAttrState(value));
}

ViStatus hvGetAttribute(unsigned vi, unsigned attribute, void* value)
{
    return Call(p_viGetAttribute, ViObject(vi), ViAttr(attribute), value);
}

ViStatus hvSetBuf(unsigned vi, unsigned short mask, unsigned size)
{
    return Call(p_viSetBuf, ViSession(vi), ViUInt16(mask), ViUInt32(size));
}

ViStatus hvReadSTB(unsigned vi, unsigned short* status) { return Call(p_viReadSTB, ViSession(vi), status); }

ViStatus hvGpibControlREN(unsigned vi, unsigned short mode)
{
    return Call(p_viGpibControlREN, ViSession(vi), ViUInt16(mode));
}

ViStatus hvFindRsrc(unsigned rm, const QString& expression, unsigned* findList, unsigned* count,
                    QString* description)
{
    const QByteArray expr = expression.toLocal8Bit();
    char desc[kDescBuf] = {};
    const ViStatus st = Call(p_viFindRsrc, ViSession(rm), expr.constData(), findList, count, desc);
    *description = QString::fromUtf8(desc, int(qstrnlen(desc, sizeof desc)));
    return st;
}

ViStatus hvFindNext(unsigned findList, QString* description)
{
    char desc[kDescBuf] = {};
    const ViStatus st = Call(p_viFindNext, ViFindList(findList), desc);
    *description = QString::fromUtf8(desc, int(qstrnlen(desc, sizeof desc)));
    return st;
}

ViStatus hvStatusDesc(unsigned vi, int status, QString* description)
{
    char desc[kDescBuf] = {};
    const ViStatus st = Call(p_viStatusDesc, ViObject(vi), ViStatus(status), desc);
    *description = QString::fromUtf8(desc, int(qstrnlen(desc, sizeof desc)));
    return st;
}
