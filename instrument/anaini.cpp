#include "anaini.h"
#include "devtable.h"
#include "hvvisa.h"

namespace {

constexpr unsigned kOpenMs = 10000;
constexpr unsigned kIoMs = 5000;

const QString kReset = QStringLiteral("*RST;*OPC?\n");

// A successful identification ends with the instrument back at its panel.
ViStatus Settle(AnaStr* a, ViStatus st)
{
    return st == VI_SUCCESS ? DevLocal(*a) : st;
}

// Asks the open session who it is and tests its options.
ViStatus Identify(AnaStr* a)
{
    const DevTraits& t = ag[a->DevTyp].Tr;
    // Init runs on the same 5 s time-out whatever the library's default:
    // enough for a busy instrument's "*OPC?", short enough that a dead one
    // fails Init within seconds. The buffer modes are left alone: the
    // wrappers use viWrite/viRead, which the formatted-I/O buffers do not
    // touch. A reset goes out only when the user ticked Rst.
    ViStatus st = hvSetAttribute(a->Vi, VI_ATTR_TMO_VALUE, kIoMs);
    if (st < VI_SUCCESS)
        return st;
    st = VI_SUCCESS;
    QString reply;
    a->DevId.clear();
    if (!t.IniClear)
        return Settle(a, hvQueryf_s(a->Vi, QStringLiteral("*IDN?\n"), &a->DevId));
    if (a->Rst)
        st = hvQueryf_s(a->Vi, kReset, &reply);
    if (st == VI_SUCCESS)
        st = hvQueryf_s(a->Vi, QStringLiteral("*CLS;*OPC?\n"), &reply);
    if (st == VI_SUCCESS)
        st = hvQueryf_s(a->Vi, QStringLiteral("*IDN?\n"), &a->DevId);
    if (st == VI_SUCCESS && t.IniAsk == IniExtra::SpectrumDbm) {
        st = hvQueryf_s(a->Vi, QStringLiteral("INST SAN;*OPC?\n"), &reply);
        if (st == VI_SUCCESS)
            st = hvQueryf_s(a->Vi, QStringLiteral("UNIT:POW DBM;*OPC?\n"), &reply);
    } else if (st == VI_SUCCESS && t.IniAsk == IniExtra::ReadRbw) {
        st = hvQueryf_f(a->Vi, QStringLiteral("BWID?\n"), &a->Rbw);
    }
    // After a VISA error every "*OPT?" would only wait out the same time-out
    // again: the options then count as absent unasked.
    for (const OptTest& o : t.Opts)
        *o.Flag = st >= VI_SUCCESS && CheckOpt(*a, QLatin1String(o.Code));
    return Settle(a, st);
}

} // namespace

ViStatus AnaIni(AnaStr* a)
{
    if (!DevTypValid(a->DevTyp))
        return VI_ERROR_INV_PARAMETER;
    const ViStatus opened = hvOpen(a->Rm, a->RsrcStr, VI_NO_LOCK, kOpenMs, &a->Vi);
    const ViStatus st = opened == VI_SUCCESS ? Identify(a) : opened;
    if (st != VI_SUCCESS) {
        // The caller drops a failed session; closed here it leaks no connection.
        if (opened >= VI_SUCCESS)
            hvClose(a->Vi);
        a->Vi = 0;
    }
    return st;
}

bool CheckOpt(AnaStr a, const QString& option)
{
    QString reply;
    return hvQueryf_s(a.Vi, QStringLiteral("*OPT?\n"), &reply) == VI_SUCCESS && reply.contains(option);
}

ViStatus DevLocal(AnaStr a)
{
    // Resource names are case-insensitive: "tcpip0::..." is a LAN resource too.
    if (a.RsrcStr.contains(QLatin1String("GPIB"), Qt::CaseInsensitive))
        return hvGpibControlREN(a.Vi, VI_GPIB_REN_ADDRESS_GTL);
    if (a.RsrcStr.contains(QLatin1String("TCPIP"), Qt::CaseInsensitive)
        || a.RsrcStr.contains(QLatin1String("HVIB"), Qt::CaseInsensitive))
        return hvPrintf(a.Vi, QStringLiteral("&GTL\n"));
    return VI_SUCCESS;
}

ViStatus GetVisaHdl(AnaStr* a)
{
    // A manager of its own: the instrument session lives as long as it does.
    unsigned rm = 0;
    ViStatus st = hvOpenDefaultRM(&rm);
    if (st < VI_SUCCESS)
        return st;
    st = hvOpen(rm, a->RsrcStr, VI_NO_LOCK, 0, &a->Vi);
    if (st < VI_SUCCESS)
        return st;
    for (const auto& [attr, value] : {std::pair<unsigned, unsigned>{VI_ATTR_TMO_VALUE, kIoMs},
                                      {VI_ATTR_WR_BUF_OPER_MODE, VI_FLUSH_ON_ACCESS},
                                      {VI_ATTR_RD_BUF_OPER_MODE, VI_FLUSH_ON_ACCESS}}) {
        st = hvSetAttribute(a->Vi, attr, value);
        if (st < VI_SUCCESS)
            return st;
    }
    QString reply;
    return a->Rst ? hvQueryf_s(a->Vi, kReset, &reply) : VI_SUCCESS;
}
