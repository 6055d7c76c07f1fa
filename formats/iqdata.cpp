#include "iqdata.h"
#include "codec.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdlib>
#include <sys/mman.h>
#include <system_error>
#include <thread>
#include <unistd.h>

volatile signed char EscFlg = 0;
volatile signed char BrkFlg = 0;

namespace {
QString detail;
bool wrote = false;
}

QString LastDetail() { return detail; }
void SetDetail(const QString& text)
{
    detail = text;
    wrote = false;
}

void AddNotice(IQDatStr* rec, const QString& text)
{
    if (!rec->Notices.contains(text))
        rec->Notices << text;
}

int32_t FailWith(int32_t st, const QString& why)
{
    SetDetail(why);
    return st;
}

int32_t FailWrite(int32_t st, const QString& why)
{
    detail = why;
    wrote = true;
    return st;
}

bool LastFailureWrote() { return wrote; }

int32_t LoadDone(IQDatStr* rec, int32_t st)
{
    EscFlg = 0;
    if (st != ST_OK) {
        FreeArr(rec);
        rec->N = 0;
    }
    return st;
}

QString LoadErrorText(int32_t status, const QString& fileI)
{
    if (status == ST_REFUSED)
        return QStringLiteral("The file ") + fileI + QStringLiteral(" is scrambled. Load aborted.");
    return QStringLiteral("File Load Error.");
}

QString SaveErrorText(int32_t, bool append)
{
    return append ? QStringLiteral("Memory too low.") : QStringLiteral("File Save Error.");
}

QString QNameFor(const QString& fileI)
{
    // Only a dot in the last path component starts an extension: "/a.b/out"
    // becomes "/a.b/out.q", not "/a.q".
    int dot = fileI.lastIndexOf('.');
    int slash = std::max(fileI.lastIndexOf('/'), fileI.lastIndexOf('\\'));
    return (dot > slash ? fileI.left(dot) : fileI) + QStringLiteral(".q");
}

uint64_t MaxAllocSamples()
{
    // Two float arrays per sample; leave a quarter of the memory to the rest
    // of the system.
    long pages = sysconf(_SC_PHYS_PAGES);
    long psize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || psize <= 0)
        return uint64_t(1) << 28;
    uint64_t bytes = uint64_t(pages) * uint64_t(psize);
    return bytes / 4 * 3 / 8;
}

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
// Below this a block is left to malloc: huge pages cannot help it, and a
// mapping per small array would cost more system calls than it saves.
constexpr size_t kMapFrom = size_t(4) << 20;

size_t roundUp(size_t v, size_t to) { return (v + to - 1) / to * to; }

// Huge pages pay unless the kernel hands free memory back to a hypervisor
// (a virtio balloon with free page reporting, feature bit 5): free huge
// pages then return to the host within seconds, and every huge page fault
// waits for the host to supply 2 MiB again, 3-5 times slower than the same
// memory in 4 KiB pages, which come from memory the guest still holds.
bool hugePagesPay()
{
    static const bool pay = [] {
        const QDir dir(QStringLiteral("/sys/bus/virtio/drivers/virtio_balloon"));
        for (const QString& dev : dir.entryList({QStringLiteral("virtio*")}, QDir::AllEntries | QDir::NoDotAndDotDot)) {
            QFile f(dir.filePath(dev + QStringLiteral("/features")));
            if (f.open(QIODevice::ReadOnly) && f.read(6).endsWith('1'))
                return false;
        }
        return true;
    }();
    return pay;
}
} // namespace

std::shared_ptr<void> AllocBig(size_t bytes)
{
    if (bytes < kMapFrom) {
        void* p = std::calloc(std::max<size_t>(bytes, 1), 1);
        if (!p)
            return nullptr;
        return std::shared_ptr<void>(p, [](void* q) { std::free(q); });
    }
    if (bytes > SIZE_MAX - 2 * kHugePage)
        return nullptr;
    // Over-mapped by one huge page and trimmed, so the block starts on a
    // huge page boundary; fresh anonymous pages read as zero.
    const size_t len = roundUp(bytes, kHugePage);
    void* raw = mmap(nullptr, len + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    auto* base = static_cast<uint8_t*>(raw);
    auto* start = reinterpret_cast<uint8_t*>(roundUp(reinterpret_cast<uintptr_t>(base), kHugePage));
    if (start > base)
        munmap(base, size_t(start - base));
    if (start + len < base + len + kHugePage)
        munmap(start + len, size_t(base + len + kHugePage - (start + len)));
#ifdef MADV_HUGEPAGE
    // Only advice: with huge pages off the block works with small pages.
    if (hugePagesPay())
        madvise(start, len, MADV_HUGEPAGE);
#endif
    return std::shared_ptr<void>(start, [len](void* q) { munmap(q, len); });
}

namespace {
// Faults in the pages of a big pair of arrays on a second thread, I and Q
// side by side from the start, the order in which every loader fills them:
// the kernel's page faults (zeroing 4 KiB at a time, the larger part of a
// big load) then overlap reading and decoding. MADV_POPULATE_WRITE never
// touches the contents, so it may run while the arrays are being written.
// (Taking the pages from the end instead, to meet the loader halfway,
// measured slower.)
struct Populator {
    std::atomic<bool> stop{false};
    std::thread thread;
};

std::shared_ptr<void> populated(std::shared_ptr<void> block, size_t span)
{
#ifdef MADV_POPULATE_WRITE
    if (2 * span < kMapFrom)
        return block;
    auto pop = std::make_shared<Populator>();
    auto* base = static_cast<uint8_t*>(block.get());
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    auto run = [pop = pop.get(), base, span, page] {
        for (size_t at = 0; at < span && !pop->stop.load(std::memory_order_relaxed); at += kHugePage) {
            const size_t len = std::min(kHugePage, span - at);
            uint8_t* q = base + span + at;
            uint8_t* qPage = q - reinterpret_cast<uintptr_t>(q) % page;
            // A kernel without the advice says EINVAL at once; the loader
            // then takes every fault itself.
            if (madvise(base + at, len, MADV_POPULATE_WRITE) != 0
                || madvise(qPage, size_t(q + len - qPage), MADV_POPULATE_WRITE) != 0)
                return;
        }
    };
    try {
        pop->thread = std::thread(run);
    } catch (const std::system_error&) {
        return block;
    }
    // The deleter stops and joins the thread before the block goes.
    void* p = block.get();
    return std::shared_ptr<void>(p, [block = std::move(block), pop](void*) {
        pop->stop = true;
        pop->thread.join();
    });
#else
    (void)span;
    return block;
#endif
}
} // namespace

int32_t MakeIQArr(IQDatStr* rec, uint64_t count)
{
    FreeArr(rec);
    // One block for both arrays; Q starts on a cache line of its own.
    const size_t span = count <= MaxAllocSamples() ? roundUp(size_t(count) * sizeof(float), 64) : 0;
    std::shared_ptr<void> block = span || !count ? AllocBig(2 * span) : nullptr;
    if (!block) {
        SetDetail(QStringLiteral("%1 samples do not fit into memory.").arg(count));
        return ST_NOMEM;
    }
    rec->I = static_cast<float*>(block.get());
    rec->Q = reinterpret_cast<float*>(static_cast<uint8_t*>(block.get()) + span);
    rec->Keep = populated(std::move(block), span);
    return ST_OK;
}

void FreeArr(IQDatStr* rec)
{
    rec->Keep.reset();
    rec->I = nullptr;
    rec->Q = nullptr;
}

void PutPairsLE(const float* __restrict I, const float* __restrict Q, uint64_t n, uint8_t* __restrict out)
{
    for (uint64_t j = 0; j < n; ++j) {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        std::memcpy(out + 8 * j, I + j, 4);
        std::memcpy(out + 8 * j + 4, Q + j, 4);
#else
        io::putf32(out + 8 * j, I[j]);
        io::putf32(out + 8 * j + 4, Q[j]);
#endif
    }
}

void GetPairsLE(const uint8_t* __restrict in, uint64_t n, float* __restrict I, float* __restrict Q)
{
    for (uint64_t j = 0; j < n; ++j) {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        std::memcpy(I + j, in + 8 * j, 4);
        std::memcpy(Q + j, in + 8 * j + 4, 4);
#else
        I[j] = io::lef32(in + 8 * j);
        Q[j] = io::lef32(in + 8 * j + 4);
#endif
    }
}

uint64_t MaxMin1D(const float* v, uint64_t n, float* max, uint64_t* maxIdx,
                  float* min, uint64_t* minIdx)
{
    float mx = 0, mn = 0;
    uint64_t ix = 0, in = 0;
    for (uint64_t i = 0; i < n; ++i) {
        if (mn > v[i]) { mn = v[i]; in = i; }
        if (v[i] > mx) { mx = v[i]; ix = i; }
    }
    *max = mx; *maxIdx = ix; *min = mn; *minIdx = in;
    return n;
}

int32_t EscPressed(uint64_t index)
{
    if (index % 25000 != 0)
        return ST_OK;
    ProgressTick(index);
    return EscFlg ? ST_CANCEL : ST_OK;
}

void RevArr(char* bytes, uint32_t size)
{
    for (uint32_t i = 0; i < size / 2; ++i)
        std::swap(bytes[i], bytes[size - 1 - i]);
}

int32_t ReadShUnion(IQDatStr* rec, QFile* file, uint64_t n)
{
    // 2048 samples per read: the file object's own buffer does the rest.
    uint8_t buf[2048 * 4];
    for (uint64_t i = 0; i < n;) {
        uint64_t k = std::min<uint64_t>(n - i, 2048);
        qint64 got = file->read(reinterpret_cast<char*>(buf), qint64(k * 4));
        if (got < qint64(k * 4))
            std::memset(buf + (got > 0 ? got : 0), 0, size_t(k * 4 - uint64_t(got > 0 ? got : 0)));
        codec::DecodePairs<codec::Linear16>(buf, k, rec->I + i, rec->Q + i);
        i += k;
    }
    return ST_OK;
}

QString Ch2S(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}
