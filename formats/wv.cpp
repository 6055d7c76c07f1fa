#include "wv.h"
#include "codec.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <QRegularExpression>

namespace {

// Headers are a few kB; one that has not ended after this many bytes is not
// a WV header, and the search stops instead of reading a whole recording.
constexpr int kMaxHeader = 16 << 20;

// Reads up to and including the "#" that ends the header (the second one
// when the first part names an EMPTYTAG, whose padding may hold a "#").
int32_t readHeader(io::Reader& r, const QString& file, QByteArray* header)
{
    QByteArray head;
    int from = 0, hashes = 0, end = -1;
    for (;;) {
        int h;
        while (end < 0 && (h = head.indexOf('#', from)) >= 0) {
            from = h + 1;
            if (++hashes == 2 || !head.left(from).contains("EMPTYTAG"))
                end = from;
        }
        if (end >= 0)
            break;
        from = head.size();
        if (head.size() >= kMaxHeader)
            return FailWith(ST_FILE1, why::cannotRead(file, QStringLiteral("it has no end of header (\"#\") in its "
                                                                           "first %1 bytes")
                                                                .arg(kMaxHeader)));
        char buf[65536];
        const size_t got = r.read(buf, sizeof buf);
        if (got == 0)
            return FailWith(ST_FILE1, why::cannotRead(file, hashes == 0
                                                                ? QStringLiteral("it has no \"#\" ending its header")
                                                                : QStringLiteral("it has an EMPTYTAG but no second \"#\"")));
        head.append(buf, int(got));
    }
    *header = head.left(end);
    return r.seek(end) ? ST_OK : FailWith(ST_FILE1, why::cannotRead(file));
}

// The text between "KEY:" and the next "}", blanks removed; nothing when
// the tag or its closing brace is missing.
std::optional<QString> tagValue(const QString& h, const QString& key)
{
    int a = h.indexOf(key);
    if (a < 0)
        return std::nullopt;
    a += key.size();
    const int b = h.indexOf('}', a);
    if (b < 0)
        return std::nullopt;
    QString v = h.mid(a, b - a);
    v.remove(QRegularExpression(QStringLiteral("\\s")));
    return v;
}

int32_t readWv(IQDatStr* rec, io::Reader* in, uint64_t n, uint16_t)
{
    return ReadShUnion(rec, in, n);
}

} // namespace

QByteArray WvHeader(double peak, double sum, uint64_t n, double clock, const QDateTime& now)
{
    // Silence (or nothing) has no crest factor; 0 dB is written instead of
    // the "nan" or "inf" a division by zero would print.
    const double rms = n ? std::sqrt(sum / double(n)) : 0.0;
    const double crest = peak > 0 && rms > 0 ? 20.0 * std::log10(peak / rms) : 0.0;
    const long long clk = std::fabs(clock) < 9.2e18 ? (long long)clock : 0;
    const QDate d = now.date();
    const QTime t = now.time();
    return QString::asprintf("{TYPE:TQX-WV,0}{COPYRIGHT:%d Halvard TQX} {DATE:%d-%d-%d;%d:%d:%d}"
                             "{LEVEL OFFS:%0.3lf,%0.3lf}{SAMPLES:%llu} {CLOCK:%lld}{WAVEFORM-%llu:#",
                             d.year(), d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(),
                             crest, peak, (unsigned long long)n, clk,
                             (unsigned long long)(4 * n + 1))
        .toLocal8Bit();
}

int32_t OpenR_HvWv(IQDatStr* rec, io::Reader* in, bool findRange, bool findPower)
{
    const QString& file = rec->FileI;
    if (int32_t st = OpenIn(*in, file))
        return st;
    QByteArray raw;
    if (int32_t st = readHeader(*in, file, &raw))
        return st;
    const QString h = QString::fromUtf8(raw);
    const std::optional<QString> samples = tagValue(h, QStringLiteral("SAMPLES:"));
    const std::optional<QString> clock = tagValue(h, QStringLiteral("CLOCK:"));
    bool nOk = true, cOk = true;
    // Without a SAMPLES tag the samples run to the closing brace; without a
    // CLOCK tag the clock given for the load stays.
    const uint64_t present = uint64_t(in->left()) / 4;
    const uint64_t n = samples ? samples->toULongLong(&nOk) : present;
    const double c = clock ? clock->toDouble(&cOk) : rec->Clock;
    if (nOk)
        rec->N = n;
    if (cOk)
        rec->Clock = c;
    if (h.contains(QStringLiteral("WWAVEFORM")))
        return FailWith(ST_REFUSED, why::cannotRead(file, QStringLiteral("it holds a scrambled waveform")));
    if (!nOk)
        return FailWith(ST_FILE1, why::cannotRead(file, QStringLiteral("its sample count \"%1\" is not a number").arg(*samples)));
    if (!cOk)
        return FailWith(ST_FILE1, why::cannotRead(file, QStringLiteral("its clock \"%1\" is not a number").arg(*clock)));
    if (n > present)
        return FailWith(ST_FILE1, why::truncated(file, QStringLiteral("it announces %1 samples but holds %2").arg(n).arg(present)));
    return ScanBlocks(rec, in, readWv, 0, findRange, findPower, false);
}

int32_t ReadShUnion(IQDatStr* rec, io::Reader* in, uint64_t n)
{
    return codec::ReadPairs<codec::Linear16>(rec, in, n);
}

int32_t OpenW_HvWv(IQDatStr rec, BlockOut* out, double* scale, bool findPower)
{
    if (findPower) {
        double sum = 0, peakSq = 0;
        for (uint64_t i = 0; i < rec.N; ++i) {
            const float p = rec.I[i] * rec.I[i] + rec.Q[i] * rec.Q[i];
            sum += p;
            peakSq = std::max(peakSq, double(p));
        }
        rec.SumSq = sum;
        rec.Peak = std::sqrt(peakSq);
    }
    // All-zero data has no peak to scale to: it is written as zeros.
    *scale = rec.Peak > 0 ? 32767.0 / rec.Peak : 0.0;
    if (int32_t st = OpenOut(out->data()))
        return st;
    out->data().write(WvHeader(rec.Peak, rec.SumSq, rec.N, rec.Clock, QDateTime::currentDateTime()));
    return ST_OK;
}

void Writ_HvWv(IQDatStr rec, BlockOut* out, uint64_t n, double scale)
{
    codec::WritePairs<codec::Rounded16>(rec, out->data(), n, scale);
}

void Tail_HvWv(BlockOut* out)
{
    out->data().write("}", 1);
}

int32_t LoadHvWv(IQDatStr* rec)
{
    io::Reader in;
    int32_t st = OpenR_HvWv(rec, &in, false, false);
    if (st != ST_OK)
        return LoadDone(rec, st);
    return ReadAllBlocks(rec, &in, readWv, 0);
}

int32_t SaveHvWv(IQDatStr rec, const QString& file)
{
    return SaveAllBlocks(rec, file, OpenW_HvWv, Writ_HvWv, Tail_HvWv);
}
