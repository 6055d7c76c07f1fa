// Acquisition settings record and the instrument option flags.
#pragma once

#include "common/visadefs.h"

#include <QString>
#include <cstdint>

// Member defaults are the configuration file's defaults, so the window (on a
// first start) and the command line (always) begin from the same values.
struct AnaStr {
    double Rbw = 1e7;           // Hz
    double SRate = 1e8;         // Hz
    double TrgOfs = 0.0;        // ms
    double RecLen = 0.001;      // ms
    double CFreq = 1e6;         // Hz; "IQ Carrier Frequency" is read last and wins
    double RefLev = -20.0;      // dBm
    double Att = 0.0;           // dB
    double DigRange = 2.0;      // V full scale
    double DigSRate = 10.0;     // MHz
    double AnaRange = 1.0;      // V
    double AnaOfs = 0.0;        // dB
    double RelBw = 0.8;
    double OscBw = 0.0;         // Hz
    int32_t DevTyp = 6;
    int32_t PreTrg = 0;
    int32_t IQInp = 0;          // 0 RF, 1 analog I/Q, 2 digital I/Q, 3 second RF
    int32_t Avg = 1;
    int32_t OscCh = 0;
    int32_t InpTyp = 0;         // 0 REAL, 1 COMPLEX
    int32_t InpMod = 0;         // 0 BAS, 1 RFIF
    int32_t SbRf = 1;           // 0 INV, 1 NORM
    int32_t SbIf = 0;           // 0 NUPP, 1 NLOW, 2 IUPP, 3 ILOW
    int32_t RbwIdx = 0;
    int32_t TrgModIdx = 0;
    int32_t TrgSlpIdx = 0;
    int32_t SRateIdx = 0;
    uint64_t Count = 8192;
    uint64_t OscRecLen = 1024;
    QString RsrcStr = QStringLiteral("TCPIP::192.168.0.2::INSTR");
    QString FltTyp = QStringLiteral("NORM");
    QString TrgMod = QStringLiteral("IMM");
    QString TrgSlp = QStringLiteral("POS");
    QString DatTyp = QStringLiteral("RAW");
    QString DevId;
    bool Raw = true;
    bool Rst = false;
    bool Bal = false;
    bool HighImp = false;
    bool Dith = false;
    bool LowPass = false;
    ViSession Rm = 0;
    ViSession Vi = 0;
};

// Values of AnaStr::IQInp.
enum IQInput : int32_t { kInpRf = 0, kInpAiq = 1, kInpDiq = 2, kInpRf2 = 3 };

extern bool GinkgoOptA, GinkgoOptC, GinkgoOptD, GinkgoOptE;
extern bool PineOptA, PineOptB;
