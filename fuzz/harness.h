// One libFuzzer target per reader family: every input is loaded with each
// load type of the family through the catalogue, and with the block readers
// where a type has them. Two-file types get the input split at its middle.
#pragma once

#include "formats/blockio.h"
#include "formats/catalogue.h"
#include "formats/iqdata.h"
#include "formats/save.h"
#include "formats/stream.h"
#include "formats/vantor.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <unistd.h>

namespace fuzz {

// The input lives in files under a private folder in shared memory (the
// readers open files by path, and some find a companion file by its name),
// rewritten for every run and removed when the process ends.
class InputFiles {
public:
    InputFiles()
    {
        char tmpl[] = "/dev/shm/orvex-fuzz-XXXXXX";
        char tmpl2[] = "/tmp/orvex-fuzz-XXXXXX";
        const char* d = mkdtemp(tmpl);
        if (!d)
            d = mkdtemp(tmpl2);
        if (!d)
            abort();
        dir_ = QString::fromLocal8Bit(d);
    }
    ~InputFiles() { QDir(dir_).removeRecursively(); }
    QString path(const char* name) const { return dir_ + QLatin1Char('/') + QLatin1String(name); }
    static void put(const QString& file, const uint8_t* p, size_t n)
    {
        const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || (n && ::write(fd, p, n) != ssize_t(n)))
            abort();
        ::close(fd);
    }

private:
    QString dir_;
};

inline int32_t rowOf(int32_t code)
{
    for (int32_t r = 0; r < TL_COUNT; ++r)
        if (tl[r].Code == code)
            return r;
    return -1;
}

// The name of a one-file type's companion file (the raw recorder's
// header), which then gets the second half of the input.
using SideName = QString (*)(const QString& dataFile);

// The families, one fuzz target each, and the seed generator's list.
struct Family {
    const char* name;
    std::initializer_list<int32_t> codes;
    SideName side;
};

// Format codes per family: the readers that share a source file share a
// target, so that one run covers a parser with all its callers.
inline const Family kFamilies[] = {
    // Matlab, MathCAD, DaDisp, COSSAP, SPW, ADS, Simkit and UInt16 columns,
    // ADS time domain, ASCII mixed without line feeds.
    {"text", {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 13, 16, 26, 29, 32}, nullptr},
    {"hexdab", {17, 20, 21, 22}, nullptr},
    {"matfile", {2, 3}, nullptr},
    // SPW/ADS binary, IQW, IBN, ADS binary time domain, the oscilloscope
    // waveform pairs, the handheld recording.
    {"binary", {12, 18, 19, 23, 27, 28, 30, 31, 33}, nullptr},
    {"wav", {14, 15}, nullptr},
    {"wv", {25}, nullptr},
    {"vantor", {24}, VantorHeaderName},
};

inline const Family* familyOf(const char* name)
{
    for (const Family& f : kFamilies)
        if (!qstrcmp(f.name, name))
            return &f;
    return nullptr;
}

// Two-file types and types with a companion file get the input split at
// its middle: the first half is the I (or data) file.
inline bool splits(const Family& fam, int32_t row)
{
    return fam.side || (row >= 0 && tl[row].Files == 2);
}

// A load that ended soundly: a failure leaves no arrays, a success has
// arrays for its count.
inline bool sound(const IQDatStr& r, int32_t st)
{
    return st == ST_OK ? r.N == 0 || (r.I && r.Q) : st < 0 && !r.I && !r.Q && r.N == 0;
}

// Loads the input with every type of the family; false when a load ended
// unsoundly (a crash, leak or hang the sanitizers and the fuzzer report).
inline bool loadAll(const Family& fam, const uint8_t* data, size_t size)
{
    bool ok = true;
    const SideName side = fam.side;
    static InputFiles files;
    const QString fileI = files.path("i.dat"), fileQ = files.path("q.dat");
    for (int32_t code : fam.codes) {
        const FmtFn* f = FmtOf(code);
        if (!f || !f->load)
            abort(); // a family lists a code without a reader: the table changed
        const int32_t row = rowOf(code);
        const bool two = row >= 0 && tl[row].Files == 2;
        const size_t half = splits(fam, row) ? size / 2 : size;
        InputFiles::put(fileI, data, half);
        InputFiles::put(side ? side(fileI) : fileQ, data + half, size - half);
        IQDatStr rec;
        rec.Typ = row;
        rec.FileI = fileI;
        rec.FileQ = two ? fileQ : QString();
        // A type without a list row is read only from the command line.
        const int32_t st = row >= 0 ? LoadDatFile(&rec) : f->load(&rec);
        ok = ok && sound(rec, st);
        FreeArr(&rec);

        if (!f->block.openR)
            continue;
        IQDatStr srec;
        srec.Typ = row;
        srec.FileI = fileI;
        io::Reader in;
        uint16_t wavFmt = 0;
        if (OpenR_IQ(&srec, &in, &wavFmt, true, true) == ST_OK) {
            const int32_t bst = ReadAllBlocks(&srec, &in, Read_IQ, wavFmt);
            ok = ok && sound(srec, bst);
        }
        FreeArr(&srec);
    }
    EscFlg = 0;
    return ok;
}

} // namespace fuzz

#define ORVEX_FUZZ_FAMILY(name)                                                 \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)    \
    {                                                                           \
        static const fuzz::Family* fam = fuzz::familyOf(name);                 \
        if (!fam || !fuzz::loadAll(*fam, data, size))                           \
            abort();                                                            \
        return 0;                                                               \
    }
