// The instrument types: what the Trace panel offers for each type, and the
// traits in which their commands and their handling differ. Code outside this
// table asks a trait, never a type number.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

enum class DevFamily { Analyzer, Handheld, Scope };

// What Init asks after "*IDN?".
enum class IniExtra {
    None,
    SpectrumDbm,   // "INST SAN;*OPC?", then "UNIT:POW DBM;*OPC?"
    ReadRbw,       // "BWID?" as a number into the resolution bandwidth
};

// One hardware option that Init tests: the flag it sets and the code that
// "*OPT?" must contain.
struct OptTest {
    bool* Flag;
    const char* Code;
};

// Bits of DevTraits::Does.
enum DevDoes : uint32_t {
    kCountByRecLen = 1u << 0,   // the sample count follows from rate and record length in ms
    kAcqNsel = 1u << 1,         // makes sure channel 1 ("INST:NSEL") is selected
    kAcqBbNoLevel = 1u << 2,    // no level read-back on analog or digital I/Q input
    kAcqDivDig = 1u << 3,       // scale divisor: half the digital range on digital input
    kAcqDivAiqUnity = 1u << 4,  // scale divisor: 1.0 on analog I/Q input
    kAcqDivBwid = 1u << 5,      // scale divisor 1/5.3, after "BWID?" into the bandwidth
    kAcqInpSel = 1u << 6,       // selects the input with "INP:SEL"
    kAcqInpType = 1u << 7,      // selects the RF input with "INP:TYPE INPUT1|2"
    kAcqDiqInst = 1u << 8,      // digital input: "INST IQ" and "INP:SEL DIQ"
    kAcqDiqCmds = 1u << 9,      // digital input: range and rate commands
    kAcqAiqCmds = 1u << 10,     // analog input: balance, impedance, dither, low-pass, range
    kAcqIqp = 1u << 11,         // asks for interleaved pairs ("TRAC:IQ:DATA:FORM IQP")
    kAcqRawSetup = 1u << 12,    // "TRAC:IQ:SET RAW" set-up; the read divides by 1000 more
    kAcqIqBlocks = 1u << 13,    // data is all I values, then all Q values
    // The Trace panel.
    kPanelAvg = 1u << 14,       // offers the average count
    kPanelNoInput = 1u << 15,   // no input choice; bandwidth list, filter and slope fixed
    kPanelFixedTrg = 1u << 16,  // trigger source and pre-trigger fixed
};

struct AnaStr;
struct DevStr;

// Where the panel's limits depend on the instrument's options: lowers the
// row's maxima (they stay for later clamps) and the settings after Init.
using OptLimits = void (*)(DevStr* row, AnaStr* a);

struct DevTraits {
    DevFamily Family = DevFamily::Analyzer;
    bool IniClear = true;                 // Init starts with "*CLS;*OPC?" (and honours reset)
    IniExtra IniAsk = IniExtra::None;
    std::vector<OptTest> Opts;            // tested by Init, in this order
    uint32_t Does = 0;
    bool* DiqOpt = nullptr;               // digital I/Q input needs this option (null: offered freely)
    bool* AiqOpt = nullptr;               // analog I/Q input needs this option
    const char* NeedOpt = nullptr;        // Init refuses an instrument without this option
    double FixedRbw = 0;                  // the panel holds the bandwidth at this value (0: not fixed)
    OptLimits Limits = nullptr;
};

// One row of the type table; the panel fields first, then the traits.
struct DevStr {
    QString Name;
    int32_t RbwCnt = 0;                   // 0: free entry between RbwMin and RbwMax
    std::array<QString, 16> RbwTxt;
    std::array<double, 16> RbwVal{};      // Hz
    double RbwMin = 0, RbwMax = 0;
    int32_t SRateCnt = 0;                 // 0: free entry between SRateMin and SRateMax
    std::array<QString, 13> SRateTxt;
    std::array<double, 13> SRateVal{};    // Hz
    double SRateMin = 0, SRateMax = 0;
    int32_t TrgCnt = 0;
    std::array<QString, 5> TrgTxt;        // SCPI long form
    std::array<QString, 5> TrgScpi;       // short form sent
    int32_t SlpCnt = 0;
    std::array<QString, 2> SlpTxt;
    std::array<QString, 2> SlpScpi;
    int64_t PreTrgMin = 0, PreTrgMax = 0; // samples
    int32_t InpCnt = 0;
    std::array<QString, 4> InpTxt;
    std::array<int32_t, 4> InpVal{};      // 0 RF, 1 analog I/Q, 2 digital I/Q
    uint64_t MaxCnt = 0;                  // samples
    DevTraits Tr;

    bool does(uint32_t bits) const { return (Tr.Does & bits) != 0; }
};

constexpr int AG_COUNT = 18;

// Indexed by the instrument type that the configuration file stores. The
// panel lowers Ginkgo's sample-rate and sample-count maxima at run time.
extern DevStr ag[AG_COUNT];

inline bool DevTypValid(int32_t typ) { return typ >= 0 && typ < AG_COUNT; }
