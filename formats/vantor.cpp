#include "vantor.h"
#include "codec.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace {

// A header is one short line; more than this is not read.
constexpr qint64 kMaxHeader = 1 << 20;

// The value after "KEY:" up to the next "}" as a number; nothing when the
// tag, its brace or a readable number is missing.
bool tagNumber(const QByteArray& h, const char* key, double* v)
{
    int a = h.indexOf(key);
    if (a < 0)
        return false;
    a += int(qstrlen(key));
    const int b = h.indexOf('}', a);
    if (b < 0)
        return false;
    bool ok = false;
    const double d = QString::fromUtf8(h.mid(a, b - a)).toDouble(&ok);
    if (ok)
        *v = d;
    return ok;
}

int32_t readRaw(IQDatStr* rec, io::Reader* in, uint64_t n, uint16_t)
{
    return Read_VantorRaw(rec, in, n);
}

} // namespace

QString VantorHeaderName(const QString& dataFile)
{
    const QFileInfo fi(dataFile);
    return fi.path() + QStringLiteral("/") + fi.completeBaseName() + QStringLiteral(".wvh");
}

QByteArray VantorHeader(const IQDatStr& rec, const QDateTime& now)
{
    const QDate d = now.date();
    const QTime t = now.time();
    return QString::asprintf("{TYPE:RAW16LE}{DATE:%d-%d-%d;%d:%d:%d}{COPYRIGHT:2009 Halvard Vantor}"
                             "{COMMENT:%-24s}{FWVERSION:4.10.04}{CLOCK:%0.6lf}{RESOLUTION:16}"
                             "{SAMPLES:%llu}{COMPONENTS:IQ}{REFLEVEL:%0.3lf}{FREQUENCY:%0.1lf}",
                             d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), "Orvex",
                             rec.Clock, (unsigned long long)rec.N, double(rec.RefLev), rec.CFreq)
        .toLocal8Bit();
}

int32_t OpenR_VantorRaw(IQDatStr* rec, io::Reader* in, bool findRange, bool findPower)
{
    const QString hname = VantorHeaderName(rec->FileI);
    QFile hf(hname);
    if (!hf.open(QIODevice::ReadOnly))
        return FailWith(ST_FILE1, why::withReason(hname + QStringLiteral(" cannot be opened"), InputReason(hname)));
    const QByteArray h = hf.read(kMaxHeader);
    hf.close();
    // A missing or unreadable tag keeps the value given for the load (the
    // panel's clock and reference level); there is no centre frequency then.
    double v;
    if (tagNumber(h, "CLOCK:", &v))
        rec->Clock = v;
    if (tagNumber(h, "REFLEVEL:", &v))
        rec->RefLev = float(v);
    rec->CFreq = tagNumber(h, "FREQUENCY:", &v) ? v : 0.0;
    if (int32_t st = OpenIn(*in, rec->FileI))
        return st;
    rec->N = uint64_t(in->size()) / 4;
    NoteTrailing(rec, rec->FileI, uint64_t(in->size()), 4);
    return ScanBlocks(rec, in, readRaw, 0, findRange, findPower, false);
}

int32_t Read_VantorRaw(IQDatStr* rec, io::Reader* in, uint64_t n)
{
    return codec::ReadPairs<codec::Vantor16>(rec, in, n);
}

int32_t OpenW_VantorRaw(IQDatStr rec, BlockOut* out, double* scale, bool findRange)
{
    // The header goes beside the data under a name of its own; a device or
    // pipe has no "beside" (it would make /dev/x.wvh).
    const QFileInfo dest(out->path());
    if (dest.exists() && !dest.isFile())
        return FailWrite(ST_FILE1, why::cannotCreate(out->path(), QStringLiteral("it is no regular file, and the header %1 "
                                                                               "cannot go beside it")
                                                                      .arg(VantorHeaderName(out->path()))));
    io::Writer* hw = out->openSide(VantorHeaderName(out->path()));
    if (!hw->ok())
        return FailWrite(ST_FILE1, why::cannotCreate(hw->path(), hw->error()));
    hw->write(VantorHeader(rec, QDateTime::currentDateTime()));
    if (int32_t st = OpenOut(out->data())) {
        out->cancel();
        return st;
    }
    if (findRange) {
        uint64_t ix;
        MaxMin1D(rec.I, rec.N, &rec.IMax, &ix, &rec.IMin, &ix);
        MaxMin1D(rec.Q, rec.N, &rec.QMax, &ix, &rec.QMin, &ix);
    }
    const float s = std::max({std::fabs(rec.IMin), std::fabs(rec.IMax), std::fabs(rec.QMin),
                              std::fabs(rec.QMax)});
    // All-zero data: any factor writes zeros, and 1 avoids dividing by 0.
    *scale = s > 0 ? s : 1.0;
    return ST_OK;
}

void Writ_VantorRaw(IQDatStr rec, BlockOut* out, uint64_t n, double scale)
{
    codec::WritePairs<codec::Vantor16>(rec, out->data(), n, scale);
}

int32_t LoadVantorRaw(IQDatStr* rec)
{
    io::Reader in;
    int32_t st = OpenR_VantorRaw(rec, &in, false, false);
    if (st != ST_OK)
        return LoadDone(rec, st);
    return ReadAllBlocks(rec, &in, readRaw, 0);
}

int32_t SaveVantorRaw(IQDatStr rec, const QString& file)
{
    return SaveAllBlocks(rec, file, OpenW_VantorRaw, Writ_VantorRaw, nullptr);
}
