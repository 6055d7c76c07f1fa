// Small helpers shared by the tests: records with known samples, raw files.
#pragma once

#include "formats/iqdata.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <random>

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

} // namespace testutil
