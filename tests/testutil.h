// Small helpers shared by the tests: records with known samples, raw files.
#pragma once

#include "formats/iqdata.h"
#include "formats/save.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace testutil {

// A record holding n samples that are all distinct and exactly representable.
inline IQDatStr makeRec(uint64_t n, uint32_t seed = 1)
{
    IQDatStr r;
    MakeIQArr(&r, n);
    r.N = n;
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (uint64_t i = 0; i < n; ++i) {
        r.I[i] = d(gen);
        r.Q[i] = d(gen);
    }
    return r;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Loads path(s) as load-list row typ into a fresh record.
inline int32_t load(IQDatStr* r, int typ, const QString& fi, const QString& fq = QString())
{
    r->Typ = typ;
    r->FileI = fi;
    r->FileQ = fq;
    return LoadDatFile(r);
}

// A record holding exactly these samples.
inline IQDatStr recOf(const std::vector<float>& i, const std::vector<float>& q)
{
    IQDatStr r;
    MakeIQArr(&r, i.size());
    r.N = i.size();
    std::copy(i.begin(), i.end(), r.I);
    std::copy(q.begin(), q.end(), r.Q);
    return r;
}

// Owns a record's arrays, so a failed check in mid-test leaks nothing.
struct Rec {
    IQDatStr r;
    Rec() = default;
    Rec(const std::vector<float>& i, const std::vector<float>& q) : r(recOf(i, q)) {}
    Rec(const Rec&) = delete;
    Rec& operator=(const Rec&) = delete;
    ~Rec() { FreeArr(&r); }
};

// True when r holds exactly these samples, bit for bit (-0 and NaN count).
inline bool holds(const IQDatStr& r, const std::vector<float>& i, const std::vector<float>& q)
{
    return r.N == i.size() && r.N == q.size()
           && (r.N == 0 || (std::memcmp(r.I, i.data(), r.N * 4) == 0 && std::memcmp(r.Q, q.data(), r.N * 4) == 0));
}

// Appends dat to the files of save-list row typ through the save dispatcher.
inline int32_t appendTo(IQDatStr* dat, int typ, const QString& fi, const QString& fq, int guard)
{
    IQDatStr dst, sav;
    sav.Typ = typ;
    sav.FileI = dst.FileI = fi;
    sav.FileQ = dst.FileQ = fq;
    bool result = false;
    const int32_t st = SaveDatFile(dat, &dst, &sav, AnaStr(), true, guard, &result);
    FreeArr(&dst);
    FreeArr(&sav);
    return st;
}

} // namespace testutil
