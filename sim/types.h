// The eighteen instrument types the simulator can be, as data: one row of
// traits per type, and the test signal every type delivers.
//
// Test signal: a complex tone of period kTonePeriod samples (frequency =
// sample rate / 128), starting at phase 0 with the first sample of every
// block or recording:
//     I[k] = A * cos(2*pi*k/128),  Q[k] = A * sin(2*pi*k/128)
// computed in double and rounded to the type's number format (float32, or
// int16 rounded to nearest for the handheld receiver), little-endian. A is
// the row's amplitude, chosen so that the acquisition's scale divisor for
// the RF input turns it into a unit circle.
#pragma once

#include "sim/reply.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sim {

constexpr int kTonePeriod = 128;

enum class Family { Analyzer, Receiver, Scope };

// How I/Q data is laid out in the data block.
enum class Layout {
    Blocks,   // all I values as float32, then all Q values
    Pairs,    // I, Q, I, Q ... as float32
    Recording // a recording file: 84-byte header, then I, Q as int16
};

// Optional command groups a type understands; commands of a group the type
// lacks are undefined headers on that type.
enum Group : unsigned {
    gAnalyzer = 1u << 0,  // trace, level and format commands of the analyzers
    gReceiver = 1u << 1,  // demodulation and recording of the handheld receiver
    gScope = 1u << 2,     // channel I/Q commands of the oscilloscope
    gChannel = 1u << 3,   // "INST:NSEL" measurement channels
    gInputSel = 1u << 4,  // "INP:SEL"
    gInputType = 1u << 5, // "INP:TYPE INPUT1|INPUT2"
    gDigital = 1u << 6,   // digital baseband input "INP:DIQ:..."
    gAnalog = 1u << 7,    // analog baseband input "INP:IQ:...", "IQ:...", "VOLT:IQ:..."
    gPairs = 1u << 8,     // "TRAC:IQ:DATA:FORM IQP" switches the layout to pairs
    gAll = ~0u
};

struct TypeRow {
    const char* name;
    Family family;
    unsigned groups;
    Layout layout;          // layout of the data (Pairs after IQP for gPairs types)
    double amplitude;       // A of the test signal, in the type's units
    const char* setupForm;  // first word of "TRAC:IQ:SET": "RAW" or "NORM"
    const char* options;    // default "*OPT?" reply
    const char* inputs;     // words of "INP:SEL"
    const char* triggers;   // trigger source words
    const char* slopes;     // trigger slope words
    int64_t pretriggerMin, pretriggerMax;
    uint64_t maxSamples;
};

int typeCount();
const TypeRow& typeRow(int index);
// Index of a type given as a number or a name (any case); -1 when unknown.
int findType(const std::string& text);

// Bytes of the test signal: one period in the type's number format.
enum class Channel { I, Q, Both };
std::shared_ptr<const Pattern> floatTone(double amplitude, Channel c);
std::shared_ptr<const Pattern> int16Tone(double amplitude);

constexpr int kRecordingHeader = 84;
// Header of a recording file: clock (int32) at 32, sample count (uint64) at 64.
std::string recordingHeader(int32_t clock, uint64_t samples);

} // namespace sim
