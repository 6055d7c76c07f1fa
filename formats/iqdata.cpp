#include "iqdata.h"
#include "codec.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <new>
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

int32_t MakeIQArr(IQDatStr* rec, uint64_t count)
{
    FreeArr(rec);
    struct Arrays {
        std::unique_ptr<float[]> i, q;
    };
    auto a = std::make_shared<Arrays>();
    if (count <= MaxAllocSamples()) {
        a->i.reset(new (std::nothrow) float[count]);
        a->q.reset(new (std::nothrow) float[count]);
    }
    if (!a->i || !a->q) {
        SetDetail(QStringLiteral("%1 samples do not fit into memory.").arg(count));
        return ST_NOMEM;
    }
    rec->I = a->i.get();
    rec->Q = a->q.get();
    rec->Keep = std::move(a);
    return ST_OK;
}

void FreeArr(IQDatStr* rec)
{
    rec->Keep.reset();
    rec->I = nullptr;
    rec->Q = nullptr;
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
