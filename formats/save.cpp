#include "save.h"
#include "catalogue.h"
#include "codec.h"
#include "spool.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace {

// The names a load of rec reads.
QStringList loadNames(const IQDatStr* rec)
{
    QStringList names{rec->FileI};
    if (rec->Typ >= 0 && rec->Typ < TL_COUNT && tl[rec->Typ].Files == 2)
        names << rec->FileQ;
    return names;
}

// What the load of rec found beyond its data: empty files, and the system's
// reason why a file could not be opened where its reader did not give one.
int32_t finishLoad(IQDatStr* rec, int32_t st)
{
    for (const QString& name : loadNames(rec)) {
        if (st == ST_OK && QFileInfo(name).size() == 0)
            AddNotice(rec, QStringLiteral("%1 is empty.").arg(name));
        if (st != ST_OK && LastDetail() == why::cannotOpen(name))
            SetDetail(why::withReason(name + QStringLiteral(" cannot be opened"), InputReason(name)));
    }
    return st;
}

} // namespace

int32_t LoadDatFile(IQDatStr* rec)
{
    FreeArr(rec);
    rec->N = 0;
    rec->SecFile = 1;
    rec->Notices.clear();
    SetDetail(QString());
    if (rec->Typ < 0 || rec->Typ >= TL_COUNT)
        return ST_OK;
    const FmtFn* f = FmtOf(tl[rec->Typ].Code);
    if (!f)
        return ST_OK;
    if (!f->load) {
        SetDetail(QStringLiteral("The type \"%1\" cannot be read.").arg(tl[rec->Typ].Name));
        return ST_UNSUPP;
    }
    for (const QString& file : {rec->FileI, rec->FileQ})
        if (const QString p = io::NameProblem(file); !p.isEmpty())
            return FailWith(file == rec->FileI ? ST_FILE1 : ST_FILE2, why::cannotOpen(file, p));
    Spool spool;
    int32_t st = spool.take(rec);
    if (st == ST_OK)
        st = finishLoad(rec, f->load(rec));
    spool.restore(rec);
    if (st != ST_OK) {
        // Whatever a reader left behind on failure is not valid data.
        FreeArr(rec);
        rec->N = 0;
        rec->Notices.clear();
    }
    return st;
}

int32_t BldDstArr(IQDatStr* out, IQDatStr old, IQDatStr add, int32_t guard, bool*)
{
    // A guard longer than the new data would copy from before its start.
    uint64_t g = uint64_t(std::clamp<int64_t>(guard, 0, int64_t(add.N)));
    uint64_t n = old.N + g + add.N;
    int32_t st = MakeIQArr(out, n);
    if (st != ST_OK)
        return st;
    out->N = n;
    for (auto [dst, a, b] : {std::tuple{out->I, old.I, add.I}, std::tuple{out->Q, old.Q, add.Q}}) {
        if (old.N)
            std::memcpy(dst, a, old.N * sizeof(float));
        if (g)
            std::memcpy(dst + old.N, b + (add.N - g), g * sizeof(float));
        if (add.N)
            std::memcpy(dst + old.N + g, b, add.N * sizeof(float));
    }
    return ST_OK;
}

int32_t SaveDatFile(IQDatStr* dat, IQDatStr* dst, IQDatStr* sav, AnaStr ana,
                    bool append, int32_t guard, bool* result)
{
    SetDetail(QString());
    dst->N = 0;
    dst->Typ = sav->Typ;
    if (dat->SrcTab != 0) {
        dat->Clock = sav->Clock = ana.SRate;
        // The count field may have been edited after the trace; never let it
        // reach past the samples really held.
        dat->N = sav->N = std::min(ana.Count, dat->N);
        dat->RefLev = sav->RefLev = float(ana.RefLev);
        sav->CFreq = dat->CFreq;
    } else {
        sav->N = dat->N;
        sav->RefLev = dat->RefLev;
        sav->Clock = dat->Clock;
        sav->CFreq = dat->CFreq;
    }
    const QString fileI = sav->FileI;
    const QString fileQ = sav->FileQ;
    if (sav->Typ < 0 || sav->Typ >= TS_COUNT)
        return ST_OK;
    const int32_t code = ts[sav->Typ].Code;
    const FmtFn* f = FmtOf(code);
    if (!f || !f->save) {
        SetDetail(QStringLiteral("The type \"%1\" cannot be written.").arg(ts[sav->Typ].Name));
        return ST_UNSUPP;
    }
    if (!append)
        return f->save(*dat, code, fileI, fileQ);
    if (!f->appendLoad) {
        SetDetail(QStringLiteral("Append is not available for the type \"%1\".").arg(ts[sav->Typ].Name));
        return ST_UNSUPP;
    }

    // Append reads the destination back first: a pipe or a device has
    // nothing to give back, and waiting for it would never end.
    for (const QString& name : {fileI, fileQ})
        if (IsSpecialInput(name))
            return FailWith(ST_FILE1, QStringLiteral("%1 is no regular file; append needs one to read back.").arg(name));
    // The append reader reads the destination as the save type. Rows 0..24
    // of both lists are the same types, and the one save row beyond them (WV)
    // has a reader that does not look at the type index.
    dst->SecFile = 1;
    int32_t st = f->appendLoad(dst);
    if (st == ST_OK)
        st = BldDstArr(sav, *dst, *dat, guard, result);
    FreeArr(dst);
    if (st == ST_OK)
        st = f->save(*sav, code, fileI, fileQ);
    // The combined arrays served only this write; keeping them would double
    // the memory held for nothing.
    FreeArr(sav);
    return st;
}
