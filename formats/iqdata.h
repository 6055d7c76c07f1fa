// The in-memory I/Q record, the file-type catalogue and the helpers every
// reader and writer shares.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class QFile;

// Status codes shared by every subsystem.
enum : int32_t {
    ST_OK = 0,
    ST_FILE1 = -1,     // first (or only) file cannot be opened, read or written
    ST_FILE2 = -2,     // second (Q) file
    ST_CANCEL = -3,    // user cancelled; never shown as an error
    ST_WAVFMT = -4,    // WAV header or sample format not accepted
    ST_LENGTH = -5,    // I and Q files of different length
    ST_REFUSED = -6,   // scrambled or refused file
    ST_NOMEM = -7,     // the arrays cannot be allocated
    ST_UNSUPP = -8,    // the type has no reader/writer/append path
};

struct IQDatStr {
    QString FileI;          // only file of a one-file type
    QString FileQ;          // empty for one-file types
    QString Folder;         // last chosen folder, persisted
    int32_t Typ = 0;        // row of tl (load record) or ts (save records)
    int32_t SecFile = 1;    // AWG/TDS readers also read the Q file
    int32_t GrfMode = 0;    // 0 spectrum, 1 I vs Q, 2 group delay
    uint64_t N = 0;
    float* I = nullptr;
    float* Q = nullptr;
    // Owns I and Q when MakeIQArr made them. Copies of the record, and a
    // symbols reply still going out, share the arrays: they go when the last
    // holder lets them go. For the replies' sake samples are never rewritten
    // in place; new data (a load, a trace) always comes in fresh arrays.
    std::shared_ptr<const void> Keep;
    float RefLev = 0;       // dBm
    float IMin = 0, IMax = 0, QMin = 0, QMax = 0;
    int32_t SrcTab = 0;     // 0 Load tab (file), 1 Trace tab (instrument)
    uint64_t Blocks = 0;    // streaming: full blocks
    uint64_t Rest = 0;      // streaming: samples in the last block
    double Clock = 1e8;     // Hz
    double CFreq = 0;       // Hz
    double SumSq = 0;       // sum of I^2 + Q^2 over a whole file
    double Peak = 0;        // largest magnitude over a whole file
    // What a successful load had to cut or fill ("x.wav holds 1000 of 100000
    // announced frames."), for the user; the data stays as loaded.
    QStringList Notices;
};

// One row of the load list (tl) or the save list (ts).
struct TypStr {
    QString Name;
    int32_t Files;          // 1 mixed, 2 single (I file + Q file)
    QString PatI;
    QString PatQ;
    int32_t Code;           // format code: selects reader, writer, block functions
};

// The frame a text type puts around its values. Readers drop everything
// through the header's marker line and a last "END" line of every framed type.
enum class TextHeader : uint8_t {
    None,         // values from the first line to the last
    DaDispOne,    // DaDisp header per file, one signal ("i" / "q")
    DaDispTwo,    // DaDisp header naming both signals ("i_q")
    SpwDouble,    // SPW header "Signal Type = Double", "END" trailer
    SpwRealImag,  // SPW header "Signal Type = Real_Imag", "END" trailer
    Marker,       // any lines up to a marker line (read only)
};

// What the code outside the catalogue needs to know about a file type
// beyond its functions; one row per format code, beside tl and ts.
struct TypTraits {
    TextHeader header = TextHeader::None;
    // Two-file text lines hold "time value"; the value is the second field.
    bool timeColumn = false;
    // A two-file type whose Q name is proposed from the I name (QNameFor).
    // Not for types whose two files share one pattern and are told apart
    // only by the names the user gives them.
    bool proposesQ = false;
    // One of the hexadecimal text types ("Hex ... signed mixed").
    bool hex = false;
    // A one-file type whose header lives in a second file beside the data.
    bool sideHeader = false;
};

// The traits of a format code; all off for a code without a row.
const TypTraits& TraitsOf(int32_t code);

constexpr int TL_COUNT = 33;
constexpr int TS_COUNT = 26;
constexpr int FMT_CODES = 34;          // 0..33; 33 is the handheld receiver recording
extern const TypStr tl[TL_COUNT + 1];  // plus the empty terminator row
extern const TypStr ts[TS_COUNT];

// Global cancel flags: EscFlg is polled by the file readers and writers,
// BrkFlg by instrument transfers. Plain bytes, written on the GUI thread
// (the terminal front end sets EscFlg from its signal handler).
extern volatile signed char EscFlg;
extern volatile signed char BrkFlg;

// The record's two arrays of count samples, zero-filled, in one block
// owned through rec->Keep; ST_NOMEM (and no arrays) when they do not fit.
int32_t MakeIQArr(IQDatStr* rec, uint64_t count);
void FreeArr(IQDatStr* rec);

// Zero-filled memory of at least bytes (null when not available). Large
// blocks come straight from the kernel, 2 MiB aligned and advised into
// transparent huge pages: filling them then costs one page fault per 2 MiB
// instead of one per 4 KiB, which dominated whole-file loads.
std::shared_ptr<void> AllocBig(size_t bytes);

// n samples as little-endian float32 pairs, I first (8n bytes), and back:
// the layout of interleaved files and of the symbols reply. Plain loops
// the compiler widens into vector shuffles.
void PutPairsLE(const float* I, const float* Q, uint64_t n, uint8_t* out);
void GetPairsLE(const uint8_t* in, uint64_t n, float* I, float* Q);

uint64_t MaxMin1D(const float* v, uint64_t n, float* max, uint64_t* maxIdx,
                  float* min, uint64_t* minIdx);
int32_t EscPressed(uint64_t index);
void RevArr(char* bytes, uint32_t size);
int32_t ReadShUnion(IQDatStr* rec, QFile* file, uint64_t n);
QString Ch2S(const char* text);

// A readable description of the last load or save failure beyond its status
// code ("header announces 10^11 points, the file holds 1024 bytes"); empty
// when the status says everything. Cleared by LoadDatFile and SaveDatFile.
QString LastDetail();
void SetDetail(const QString& text);

// Adds a notice to the record once.
void AddNotice(IQDatStr* rec, const QString& text);

// Sets the failure reason and returns st, so that checks read as one line.
int32_t FailWith(int32_t st, const QString& why);
// The same for a failure to write a destination, which LastFailureWrote()
// then tells apart from a failure to read (a copy does both).
int32_t FailWrite(int32_t st, const QString& why);
bool LastFailureWrote();
// The tail of every reader: EscFlg is cleared once the file was opened, and
// a failed load leaves no arrays behind.
int32_t LoadDone(IQDatStr* rec, int32_t st);

// The messages the window and the command line show for a failed load, save
// or append.
QString LoadErrorText(int32_t status, const QString& fileI);
QString SaveErrorText(int32_t status, bool append);

// The Q file name proposed for a two-file save: the I name with its
// extension replaced by ".q" (or ".q" added when it has none).
QString QNameFor(const QString& fileI);

// Largest sample count we dare allocate two float arrays for: bounded by
// the memory of the machine so a lying header never triggers a giant
// allocation.
uint64_t MaxAllocSamples();
