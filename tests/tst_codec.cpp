// The 16-bit sample-pair codec behind the WAV, WV and raw recorder block
// functions and the float32 pair interleave of IQW files and the symbols
// reply, checked against the one-sample-at-a-time forms they replaced; the
// sample arrays' allocation; the commit of two files as one.
#include "formats/binary.h"
#include "formats/vantor.h"
#include "formats/wav.h"
#include "formats/wv.h"
#include "remote/symbolserver.h"
#include "testutil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <cfloat>
#include <cmath>
#include <limits>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using namespace testutil;

namespace {

int32_t trunc32(double v) { return v > -2147483649.0 && v < 2147483648.0 ? int32_t(v) : INT32_MIN; }
uint16_t encWav(float x, double s) { return uint16_t(trunc32(double(x) * s)); }
uint16_t encWv(float x, double s) { return uint16_t(trunc32(double(x) * s + 0.5)); }
uint16_t encRaw(float x, double s)
{
    double v = double(x) / s * 32767.0 + 0.5;
    if (x < 0 || std::isnan(x))
        v -= 65536.0;
    return uint16_t(trunc32(v));
}
float decInt(uint16_t u) { return float(int16_t(u)); }
float decRaw(uint16_t u) { return float(u < 32768 ? u / 32767.0 : (u - 65534.5) / 32767.0); }

using ReadPairsFn = int32_t (*)(IQDatStr*, io::Reader*, uint64_t);
struct Codec {
    const char* name;
    WritFn writ;
    ReadPairsFn read;
    uint16_t (*enc)(float, double);
    float (*dec)(uint16_t);
};

const Codec kCodecs[] = {
    {"WAV", Writ_WavStereo, [](IQDatStr* r, io::Reader* in, uint64_t n) { return Read_WavStereo(r, in, n, 0x0202); },
     encWav, decInt},
    {"WV", Writ_HvWv, [](IQDatStr* r, io::Reader* in, uint64_t n) { return ReadShUnion(r, in, n); }, encWv, decInt},
    {"raw", Writ_VantorRaw, Read_VantorRaw, encRaw, decRaw},
};

const float kInf = std::numeric_limits<float>::infinity();
const std::vector<float> kEdges = {0.0f, -0.0f, 0.49999997f, 0.5f, -0.5f, 1, -1, 32767, 32767.5f, 32768,
                                   -32768, -32769, 65535.5f, -65536.5f, 2147483520.0f, 2147483648.0f,
                                   -2147483648.0f, -2147483904.0f, 3e9f, -3e9f, FLT_MAX, -FLT_MAX, kInf,
                                   -kInf, std::nanf(""), 1e-45f, -1e-45f, 1.17549435e-38f};

QByteArray le16s(const std::vector<uint16_t>& v)
{
    QByteArray b;
    for (uint16_t u : v)
        b.append(char(u & 0xff)).append(char(u >> 8));
    return b;
}

int firstDiff(const QByteArray& a, const QByteArray& b)
{
    for (int k = 0; k < std::min(a.size(), b.size()); ++k)
        if (a[k] != b[k])
            return k;
    return a.size() == b.size() ? -1 : std::min(a.size(), b.size());
}

} // namespace

class TstCodec : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void encodeMatchesScalarForm()
    {
        const uint64_t big = kChunkSamples + 1;
        for (const Codec& c : kCodecs)
            for (uint64_t n : {uint64_t(1), uint64_t(7), uint64_t(8), uint64_t(9), uint64_t(33), big})
                for (double scale : {1.0, 0.5, 21844.5, 1e-3, 3.0}) {
                    if (n == big && scale != 1.0)
                        continue;
                    Rec r;
                    MakeIQArr(&r.r, n);
                    r.r.N = n;
                    std::vector<uint16_t> want;
                    for (uint64_t j = 0; j < n; ++j) {
                        r.r.I[j] = kEdges[j % kEdges.size()];
                        r.r.Q[j] = kEdges[(j * 7 + 3) % kEdges.size()];
                        want.push_back(c.enc(r.r.I[j], scale));
                        want.push_back(c.enc(r.r.Q[j], scale));
                    }
                    BlockOut out(path("enc.bin"));
                    QVERIFY(out.data().open());
                    c.writ(r.r, &out, n, scale);
                    QVERIFY(out.commit());
                    const int at = firstDiff(readFile(path("enc.bin")), le16s(want));
                    QVERIFY2(at < 0, qPrintable(QStringLiteral("%1 n=%2 scale=%3: byte %4")
                                                    .arg(c.name).arg(n).arg(scale).arg(at)));
                }
    }

    void decodeMatchesScalarForm()
    {
        // Every code in both channels, repeated past one read chunk (the
        // pairs are decoded where they were read, a chunk at a time), and a
        // read past the end.
        const uint64_t most = kChunkSamples + 1;
        std::vector<uint16_t> codes;
        for (uint64_t j = 0; j < most; ++j)
            codes.insert(codes.end(), {uint16_t(j), uint16_t(65535 - j % 65536)});
        QVERIFY(writeFile(path("codes.bin"), le16s(codes)));
        for (const Codec& c : kCodecs)
            for (uint64_t n : {uint64_t(0), uint64_t(1), uint64_t(7), uint64_t(9), uint64_t(65536),
                               kChunkSamples - 1, kChunkSamples, most}) {
                io::Reader in;
                QVERIFY(in.open(path("codes.bin")));
                Rec r;
                MakeIQArr(&r.r, n + 1);
                r.r.I[n] = r.r.Q[n] = 7;
                r.r.FileI = path("codes.bin");
                QCOMPARE(c.read(&r.r, &in, n), ST_OK);
                uint64_t j = 0;
                for (; j < n; ++j) {
                    const float wi = c.dec(codes[2 * j]), wq = c.dec(codes[2 * j + 1]);
                    if (std::memcmp(&r.r.I[j], &wi, 4) != 0 || std::memcmp(&r.r.Q[j], &wq, 4) != 0)
                        break;
                }
                QVERIFY2(j == n && r.r.I[n] == 7 && r.r.Q[n] == 7,
                         qPrintable(QStringLiteral("%1 n=%2 pair %3").arg(c.name).arg(n).arg(j)));
                // 65535 pairs left: one more is a truncated file.
                QVERIFY(in.seek(4 * int64_t(most - 65535)));
                QCOMPARE(c.read(&r.r, &in, std::min<uint64_t>(n, 65536)), n >= 65536 ? ST_FILE1 : ST_OK);
            }
    }

    // The float32 pairs of IQW files and of the symbols reply, byte for byte
    // as the scalar little-endian writer lays them out: any bit pattern
    // (negative zero, NaN payloads, subnormals) passes unchanged, and a reply
    // cut anywhere continues seamlessly.
    void floatPairsMatchScalarForm()
    {
        const std::vector<uint32_t> bits = {0, 0x80000000u, 0x7fc00001u, 0xffa00000u, 0x7f800000u, 0x00000001u,
                                            0x3f800000u, 0xc2f6e979u, 0x7f7fffffu, 0x807fffffu, 0x12345678u};
        for (uint64_t n : {uint64_t(0), uint64_t(1), uint64_t(3), uint64_t(11), uint64_t(249999),
                           uint64_t(250001)}) {
            Rec r;
            QCOMPARE(MakeIQArr(&r.r, n), ST_OK);
            r.r.N = n;
            QByteArray want(int(8 * n), '\0');
            auto* w = reinterpret_cast<uint8_t*>(want.data());
            for (uint64_t j = 0; j < n; ++j) {
                const uint32_t bi = bits[j % bits.size()] ^ uint32_t(j >> 4), bq = bits[(j * 5 + 2) % bits.size()];
                r.r.I[j] = io::f32(bi);
                r.r.Q[j] = io::f32(bq);
                io::put32(w + 8 * j, bi);
                io::put32(w + 8 * j + 4, bq);
            }
            QCOMPARE(SaveIQW(r.r, path("p.iqw")), ST_OK);
            QCOMPARE(firstDiff(readFile(path("p.iqw")), want), -1);
            Rec back;
            back.r.FileI = path("p.iqw");
            QCOMPARE(LoadIQW(&back.r), ST_OK);
            QCOMPARE(back.r.N, n);
            QVERIFY(n == 0 || (std::memcmp(back.r.I, r.r.I, 4 * n) == 0 && std::memcmp(back.r.Q, r.r.Q, 4 * n) == 0));

            // The reply: its type, then the pairs, in pieces of 1 to 9 bytes
            // (so that pieces start at every place within a pair) and whole.
            if (n > 11)
                continue;
            const QByteArray reply = QByteArray("\x02\0\0\0", 4) + want;
            SymbolData::Ptr d = SymbolData::copyOf(r.r.I, r.r.Q, n);
            for (size_t piece : {1, 2, 3, 4, 5, 6, 7, 8, 9, reply.size()}) {
                QByteArray got(reply.size(), '\x55');
                for (size_t at = 0; at < size_t(reply.size()); at += piece)
                    d->fill(at, reinterpret_cast<uint8_t*>(got.data()) + at, std::min(piece, reply.size() - at));
                QVERIFY2(firstDiff(got, reply) < 0, qPrintable(QStringLiteral("n=%1 pieces of %2").arg(n).arg(piece)));
            }
        }
    }

    // Samples adopted as the reply itself read as the same reply, across
    // the steps it is made in; the record is left empty, and arrays that
    // someone else still shares are left as they were.
    void adoptedReply()
    {
        for (uint64_t n : {uint64_t(1), uint64_t(1048575), uint64_t(1048576), uint64_t(1048577)})
        for (bool shared : {false, true}) {
            Rec r;
            QCOMPARE(MakeIQArr(&r.r, n), ST_OK);
            r.r.N = n;
            for (uint64_t k = 0; k < n; ++k)
                r.r.I[k] = float(k) + 0.5f, r.r.Q[k] = -float(k % 4093);
            const SymbolData::Ptr copy = SymbolData::copyOf(r.r.I, r.r.Q, n);
            const SymbolData::Ptr other = shared ? SymbolData::share(r.r) : nullptr;
            const SymbolData::Ptr d = SymbolData::adopt(&r.r);
            QVERIFY(d->reply() && !r.r.I && !r.r.Q && d->n() == n);
            QByteArray want(int(copy->replyBytes()), '\0'), got(want.size(), '\x55');
            copy->fill(0, reinterpret_cast<uint8_t*>(want.data()), size_t(want.size()));
            d->fill(0, reinterpret_cast<uint8_t*>(got.data()), size_t(got.size()));
            QCOMPARE(firstDiff(got, want), -1);
            QCOMPARE(firstDiff(QByteArray(reinterpret_cast<const char*>(d->reply()), want.size()), want), -1);
            if (other) {
                other->fill(0, reinterpret_cast<uint8_t*>(got.data()), size_t(got.size()));
                QCOMPARE(firstDiff(got, want), -1);
            }
        }
    }

    // The arrays start at zero whether they come from the heap or straight
    // from the kernel, do not overlap, go back when freed, and a count that
    // cannot be had leaves the record without arrays.
    void arraysAllocateAndFree()
    {
        for (uint64_t n : {uint64_t(0), uint64_t(1), uint64_t(524287), uint64_t(524288), uint64_t(524289),
                           uint64_t(3) << 20}) {
            for (int pass = 0; pass < 2; ++pass) {
                Rec r;
                QCOMPARE(MakeIQArr(&r.r, n), ST_OK);
                QVERIFY(r.r.I && r.r.Q && r.r.Keep);
                QVERIFY(n == 0 || r.r.Q >= r.r.I + n);
                bool zero = true;
                for (uint64_t j = 0; j < n; ++j)
                    zero = zero && io::bits32(r.r.I[j]) == 0 && io::bits32(r.r.Q[j]) == 0;
                QVERIFY2(zero, qPrintable(QStringLiteral("n=%1 pass %2").arg(n).arg(pass)));
                // Dirty memory for the second pass, which may be handed the same.
                std::memset(r.r.I, 0xff, 4 * n);
                std::memset(r.r.Q, 0xff, 4 * n);
            }
        }
        auto mapped = [] {
            QFile f(QStringLiteral("/proc/self/statm"));
            return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGESIZE) : 0;
        };
        Rec big;
        QCOMPARE(MakeIQArr(&big.r, uint64_t(32) << 20), ST_OK);
        const long long with = mapped();
        FreeArr(&big.r);
        QVERIFY(!big.r.I && !big.r.Q && !big.r.Keep);
        QVERIFY2(with - mapped() >= (256ll << 20), "256 MB of arrays not given back");

        QCOMPARE(MakeIQArr(&big.r, MaxAllocSamples() + 1), ST_NOMEM);
        QVERIFY(!big.r.I && !big.r.Q && !big.r.Keep);
        // A count within the bound that the system refuses, in a child
        // process whose address space is capped.
        const pid_t pid = fork();
        if (pid == 0) {
            const rlimit cap{rlim_t(mapped() + (64 << 20)), rlim_t(mapped() + (64 << 20))};
            IQDatStr r;
            const bool ok = setrlimit(RLIMIT_AS, &cap) == 0 && MakeIQArr(&r, uint64_t(1) << 26) == ST_NOMEM
                && !r.I && !r.Q && !r.Keep;
            _exit(ok ? 0 : 1);
        }
        int status = -1;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    // Every failure point of a two-file commit leaves both old files (or
    // none) in place, and nothing beside them. A destination turned into a
    // folder after opening makes its rename fail.
    void pairCommitIsAllOrNothing()
    {
        struct {
            const char* name;
            bool iOld, qOld;
            int breaks;  // 0 none, 1 the I destination, 2 the Q destination
            int result;
        } rows[] = {
            {"both replace old files", true, true, 0, 0},
            {"both new", false, false, 0, 0},
            {"Q fails: old I put back", true, true, 2, 2},
            {"Q fails: new I taken away", false, false, 2, 2},
            {"I fails: Q untouched", true, true, 1, 1},
        };
        for (const auto& row : rows) {
            QTemporaryDir d;
            const QString fi = d.filePath("x.i"), fq = d.filePath("x.q");
            if (row.iOld)
                QVERIFY(writeFile(fi, "old I"));
            if (row.qOld)
                QVERIFY(writeFile(fq, "old Q"));
            io::Writer wi(fi), wq(fq);
            QVERIFY(wi.open() && wq.open());
            wi.write(QByteArray("new I"));
            wq.write(QByteArray("new Q"));
            const QString broken = row.breaks == 1 ? fi : fq;
            if (row.breaks) {
                QFile::remove(broken);
                QVERIFY(QDir().mkpath(broken + "/inside"));
            }
            QVERIFY2(io::CommitPair(wi, wq) == row.result, row.name);
            const bool done = row.result == 0;
            for (auto [f, side, old] : {std::tuple{fi, 1, row.iOld}, std::tuple{fq, 2, row.qOld}}) {
                if (row.breaks == side)
                    QVERIFY2(QFileInfo(f).isDir(), row.name);
                else if (done || old)
                    QVERIFY2(readFile(f) == (done ? "new " : "old ") + QByteArray(side == 1 ? "I" : "Q"), row.name);
                else
                    QVERIFY2(!QFile::exists(f), row.name);
            }
            QCOMPARE(QDir(d.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
                     int(done || row.iOld || row.breaks == 1) + int(done || row.qOld || row.breaks == 2));
        }
    }
};

QTEST_GUILESS_MAIN(TstCodec)
#include "tst_codec.moc"
