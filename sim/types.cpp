#include "sim/types.h"

#include "common/byteorder.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace sim {

namespace {

// The acquisition divides analyzer samples by sqrt(0.05) (Alder's raw
// millivolts by 1000 times that, Kapok's by 1/5.3), so these amplitudes give
// a unit circle after its scaling on the RF input.
constexpr double kRms = 0.22360679774997896;
constexpr double kAlder = kRms * 1000.0;
constexpr double kKapok = 1.0 / 5.3;
constexpr double kYew = 10000.0;  // int16 counts, loaded unscaled
constexpr double kScope = 1.0;    // volts, loaded unscaled

constexpr const char* kTrigBirch = "IMM,EXT,IFP,RFP";
constexpr const char* kTrigLarch = "IMM,EXT,IFP";
constexpr const char* kTrigSpruce = "IMM,EXT,EXT2,EXT3,IFP";

constexpr unsigned A = gAnalyzer;

const TypeRow kRows[] = {
    {"Alder", Family::Analyzer, A, Layout::Blocks, kAlder, "RAW", "0", "RF", "IMM,EXT,VID", "POS,NEG", 0, 0, 524200},
    {"Birch", Family::Analyzer, A | gPairs, Layout::Pairs, kRms, "NORM", "0", "RF", kTrigBirch, "POS,NEG", -130559, 130559, 130560},
    {"Cedar", Family::Analyzer, A, Layout::Pairs, kRms, "NORM", "0", "RF", kTrigBirch, "POS", -16744447, 65023, 523776},
    {"Dogwood", Family::Analyzer, A | gPairs, Layout::Pairs, kRms, "NORM", "0", "RF", kTrigLarch, "POS,NEG", -523775, 523775, 523776},
    {"Hazel", Family::Analyzer, A, Layout::Pairs, kRms, "NORM", "0", "RF", kTrigBirch, "POS,NEG", -130559, 130559, 130560},
    {"Juniper", Family::Analyzer, A, Layout::Pairs, kRms, "NORM", "0", "RF", kTrigBirch, "POS", -16744447, 65023, 16776704},
    {"Ginkgo", Family::Analyzer, A | gChannel | gInputSel | gDigital | gAnalog | gPairs, Layout::Pairs, kRms, "NORM",
     "OPT-A,OPT-C,OPT-D,OPT-E", "RF,AIQ,DIQ", kTrigBirch, "POS", -16776703, 65023, 1409285632},
    {"Kapok", Family::Analyzer, A | gChannel, Layout::Blocks, kKapok, "NORM", "0", "RF", kTrigLarch, "POS", -16253439, 523775, 523776},
    {"Larch", Family::Analyzer, A | gDigital | gPairs, Layout::Pairs, kRms, "NORM", "0", "RF", kTrigLarch, "POS,NEG", -4193791, 4193791, 4193792},
    {"Maple", Family::Analyzer, A | gPairs, Layout::Pairs, kRms, "NORM", "0", "RF", kTrigLarch, "POS,NEG", -16776703, 16776703, 16776704},
    {"Oak", Family::Analyzer, A | gPairs, Layout::Pairs, kRms, "NORM", "0", "RF", kTrigLarch, "POS,NEG", -16776703, 16776703, 16776704},
    {"Pine", Family::Analyzer, A | gChannel | gInputSel | gDigital | gPairs, Layout::Pairs, kRms, "NORM", "OPT-A,OPT-B", "RF,DIQ",
     kTrigLarch, "POS,NEG", 0, 209715199, 209715200},
    {"Rowan", Family::Analyzer, A | gChannel | gInputSel | gDigital | gPairs, Layout::Pairs, kRms, "NORM", "OPT-A,OPT-B", "RF,DIQ",
     kTrigLarch, "POS,NEG", 0, 209715199, 209715200},
    {"Spruce", Family::Analyzer, A | gChannel | gInputSel | gDigital | gPairs, Layout::Pairs, kRms, "NORM", "0", "RF,AIQ,DIQ",
     kTrigSpruce, "POS,NEG", -461373339, 461373339, 461373440},
    {"Tamarack", Family::Analyzer, A | gChannel | gInputType | gDigital | gPairs, Layout::Pairs, kRms, "NORM", "0", "RF",
     kTrigSpruce, "POS,NEG", -461373339, 461373339, 461373440},
    {"Wattle", Family::Analyzer, A, Layout::Pairs, kRms, "NORM", "0", "RF", kTrigBirch, "POS", -16776703, 65023, 1409285632},
    {"Yew", Family::Receiver, gReceiver, Layout::Recording, kYew, "", "0", "RF", "IMM", "POS", 0, 0, 1073741824},
    {"Zelkova", Family::Scope, gScope, Layout::Pairs, kScope, "", "0", "RF,AIQ,DIQ", kTrigSpruce, "POS,NEG", -461373339,
     461373339, 461373440},
};

double tone(double amplitude, int k, bool sine)
{
    double phase = 2.0 * M_PI * k / kTonePeriod;
    return amplitude * (sine ? std::sin(phase) : std::cos(phase));
}

} // namespace

int typeCount() { return int(sizeof kRows / sizeof kRows[0]); }

const TypeRow& typeRow(int index) { return kRows[index]; }

int findType(const std::string& text)
{
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0')
        return n >= 0 && n < typeCount() ? int(n) : -1;
    for (int t = 0; t < typeCount(); ++t) {
        const std::string name = kRows[t].name;
        bool same = name.size() == text.size();
        for (size_t k = 0; same && k < name.size(); ++k)
            same = std::tolower((unsigned char)name[k]) == std::tolower((unsigned char)text[k]);
        if (same)
            return t;
    }
    return -1;
}

std::shared_ptr<const Pattern> floatTone(double amplitude, Channel c)
{
    const int values = c == Channel::Both ? 2 : 1;
    std::vector<uint8_t> period(size_t(kTonePeriod) * 4 * values);
    uint8_t* p = period.data();
    for (int k = 0; k < kTonePeriod; ++k) {
        if (c != Channel::Q) {
            io::putf32(p, float(tone(amplitude, k, false)));
            p += 4;
        }
        if (c != Channel::I) {
            io::putf32(p, float(tone(amplitude, k, true)));
            p += 4;
        }
    }
    return std::make_shared<Pattern>(period);
}

std::shared_ptr<const Pattern> int16Tone(double amplitude)
{
    std::vector<uint8_t> period(size_t(kTonePeriod) * 4);
    for (int k = 0; k < kTonePeriod; ++k) {
        io::put16(&period[4 * k], uint16_t(int16_t(std::lround(tone(amplitude, k, false)))));
        io::put16(&period[4 * k + 2], uint16_t(int16_t(std::lround(tone(amplitude, k, true)))));
    }
    return std::make_shared<Pattern>(period);
}

std::string recordingHeader(int32_t clock, uint64_t samples)
{
    uint8_t h[kRecordingHeader] = {};
    const char tag[] = "IQ recording";
    std::copy(tag, tag + sizeof tag - 1, h);
    io::put32(h + 32, uint32_t(clock));
    io::put64(h + 64, samples);
    return std::string(reinterpret_cast<const char*>(h), sizeof h);
}

} // namespace sim
