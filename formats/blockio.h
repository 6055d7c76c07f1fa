// The block interface of the large-file types (WAV mixed, WV, raw recorder):
// open a file once, then read or write it a block at a time, so that a copy
// never needs the whole file in memory. Each type's four functions are wired
// to its format code in fmtTab.
#pragma once

#include "fileio.h"
#include "iqdata.h"

#include <memory>

// Logical block of a streaming copy: block boundaries fall on multiples of it.
constexpr uint64_t kBlockSamples = 262144000;
// Samples per I/O call inside a block: 4 MiB of 16-bit pairs, the size at
// which the buffered reader and writer hand the bytes straight to the file,
// and small enough that memory stays flat whatever the block size.
constexpr uint64_t kChunkSamples = uint64_t(1) << 20;

// Destination of the block writers: the data file and, for the raw recorder,
// its header file. Neither replaces an existing file before commit(), so a
// cancelled or failed copy leaves the old files (or none) behind.
class BlockOut {
public:
    explicit BlockOut(const QString& path) : path_(path), data_(path) {}
    const QString& path() const { return path_; }
    io::Writer& data() { return data_; }
    // Opens the companion file written and committed together with the data.
    io::Writer* openSide(const QString& path);
    bool ok() const { return data_.ok() && (!side_ || side_->ok()); }
    bool commit();
    void cancel();
    // The failure of a writer that failed, as a failure detail.
    QString why() const;

private:
    QString path_;
    io::Writer data_;
    std::unique_ptr<io::Writer> side_;
};

// The uniform block signatures of fmtTab. The WAV sample format code returned
// by the read-open is handed back to every read; the other types ignore it.
// Reads return a status, so a source that shrank since its scan is noticed.
using OpenRFn = int32_t (*)(IQDatStr* rec, io::Reader* in, uint16_t* wavFmt, bool findRange,
                            bool findPower);
using ReadFn = int32_t (*)(IQDatStr* rec, io::Reader* in, uint64_t n, uint16_t wavFmt);
using OpenWFn = int32_t (*)(IQDatStr rec, BlockOut* out, double* scale, bool find);
using WritFn = void (*)(IQDatStr rec, BlockOut* out, uint64_t n, double scale);
using TailFn = void (*)(BlockOut* out);

struct BlockFn {
    OpenRFn openR = nullptr;
    ReadFn read = nullptr;
    OpenWFn openW = nullptr;
    WritFn writ = nullptr;
    bool powerScan = false;  // the writer scales from peak/power, not from the range
    TailFn tail = nullptr;   // bytes after the last sample
};

// Scan of a whole source for a writer's scale: from the reader's current
// position, decodes every sample with read (into private buffers, never the
// record's arrays), fills the range and/or power fields and seeks back.
// powerInFloat: I² + Q² summed in single precision (WAV), else double.
int32_t ScanBlocks(IQDatStr* rec, io::Reader* in, ReadFn read, uint16_t wavFmt, bool findRange,
                   bool findPower, bool powerInFloat);

// A reusable byte buffer per purpose (0: reading, 1: writing), so the block
// functions, called once per chunk, do not allocate and fault in megabytes
// at every call.
uint8_t* Scratch(int which, size_t bytes);

// Whole-file load through the block functions: allocates the record's
// arrays for rec->N samples and fills them chunk by chunk with progress and
// cancel. Ends as every reader ends: EscFlg cleared, no arrays on failure.
int32_t ReadAllBlocks(IQDatStr* rec, io::Reader* in, ReadFn read, uint16_t wavFmt);
// Whole-record save through the block functions: open (the writer finds its
// own scale), every sample, then the tail, then commit (or cancel).
int32_t SaveAllBlocks(IQDatStr rec, const QString& file, OpenWFn open, WritFn writ, TailFn tail);

// Progress and cancel at a chunk start (index: samples done so far).
int32_t PollChunk(uint64_t index);
