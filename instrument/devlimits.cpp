#include "devlimits.h"
#include "anaini.h"
#include "devtable.h"
#include "hvvisa.h"

#include <algorithm>
#include <cmath>

namespace {

template <typename T>
T Clamp(T v, T lo, T hi)
{
    return std::max(lo, std::min(v, hi));
}

// A stored list position outside the list falls back to the first entry.
int32_t ListIdx(int32_t idx, int32_t count)
{
    return idx >= 0 && idx < count ? idx : 0;
}

void ApplyScope(AnaStr* a, IQDatStr* d)
{
    a->OscCh = Clamp(a->OscCh, 0, osclim::ChMax);
    a->SRate = Clamp(a->SRate, osclim::SRateMin, osclim::SRateMax);
    a->RelBw = Clamp(a->RelBw, 0.0, 1.0);
    a->CFreq = Clamp(std::trunc(a->CFreq), 0.0, osclim::CFreqMax);
    a->OscRecLen = Clamp(a->OscRecLen, osclim::RecLenMin, osclim::RecLenMax);
    a->InpTyp = Clamp(a->InpTyp, 0, 1);
    a->InpMod = Clamp(a->InpMod, 0, 1);
    a->SbRf = Clamp(a->SbRf, 0, 1);
    a->SbIf = Clamp(a->SbIf, 0, 3);
    a->OscBw = a->SRate * a->RelBw;
    d->N = a->OscRecLen;
}

} // namespace

void DevApply(AnaStr* a, IQDatStr* d, bool optsKnown)
{
    d->SrcTab = 1;
    if (!DevTypValid(a->DevTyp))
        return;
    DevStr& row = ag[a->DevTyp];
    const DevTraits& t = row.Tr;
    if (t.Family == DevFamily::Scope)
        return ApplyScope(a, d);
    if (t.Limits && optsKnown)
        t.Limits(&row, a);

    if (row.RbwCnt) {
        a->RbwIdx = ListIdx(a->RbwIdx, row.RbwCnt);
        a->Rbw = row.RbwVal[a->RbwIdx];
    } else {
        a->Rbw = Clamp(a->Rbw, row.RbwMin, row.RbwMax);
    }
    if (t.FixedRbw > 0)
        a->Rbw = t.FixedRbw;
    if (row.SRateCnt) {
        a->SRateIdx = ListIdx(a->SRateIdx, row.SRateCnt);
        a->SRate = row.SRateVal[a->SRateIdx];
    } else {
        a->SRate = Clamp(Clamp(a->SRate, row.SRateMin, row.SRateMax), osclim::SRateMin, osclim::SRateMax);
    }
    // Ginkgo's record ceiling depends on the rate just settled.
    if (t.Limits && optsKnown)
        t.Limits(&row, a);

    a->TrgModIdx = ListIdx(a->TrgModIdx, row.TrgCnt);
    a->TrgMod = row.TrgScpi[a->TrgModIdx];
    a->TrgSlpIdx = ListIdx(a->TrgSlpIdx, row.SlpCnt);
    a->TrgSlp = row.SlpScpi[a->TrgSlpIdx];
    a->PreTrg = int32_t(Clamp<int64_t>(a->PreTrg, row.PreTrgMin, row.PreTrgMax));
    a->IQInp = DevInput(row, a->IQInp, optsKnown);

    a->AnaRange = Clamp(a->AnaRange, kAnaRangeMin, a->HighImp ? kAnaRangeHighImp : kAnaRangeMax);
    // A digital range of 0 would make the scale divisor 0.
    a->DigRange = Clamp(a->DigRange, kDigRangeMin, kDigRangeMax);
    a->DigSRate = Clamp(a->DigSRate, kDigSRateMin, kDigSRateMax);

    if (row.does(kCountByRecLen)) {
        double n = std::trunc(a->SRate * a->RecLen * 0.001);
        if (!(n >= 0))
            n = 0;
        if (n > double(row.MaxCnt)) {
            n = double(row.MaxCnt);
            a->RecLen = n * 1000.0 / a->SRate;
        }
        a->Count = uint64_t(n);
    }
    a->Count = std::min(a->Count, row.MaxCnt);
    d->N = a->Count;
}

QString DevIniCheck(AnaStr* a)
{
    if (!DevTypValid(a->DevTyp))
        return QString();
    const DevStr& row = ag[a->DevTyp];
    const char* need = row.Tr.NeedOpt;
    if (!need || CheckOpt(*a, QLatin1String(need)))
        return QString();
    hvClose(a->Vi);
    a->Vi = 0;
    return QStringLiteral("No %1-%2 option installed.").arg(row.Name, QLatin1String(need));
}

// The input must be one the type lists; digital and analog input also need
// the option the connected family reports for them.
int32_t DevInput(const DevStr& row, int32_t code, bool optsKnown)
{
    const auto end = row.InpVal.begin() + row.InpCnt;
    if (std::find(row.InpVal.begin(), end, code) == end)
        return row.InpVal[0];
    const bool* need = code == kInpDiq ? row.Tr.DiqOpt : code == kInpAiq ? row.Tr.AiqOpt : nullptr;
    return need && optsKnown && !*need ? kInpRf : code;
}
