#include "devtable.h"
#include "anastr.h"

#include <algorithm>

namespace {

struct Val {
    const char* Txt;
    double Hz;
};
struct Word {
    const char* Txt;
    const char* Scpi;
};
struct Inp {
    const char* Txt;
    int32_t Code;
};
using Vals = std::vector<Val>;
using Words = std::vector<Word>;
using Inps = std::vector<Inp>;

struct Range {
    double Min, Max;
};
struct PreTrg {
    int64_t Min, Max;
};

// Copies a list into a row's fixed places; the places beyond it stay empty.
template <typename T, size_t N, typename S, typename F>
int32_t Fill(std::array<T, N>& dst, const std::vector<S>& src, F pick)
{
    Q_ASSERT(src.size() <= N);
    for (size_t i = 0; i < src.size() && i < N; ++i)
        dst[i] = pick(src[i]);
    return int32_t(std::min(src.size(), N));
}

DevStr Row(const char* name, const Vals& rbw, Range rbwRange, const Vals& srate, Range srateRange,
           const Words& trg, const Words& slp, PreTrg pre, const Inps& inp, uint64_t maxCnt, DevTraits tr = {})
{
    DevStr d;
    d.Name = QLatin1String(name);
    d.RbwCnt = Fill(d.RbwTxt, rbw, [](const Val& v) { return QString::fromLatin1(v.Txt); });
    Fill(d.RbwVal, rbw, [](const Val& v) { return v.Hz; });
    d.RbwMin = rbwRange.Min;
    d.RbwMax = rbwRange.Max;
    d.SRateCnt = Fill(d.SRateTxt, srate, [](const Val& v) { return QString::fromLatin1(v.Txt); });
    Fill(d.SRateVal, srate, [](const Val& v) { return v.Hz; });
    d.SRateMin = srateRange.Min;
    d.SRateMax = srateRange.Max;
    d.TrgCnt = Fill(d.TrgTxt, trg, [](const Word& w) { return QString::fromLatin1(w.Txt); });
    Fill(d.TrgScpi, trg, [](const Word& w) { return QString::fromLatin1(w.Scpi); });
    d.SlpCnt = Fill(d.SlpTxt, slp, [](const Word& w) { return QString::fromLatin1(w.Txt); });
    Fill(d.SlpScpi, slp, [](const Word& w) { return QString::fromLatin1(w.Scpi); });
    d.PreTrgMin = pre.Min;
    d.PreTrgMax = pre.Max;
    d.InpCnt = Fill(d.InpTxt, inp, [](const Inp& i) { return QString::fromLatin1(i.Txt); });
    Fill(d.InpVal, inp, [](const Inp& i) { return i.Code; });
    d.MaxCnt = maxCnt;
    d.Tr = std::move(tr);
    return d;
}

DevTraits Tr(uint32_t does, IniExtra ask = IniExtra::None, std::vector<OptTest> opts = {})
{
    DevTraits t;
    t.IniAsk = ask;
    t.Opts = std::move(opts);
    t.Does = does;
    return t;
}

const Range kList{0, 0};   // the row offers a list instead of a free entry

const Vals kRbw4{{"300k", 3e5}, {"1M", 1e6}, {"3M", 3e6}, {"10M", 1e7}};
const Vals kRbw7{{"300k", 3e5}, {"500k", 5e5}, {"1M", 1e6}, {"2M", 2e6}, {"3M", 3e6}, {"5M", 5e6}, {"10M", 1e7}};
const Vals kRbw9{{"300k", 3e5}, {"500k", 5e5}, {"1M", 1e6}, {"2M", 2e6}, {"3M", 3e6},
                 {"5M", 5e6}, {"10M", 1e7}, {"20M", 2e7}, {"50M", 5e7}};
const Vals kRbw10{{"300k", 3e5}, {"500k", 5e5}, {"1M", 1e6}, {"2M", 2e6}, {"3M", 3e6},
                  {"5M", 5e6}, {"10M", 1e7}, {"20M", 2e7}, {"50M", 5e7}, {"120M", 1.2e8}};
const Vals kRbwYew{{"150", 150},    {"300", 300},    {"600", 600},    {"1.5k", 1500},   {"2.4k", 2400},  {"6k", 6000},
                   {"9k", 9000},    {"12k", 12000},  {"15k", 15000},  {"30k", 30000},   {"50k", 50000},  {"120k", 120000},
                   {"150k", 150000}, {"250k", 250000}, {"300k", 300000}, {"500k", 500000}};
const Vals kBirchRates{{"15.625k", 15625}, {"31.25k", 31250}, {"62.5k", 62500}, {"125k", 125000},
                       {"250k", 250000},   {"500k", 500000},  {"1M", 1e6},      {"2M", 2e6},
                       {"4M", 4e6},        {"8M", 8e6},       {"16M", 1.6e7},   {"32M", 3.2e7}};

const Word kImm{"IMMediate", "IMM"}, kExt{"EXTernal", "EXT"}, kIfp{"IFPower", "IFP"};
const Words kTrgAlder{kImm, kExt, {"VIDeo", "VID"}};
const Words kTrgBirch{kImm, kExt, kIfp, {"RFPower", "RFP"}};
const Words kTrgLarch{kImm, kExt, kIfp};
const Words kTrgSpruce{kImm, kExt, {"EXT2", "EXT2"}, {"EXT3", "EXT3"}, kIfp};
const Words kPos{{"POSitive", "POS"}};
const Words kPosNeg{{"POSitive", "POS"}, {"NEGative", "NEG"}};

const Inps kRf{{"RF", 0}};
const Inps kRfDiq{{"RF", 0}, {"DIQ", 2}};
const Inps kRfAiqDiq{{"RF", 0}, {"AIQ", 1}, {"DIQ", 2}};

const std::vector<OptTest> kGinkgoOpts{
    {&GinkgoOptA, "OPT-A"}, {&GinkgoOptC, "OPT-C"}, {&GinkgoOptD, "OPT-D"}, {&GinkgoOptE, "OPT-E"}};
const std::vector<OptTest> kPineOpts{{&PineOptA, "OPT-A"}, {&PineOptB, "OPT-B"}};

constexpr uint32_t kGinkgoAcq = kAcqNsel | kAcqBbNoLevel | kAcqDivDig | kAcqDivAiqUnity | kAcqInpSel | kAcqDiqCmds
                                | kAcqAiqCmds | kAcqIqp;
constexpr uint32_t kPineAcq = kAcqNsel | kAcqBbNoLevel | kAcqDivDig | kAcqDiqInst | kAcqDiqCmds | kAcqIqp;

// Ginkgo: the sample-rate ceiling follows option OPT-D, the record length
// options OPT-E and OPT-D and the sample rate.
void GinkgoLimits(DevStr* row, AnaStr* a)
{
    row->SRateMax = GinkgoOptD ? 326400000 : 81600000;
    a->SRate = std::min(a->SRate, row->SRateMax);
    const bool fast = a->SRate >= 1e8;
    row->MaxCnt = !GinkgoOptE ? 16776704u
                  : !GinkgoOptD ? (fast ? 1006632448u : 1409285632u)
                                : (fast ? 503315968u : 704642560u);
}

// Pine and Rowan sample above 45 MHz only with option OPT-B.
void PineLimits(DevStr*, AnaStr* a)
{
    if (!PineOptB)
        a->SRate = std::min(a->SRate, 45e6);
}

template <typename F>
DevTraits With(DevTraits t, F set)
{
    set(t);
    return t;
}

DevTraits Family(DevFamily f, bool clear)
{
    DevTraits t;
    t.Family = f;
    t.IniClear = clear;
    return t;
}

} // namespace

DevStr ag[AG_COUNT] = {
    Row("Alder", {{"8M", 8e6}}, kList, {}, {40000, 32000000}, kTrgAlder, kPosNeg, {0, 0}, kRf, 524200,
        With(Tr(kCountByRecLen | kAcqRawSetup | kAcqIqBlocks | kPanelNoInput), [](DevTraits& t) {
            t.NeedOpt = "OPT-B";
            t.FixedRbw = 300000;
        })),
    Row("Birch", kRbw4, kList, kBirchRates, kList, kTrgBirch, kPosNeg, {-130559, 130559}, kRf, 130560, Tr(kAcqIqp)),
    Row("Cedar", kRbw4, kList, kBirchRates, kList, kTrgBirch, kPos, {-16744447, 65023}, kRf, 523776,
        Tr(0, IniExtra::SpectrumDbm)),
    Row("Dogwood", kRbw7, kList, kBirchRates, kList, kTrgLarch, kPosNeg, {-523775, 523775}, kRf, 523776, Tr(kAcqIqp)),
    Row("Hazel", kRbw4, kList, kBirchRates, kList, kTrgBirch, kPosNeg, {-130559, 130559}, kRf, 130560,
        Tr(0, IniExtra::SpectrumDbm)),
    Row("Juniper", kRbw9, kList, kBirchRates, kList, kTrgBirch, kPos, {-16744447, 65023}, kRf, 16776704,
        Tr(0, IniExtra::SpectrumDbm)),
    Row("Ginkgo", kRbw10, kList, {}, {10000, 326400000}, kTrgBirch, kPos, {-16776703, 65023}, kRfAiqDiq, 1409285632,
        With(Tr(kGinkgoAcq, IniExtra::None, kGinkgoOpts), [](DevTraits& t) {
            t.DiqOpt = &GinkgoOptA;
            t.AiqOpt = &GinkgoOptC;
            t.Limits = GinkgoLimits;
        })),
    Row("Kapok", {}, {10, 10000000}, {}, {10000, 65830000}, kTrgLarch, kPos, {-16253439, 523775}, kRf, 523776,
        With(Tr(kAcqNsel | kAcqDivBwid | kAcqIqBlocks | kPanelAvg | kPanelNoInput, IniExtra::ReadRbw), [](DevTraits& t) { t.FixedRbw = 300000; })),
    Row("Larch", kRbw9, kList, {}, {10000, 81600000}, kTrgLarch, kPosNeg, {-4193791, 4193791}, kRf, 4193792,
        Tr(kAcqDiqCmds | kAcqIqp)),
    Row("Maple", kRbw9, kList, {}, {10000, 81600000}, kTrgLarch, kPosNeg, {-16776703, 16776703}, kRf, 16776704,
        Tr(kAcqIqp, IniExtra::SpectrumDbm)),
    Row("Oak", kRbw7, kList, {}, {100, 81600000}, kTrgLarch, kPosNeg, {-16776703, 16776703}, kRf, 16776704,
        Tr(kAcqIqp)),
    Row("Pine", {}, {100, 40000000}, {}, {100, 128000000}, kTrgLarch, kPosNeg, {0, 209715199}, kRfDiq, 209715200,
        With(Tr(kPineAcq, IniExtra::ReadRbw, kPineOpts), [](DevTraits& t) {
            t.DiqOpt = &PineOptA;
            t.Limits = PineLimits;
        })),
    Row("Rowan", {}, {100, 40000000}, {}, {100, 128000000}, kTrgLarch, kPosNeg, {0, 209715199}, kRfDiq, 209715200,
        With(Tr(kPineAcq, IniExtra::ReadRbw, kPineOpts), [](DevTraits& t) {
            t.DiqOpt = &PineOptA;
            t.Limits = PineLimits;
        })),
    Row("Spruce", {}, {100, 1e10}, {}, {100, 1e10}, kTrgSpruce, kPosNeg, {-461373339, 461373339}, kRfAiqDiq,
        461373440, Tr(kPineAcq | kAcqInpSel)),
    Row("Tamarack", {}, {100, 1e10}, {}, {100, 1e10}, kTrgSpruce, kPosNeg, {-461373339, 461373339}, kRf, 461373440,
        Tr((kPineAcq & ~kAcqDiqInst) | kAcqInpType)),
    Row("Wattle", kRbw10, kList, {}, {10000, 326400000}, kTrgBirch, kPos, {-16776703, 65023}, kRf, 1409285632),
    // The handheld receiver answers "*IDN?" but is sent no "*CLS".
    Row("Yew", kRbwYew, kList, {{"640k", 640000}}, {100, 128000000}, {kImm}, kPos, {0, 0}, kRf, 1073741824,
        With(Family(DevFamily::Handheld, false), [](DevTraits& t) { t.Does = kPanelFixedTrg; })),
    Row("Zelkova", {}, {100, 1e10}, {}, {100, 1e10}, kTrgSpruce, kPosNeg, {-461373339, 461373339}, kRfAiqDiq,
        461373440, Family(DevFamily::Scope, true)),
};
