#include "matfile.h"
#include "codec.h"
#include "matwalk.h"

#include <QFile>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <new>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <matio.h>

namespace {

// The library reports through a log function; by default it prints to
// stderr. Its last message becomes part of our failure detail instead.
QString libMessage;

void matLog(int, char* message)
{
    libMessage = QString::fromLocal8Bit(message).trimmed();
}

void quietLibrary()
{
    static const bool once = (Mat_LogInitFunc("orvex", matLog), true);
    (void)once;
    libMessage.clear();
}

QString withLib(const QString& text)
{
    return libMessage.isEmpty() ? text : text + QStringLiteral(" (") + libMessage + QStringLiteral(")");
}

QByteArray nativeName(const QString& file) { return QFile::encodeName(file); }

const char* const kHeader = "MATLAB 5.0 MAT-file, Created by: Orvex";

// One MAT-5 variable holds at most 2^32 - 1 bytes including its headers.
constexpr uint64_t kMaxMat5 = (0xFFFFFFFFull - 256) / 4;

struct Named {
    const char* name;
    const float* data;
};

// Bytes of the file writeMat makes: the header, then per variable its tag,
// array flags, dimensions, a name of at most four characters inside its own
// tag, and the data element padded to eight bytes.
int64_t matBytes(size_t vars, uint64_t n)
{
    return 128 + int64_t(vars) * (8 + 16 + 16 + 8 + 8 + int64_t((4 * n + 7) / 8 * 8));
}

QString errnoText(int e) { return e ? qt_error_string(e) : QString(); }

// The library writes by file name: into the writer's staging file, whose
// size is checked before the writer commits it.
int32_t writeMat(io::Writer& w, const QString& file, std::initializer_list<Named> vars, uint64_t n, int32_t err)
{
    if (n > kMaxMat5)
        return FailWith(err, why::cannotWrite(file, QStringLiteral("%1 samples are more than a MAT-file of version 5 "
                                                                   "holds per variable (%2)")
                                                        .arg(n).arg(kMaxMat5)));
    quietLibrary();
    const QString stage = w.open() ? w.stagingName() : QString();
    if (stage.isEmpty())
        return FailWrite(err, why::cannotCreate(file, w.error()));
    // With an empty header text the library writes a NUL first byte, and
    // other readers then take the file for a version 4 MAT-file.
    errno = 0;
    mat_t* mat = Mat_CreateVer(nativeName(stage).constData(), kHeader, MAT_FT_MAT5);
    if (!mat)
        return FailWrite(err, withLib(why::cannotCreate(file, errnoText(errno))));
    size_t dims[2] = {1, size_t(n)};
    // The library wants a data pointer even for 1 x 0.
    static float none = 0;
    bool ok = true;
    int e = 0;
    for (const Named& v : vars) {
        // Written straight from the record's array; a copy would double the
        // memory held for the largest records.
        matvar_t* mv = Mat_VarCreate(v.name, MAT_C_SINGLE, MAT_T_SINGLE, 2, dims,
                                     const_cast<float*>(v.data ? v.data : &none), MAT_F_DONT_COPY_DATA);
        errno = 0;
        ok = mv && Mat_VarWrite(mat, mv, MAT_COMPRESSION_NONE) == 0;
        e = errno;
        if (mv)
            Mat_VarFree(mv);
        if (!ok)
            break;
    }
    errno = 0;
    if (Mat_Close(mat) != 0 && ok) {
        ok = false;
        e = errno;
    }
    if (!ok)
        return FailWrite(err, withLib(why::cannotWrite(file, errnoText(e))));
    // The library does not see every failed write; a short file tells.
    if (!w.adopt(matBytes(vars.size(), n)))
        return FailWrite(err, why::cannotWrite(file, w.error()));
    return ST_OK;
}

struct VarFree {
    void operator()(matvar_t* v) const { Mat_VarFree(v); }
};
using VarPtr = std::unique_ptr<matvar_t, VarFree>;

struct MatClose {
    void operator()(mat_t* m) const { Mat_Close(m); }
};
using MatPtr = std::unique_ptr<mat_t, MatClose>;

QString className(int c)
{
    switch (c) {
    case MAT_C_CELL: return QStringLiteral("cell");
    case MAT_C_STRUCT: return QStringLiteral("struct");
    case MAT_C_OBJECT: return QStringLiteral("object");
    case MAT_C_CHAR: return QStringLiteral("char");
    case MAT_C_SPARSE: return QStringLiteral("sparse");
    case MAT_C_FUNCTION: return QStringLiteral("function handle");
    case MAT_C_OPAQUE: return QStringLiteral("opaque");
    default: return QStringLiteral("empty");
    }
}

bool numeric(int c) { return c >= MAT_C_DOUBLE && c <= MAT_C_UINT64; }

struct Var {
    VarPtr info;
    uint64_t n = 0;
};

// The header of the next variable, checked so that its data can be read
// into float32 arrays: real, numeric, and no more elements than its bytes.
int32_t nextVar(mat_t* mat, const QString& file, const mat5::Extent* ext, int64_t fileSize, const char* which,
                int32_t err, Var* out)
{
    out->info.reset(Mat_VarReadNextInfo(mat));
    matvar_t* v = out->info.get();
    if (!v)
        return FailWith(err, withLib(why::cannotRead(file, QStringLiteral("it holds no %1 variable").arg(which))));
    const QString name = QString::fromLocal8Bit(v->name ? v->name : "");
    if (v->isComplex)
        return FailWith(err, why::cannotRead(file, QStringLiteral("its %1 variable \"%2\" is complex; only real "
                                                                  "variables can be loaded")
                                                       .arg(which, name)));
    if (!numeric(v->class_type))
        return FailWith(err, why::cannotRead(file, QStringLiteral("its %1 variable \"%2\" is a %3 array, not a numeric one")
                                                       .arg(which, name, className(v->class_type))));
    uint64_t n = 1;
    for (int k = 0; k < v->rank; ++k)
        if (__builtin_mul_overflow(n, uint64_t(v->dims[k]), &n))
            return FailWith(err, why::cannotRead(file, QStringLiteral("its %1 variable \"%2\" has impossible dimensions")
                                                           .arg(which, name)));
    if (v->rank <= 0)
        n = 0;
    // zlib expands at most about 1032 to 1; an element is at least a byte.
    uint64_t room = uint64_t(std::max<int64_t>(fileSize, 0)) * 1032;
    if (ext && ext->known) {
        const size_t sz = Mat_SizeOf(matio_types(ext->type));
        room = sz ? ext->bytes / sz : 0;
    }
    if (n > room)
        return FailWith(err, why::truncated(file, QStringLiteral("its %1 variable \"%2\" announces %3 elements but "
                                                                 "holds data for %4")
                                                      .arg(which, name).arg(n).arg(room)));
    out->n = n;
    return ST_OK;
}

template <class T>
void widen(const void* src, float* dst, uint64_t n)
{
    const T* s = static_cast<const T*>(src);
    for (uint64_t i = 0; i < n; ++i)
        dst[i] = float(s[i]);
}

// The first n elements in storage order (column by column), as float32.
int32_t readVar(mat_t* mat, matvar_t* v, float* dst, uint64_t n, const QString& file, int32_t err)
{
    if (n == 0)
        return ST_OK;
    if (n > uint64_t(INT_MAX))
        return FailWith(err, why::cannotRead(file, QStringLiteral("it holds more than %1 elements in one variable")
                                                       .arg(INT_MAX)));
    const auto bad = [&] { return FailWith(err, withLib(why::cannotRead(file))); };
    if (v->class_type == MAT_C_SINGLE)
        return Mat_VarReadDataLinear(mat, v, dst, 0, 1, int(n)) == 0 ? ST_OK : bad();
    const size_t cs = Mat_SizeOfClass(v->class_type);
    std::unique_ptr<uint8_t[]> tmp(new (std::nothrow) uint8_t[n * cs]);
    if (!tmp)
        return FailWith(ST_NOMEM, why::cannotRead(file, QStringLiteral("its %1 elements do not fit into memory").arg(n)));
    if (Mat_VarReadDataLinear(mat, v, tmp.get(), 0, 1, int(n)) != 0)
        return bad();
    switch (v->class_type) {
    case MAT_C_DOUBLE: widen<double>(tmp.get(), dst, n); break;
    case MAT_C_INT8: widen<int8_t>(tmp.get(), dst, n); break;
    case MAT_C_UINT8: widen<uint8_t>(tmp.get(), dst, n); break;
    case MAT_C_INT16: widen<int16_t>(tmp.get(), dst, n); break;
    case MAT_C_UINT16: widen<uint16_t>(tmp.get(), dst, n); break;
    case MAT_C_INT32: widen<int32_t>(tmp.get(), dst, n); break;
    case MAT_C_UINT32: widen<uint32_t>(tmp.get(), dst, n); break;
    case MAT_C_INT64: widen<int64_t>(tmp.get(), dst, n); break;
    case MAT_C_UINT64: widen<uint64_t>(tmp.get(), dst, n); break;
    default: return bad();
    }
    return ST_OK;
}

// The file's structure is walked before the library opens it: the library
// allocates what the tags announce before it compares them with the file.
// A problem in the first variable fails with err, in a later one with ST_FILE2.
int32_t openMat(const QString& file, int count, int32_t err, MatPtr* out, int64_t* size,
                std::vector<mat5::Extent>* ext)
{
    quietLibrary();
    *size = QFile(file).size();
    if (file.isEmpty() || !QFile::exists(file))
        return FailWith(err, why::cannotOpen(file));
    const mat5::Walk w = mat5::walk(file, count, MaxAllocSamples() * 2 * sizeof(float));
    if (!w.problem.isEmpty())
        return FailWith(w.var ? ST_FILE2 : err, w.truncated ? why::truncated(file, w.problem)
                                                            : why::cannotRead(file, w.problem));
    *ext = w.vars;
    out->reset(Mat_Open(nativeName(file).constData(), MAT_ACC_RDONLY));
    if (!*out)
        return FailWith(err, withLib(why::cannotRead(file, QStringLiteral("it is not a MAT-file"))));
    return ST_OK;
}

// Both variables are checked before anything is allocated; the shorter one
// decides the sample count.
int32_t fill(IQDatStr* rec, mat_t* mi, Var& vi, const QString& fi, mat_t* mq, Var& vq, const QString& fq,
             int32_t errQ)
{
    const uint64_t n = std::min(vi.n, vq.n);
    int32_t st = MakeIQArr(rec, n);
    if (st != ST_OK)
        return st;
    rec->N = n;
    st = readVar(mi, vi.info.get(), rec->I, n, fi, ST_FILE1);
    if (st == ST_OK)
        st = readVar(mq, vq.info.get(), rec->Q, n, fq, errQ);
    return st;
}

} // namespace

int32_t SaveMLabBinSgl(IQDatStr rec, const QString& fileI, const QString& fileQ)
{
    if (rec.N && (!rec.I || !rec.Q))
        return FailWith(ST_FILE1, why::cannotWrite(fileI, QStringLiteral("the record holds no samples")));
    io::Writer wi(fileI), wq(fileQ);
    int32_t st = writeMat(wi, fileI, {{"I", rec.I}}, rec.N, ST_FILE1);
    if (st == ST_OK)
        st = writeMat(wq, fileQ, {{"Q", rec.Q}}, rec.N, ST_FILE2);
    return FinishPair(wi, wq, st);
}

int32_t SaveMLabBinMix(IQDatStr rec, const QString& file)
{
    if (rec.N && (!rec.I || !rec.Q))
        return FailWith(ST_FILE1, why::cannotWrite(file, QStringLiteral("the record holds no samples")));
    io::Writer w(file);
    return FinishWrite(w, writeMat(w, file, {{"I", rec.I}, {"Q", rec.Q}}, rec.N, ST_FILE1));
}

int32_t LoadMLabBinSgl(IQDatStr* rec)
{
    MatPtr mi, mq;
    int64_t si = 0, sq = 0;
    std::vector<mat5::Extent> ei, eq;
    Var vi, vq;
    int32_t st = openMat(rec->FileI, 1, ST_FILE1, &mi, &si, &ei);
    if (st == ST_OK)
        st = nextVar(mi.get(), rec->FileI, ei.empty() ? nullptr : &ei[0], si, "first", ST_FILE1, &vi);
    if (st == ST_OK)
        st = openMat(rec->FileQ, 1, ST_FILE2, &mq, &sq, &eq);
    if (st == ST_OK)
        st = nextVar(mq.get(), rec->FileQ, eq.empty() ? nullptr : &eq[0], sq, "first", ST_FILE2, &vq);
    if (st == ST_OK)
        st = fill(rec, mi.get(), vi, rec->FileI, mq.get(), vq, rec->FileQ, ST_FILE2);
    return LoadDone(rec, st);
}

int32_t LoadMLabBinMix(IQDatStr* rec)
{
    MatPtr m;
    int64_t size = 0;
    std::vector<mat5::Extent> e;
    Var vi, vq;
    int32_t st = openMat(rec->FileI, 2, ST_FILE1, &m, &size, &e);
    if (st == ST_OK)
        st = nextVar(m.get(), rec->FileI, e.size() > 0 ? &e[0] : nullptr, size, "first", ST_FILE1, &vi);
    if (st == ST_OK)
        st = nextVar(m.get(), rec->FileI, e.size() > 1 ? &e[1] : nullptr, size, "second", ST_FILE2, &vq);
    if (st == ST_OK)
        st = fill(rec, m.get(), vi, rec->FileI, m.get(), vq, rec->FileI, ST_FILE2);
    return LoadDone(rec, st);
}
