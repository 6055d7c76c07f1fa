#include "catalogue.h"
#include "binary.h"
#include "hexdab.h"
#include "matfile.h"
#include "text.h"
#include "vantor.h"
#include "wav.h"
#include "wv.h"

const TypStr tl[TL_COUNT + 1] = {
    {"Matlab ASCII single", 2, "*.dat", "*.dat", 0},
    {"Matlab ASCII mixed", 1, "*.asc", "", 1},
    {"Matlab binary single", 2, "*.mat", "*.mat", 2},
    {"Matlab binary mixed", 1, "*.mat", "", 3},
    {"MathCAD single", 2, "*.i", "*.q", 4},
    {"MathCAD mixed", 1, "*.dat", "", 5},
    {"DaDisp single", 2, "*.i", "*.q", 6},
    {"DaDisp mixed", 1, "*.dsp", "", 7},
    {"COSSAP single", 2, "*.i", "*.q", 8},
    {"COSSAP mixed", 1, "*.dat", "", 9},
    {"SPW ASCII single", 2, "*.ascsig", "*.ascsig", 10},
    {"SPW ASCII mixed", 1, "*.ascsig", "", 11},
    {"SPW binary mixed", 1, "*.sig", "", 12},
    {"ADS ASCII single", 2, "*.ascsig", "*.ascsig", 13},
    {"WAV single", 2, "*.wav", "*.wav", 14},
    {"WAV mixed", 1, "*.wav", "", 15},
    {"Simkit", 2, "*.i", "*.q", 16},
    {"DAB-V1", 1, "*.sym", "", 17},
    {"IQW mixed, iqiqiq....iq", 1, "*.iqw", "", 18},
    {"IQW mixed, iii..iqqq..q", 1, "*.iqw", "", 19},
    {"Hex 16-bit signed mixed", 1, "*.txt", "", 20},
    {"Hex 10-bit signed mixed", 1, "*.txt", "", 21},
    {"Hex 17-bit signed mixed", 1, "*.txt", "", 22},
    {"Wavesmith", 1, "*.ibn", "", 23},
    {"H&V Vantor Raw", 1, "*.wvd", "", 24},
    {"ADS ASCII  TIMe dom. sgl", 2, "*.tim", "*.tim", 26},
    {"ADS BINary TIMe dom. sgl", 2, "*.bintim", "*.bintim", 27},
    {"ADS binary single", 2, "*.sig", "*.sig", 28},
    {"UInt16", 2, "*.i", "*.q", 29},
    {"AWG 2000 Series", 2, "*.wfm", "*.wfm", 30},
    {"TDS 5000/6000/7000", 2, "*.wfm", "*.wfm", 31},
    {"ASCII mixed no LF", 1, "*.asc", "", 32},
    {"H&V WV mixed (unscrambled)", 1, "*.wv", "", 25},
    {"", 0, "", "", 0},
};

const TypStr ts[TS_COUNT] = {
    tl[0], tl[1], tl[2], tl[3], tl[4], tl[5], tl[6], tl[7], tl[8], tl[9],
    tl[10], tl[11], tl[12], tl[13], tl[14], tl[15], tl[16], tl[17], tl[18], tl[19],
    tl[20], tl[21], tl[22], tl[23], tl[24], tl[32],
};

namespace {

constexpr bool QName = true;  // proposesQ
constexpr TextHeader NoHdr = TextHeader::None;

// Indexed by format code: header, time column, proposes Q name, hex, side header.
const TypTraits typTraits[FMT_CODES] = {
    /*  0 Matlab ASCII single   */ {NoHdr, false, QName, false},
    /*  1 Matlab ASCII mixed    */ {},
    /*  2 Matlab binary single  */ {NoHdr, false, QName, false},
    /*  3 Matlab binary mixed   */ {},
    /*  4 MathCAD single        */ {NoHdr, false, QName, false},
    /*  5 MathCAD mixed         */ {},
    /*  6 DaDisp single         */ {TextHeader::DaDispOne, false, QName, false},
    /*  7 DaDisp mixed          */ {TextHeader::DaDispTwo, false, false, false},
    /*  8 COSSAP single         */ {NoHdr, false, QName, false},
    /*  9 COSSAP mixed          */ {},
    // The SPW and ADS ASCII pairs share one pattern: no Q name proposed.
    /* 10 SPW ASCII single      */ {TextHeader::SpwDouble, false, false, false},
    /* 11 SPW ASCII mixed       */ {TextHeader::SpwRealImag, false, false, false},
    /* 12 SPW binary mixed      */ {},
    /* 13 ADS ASCII single      */ {TextHeader::SpwDouble, false, false, false},
    /* 14 WAV single            */ {NoHdr, false, QName, false},
    /* 15 WAV mixed             */ {},
    /* 16 Simkit                */ {NoHdr, false, QName, false},
    /* 17 DAB-V1                */ {},
    /* 18 IQW interleaved       */ {},
    /* 19 IQW block             */ {},
    /* 20 Hex 16-bit            */ {NoHdr, false, false, true},
    /* 21 Hex 10-bit            */ {NoHdr, false, false, true},
    /* 22 Hex 17-bit            */ {NoHdr, false, false, true},
    /* 23 Wavesmith IBN         */ {},
    /* 24 Vantor raw recorder   */ {NoHdr, false, false, false, true},
    /* 25 WV waveform           */ {},
    /* 26 ADS ASCII time domain */ {TextHeader::Marker, true, QName, false},
    /* 27 ADS binary time dom.  */ {NoHdr, false, QName, false},
    /* 28 ADS binary single     */ {NoHdr, false, QName, false},
    /* 29 UInt16                */ {NoHdr, false, QName, false},
    /* 30 AWG 2000              */ {NoHdr, false, QName, false},
    /* 31 TDS 5000/6000/7000    */ {NoHdr, false, QName, false},
    /* 32 ASCII mixed no LF     */ {},
    /* 33 handheld recording    */ {},
};

// Adapters from the uniform writer signature to the writers' own.
template <int32_t (*F)(IQDatStr, const QString&)>
int32_t oneFile(IQDatStr rec, int32_t, const QString& fileI, const QString&)
{
    return F(rec, fileI);
}

template <int32_t (*F)(IQDatStr, const QString&, const QString&)>
int32_t twoFiles(IQDatStr rec, int32_t, const QString& fileI, const QString& fileQ)
{
    return F(rec, fileI, fileQ);
}

int32_t yewFromFile(IQDatStr* rec) { return LoadYew(rec, 1); }

// Block functions of the types without a WAV sample format code.
template <int32_t (*F)(IQDatStr*, io::Reader*, bool, bool)>
int32_t noFmtOpenR(IQDatStr* rec, io::Reader* in, uint16_t* fmt, bool findRange, bool findPower)
{
    *fmt = 0;
    return F(rec, in, findRange, findPower);
}

template <int32_t (*F)(IQDatStr*, io::Reader*, uint64_t)>
int32_t noFmtRead(IQDatStr* rec, io::Reader* in, uint64_t n, uint16_t)
{
    return F(rec, in, n);
}

} // namespace

// Indexed by format code. Rows left null are types whose functions have not
// been built; the dispatchers answer ST_UNSUPP for them.
const FmtFn fmtTab[FMT_CODES] = {
    /*  0 Matlab ASCII single   */ {LoadAscii, SaveAscii, LoadAscii},
    /*  1 Matlab ASCII mixed    */ {LoadAscii, SaveAscii, LoadAscii},
    /*  2 Matlab binary single  */ {LoadMLabBinSgl, twoFiles<SaveMLabBinSgl>, LoadMLabBinSgl},
    /*  3 Matlab binary mixed   */ {LoadMLabBinMix, oneFile<SaveMLabBinMix>, LoadMLabBinMix},
    /*  4 MathCAD single        */ {LoadAscii, SaveAscii, LoadAscii},
    /*  5 MathCAD mixed         */ {LoadAscii, SaveAscii, LoadAscii},
    /*  6 DaDisp single         */ {LoadAscii, SaveAscii, LoadAscii},
    /*  7 DaDisp mixed          */ {LoadAscii, SaveAscii, LoadAscii},
    /*  8 COSSAP single         */ {LoadAscii, SaveAscii, LoadAscii},
    /*  9 COSSAP mixed          */ {LoadAscii, SaveAscii, LoadAscii},
    /* 10 SPW ASCII single      */ {LoadAscii, SaveAscii, LoadAscii},
    /* 11 SPW ASCII mixed       */ {LoadAscii, SaveAscii, LoadAscii},
    /* 12 SPW binary mixed      */ {LoadAdsSpwBin, oneFile<SaveSPWBin>, LoadAdsSpwBin},
    /* 13 ADS ASCII single      */ {LoadAscii, SaveAscii, LoadAscii},
    /* 14 WAV single            */ {LoadWavMono, twoFiles<SaveWavMono>, LoadWavMono},
    /* 15 WAV mixed             */ {LoadWavStereo, oneFile<SaveWav>, LoadWavStereo,
                                    {OpenR_WavStereo, Read_WavStereo, OpenW_WavStereo, Writ_WavStereo, false, nullptr}},
    /* 16 Simkit                */ {LoadAscii, SaveAscii, LoadAscii},
    /* 17 DAB-V1                */ {LoadDAB, oneFile<SaveDAB>, LoadDAB},
    /* 18 IQW interleaved       */ {LoadIQW, oneFile<SaveIQW>, LoadIQW},
    /* 19 IQW block             */ {LoadIQWBlk, oneFile<SaveIQWBlk>, LoadIQWBlk},
    /* 20 Hex 16-bit            */ {LoadHex16Mix, oneFile<SaveHex16Mix>, LoadHex16Mix},
    /* 21 Hex 10-bit            */ {LoadHex10Mix, oneFile<SaveHex10Mix>, LoadHex10Mix},
    /* 22 Hex 17-bit            */ {LoadHex17Mix, oneFile<SaveHex17Mix>, LoadHex17Mix},
    // The IBN reader refuses every file, so append answers ST_REFUSED.
    /* 23 Wavesmith IBN         */ {LoadIbn, oneFile<SaveIBN>, LoadIbn},
    // Append reads the existing file back whole and rewrites it, as for WAV.
    /* 24 Vantor raw recorder   */ {LoadVantorRaw, oneFile<SaveVantorRaw>, LoadVantorRaw,
                                    {noFmtOpenR<OpenR_VantorRaw>, noFmtRead<Read_VantorRaw>, OpenW_VantorRaw,
                                     Writ_VantorRaw, false, nullptr}},
    /* 25 WV waveform           */ {LoadHvWv, oneFile<SaveHvWv>, LoadHvWv,
                                    {noFmtOpenR<OpenR_HvWv>, noFmtRead<ReadShUnion>, OpenW_HvWv, Writ_HvWv,
                                     true, Tail_HvWv}},
    /* 26 ADS ASCII time domain */ {LoadAscii, nullptr, nullptr},
    /* 27 ADS binary time dom.  */ {LoadAdsBinTim, nullptr, nullptr},
    /* 28 ADS binary single     */ {LoadAdsSpwBin, nullptr, nullptr},
    /* 29 UInt16                */ {LoadAscii, nullptr, nullptr},
    /* 30 AWG 2000              */ {LoadAwg2000, nullptr, nullptr},
    /* 31 TDS 5000/6000/7000    */ {LoadTds5000, nullptr, nullptr},
    /* 32 ASCII mixed no LF     */ {LoadAscMixNoLF, nullptr, nullptr},
    /* 33 handheld recording    */ {yewFromFile, nullptr, nullptr},
};

const FmtFn* FmtOf(int32_t code)
{
    return code >= 0 && code < FMT_CODES ? &fmtTab[code] : nullptr;
}

const TypTraits& TraitsOf(int32_t code)
{
    static const TypTraits none;
    return code >= 0 && code < FMT_CODES ? typTraits[code] : none;
}
