// Every binary reader against truncated, corrupted and lying files: a status,
// never a crash, a hang or an allocation the file cannot back. Run under the
// sanitizers by the test command.
#include "formats/binary.h"
#include "formats/catalogue.h"
#include "formats/fileio.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <QtTest>
#include <random>

using namespace testutil;

namespace {

QByteArray le32(uint32_t v) { QByteArray b(4, 0); io::put32(reinterpret_cast<uint8_t*>(b.data()), v); return b; }
QByteArray le64(uint64_t v) { QByteArray b(8, 0); io::put64(reinterpret_cast<uint8_t*>(b.data()), v); return b; }
QByteArray be32(uint32_t v) { QByteArray b = le32(v); std::reverse(b.begin(), b.end()); return b; }

struct Case {
    const char* name;
    int typ;                 // load-list row
    QByteArray i, q;         // q empty: one-file type
};

QByteArray spw(const QByteArray& count, const QByteArray& marker, int points, int width)
{
    return "     Sampling Frequency = 1e6\n     Number of points   = " + count + "\n" + marker
           + QByteArray(points * width, '\x11');
}

QByteArray tim(const QByteArray& count, int points)
{
    return "a\nb c d " + count + "\nc\nd\n" + QByteArray(points * 16, '\x22');
}

QByteArray awg(uint32_t count, int points)
{
    return be32(count) + QByteArray(98, '\0') + QByteArray(points * 2, '\x01');
}

QByteArray tds(uint32_t bytes, int8_t per, uint32_t first, int points)
{
    QByteArray h(824, 0);
    h.replace(12, 4, le32(bytes));
    h[16] = char(per);
    h.replace(20, 4, le32(first));
    return h + QByteArray(points * 2, '\x03');
}

QByteArray yew(uint64_t count, int points)
{
    QByteArray h(84, 0);
    h.replace(32, 4, le32(1000));
    h.replace(64, 8, le64(count));
    return h + QByteArray(points * 4, '\x04');
}

// Well-formed files, each the seed of the truncation and corruption sweeps.
QList<Case> validCases()
{
    return {
        {"iqw", 18, QByteArray(64, '\x01'), {}},
        {"iqw block", 19, QByteArray(64, '\x01'), {}},
        {"ibn", 23, QByteArray(48, '\x01'), {}},
        {"spw", 12, spw("4", "$DATA BINARY\n", 4, 16), {}},
        {"ads single", 27, spw("4", "$DATA\n", 4, 8), "$DATA\n" + QByteArray(32, '\x05')},
        {"ads time", 26, tim("4", 4), tim("4", 4)},
        {"awg", 29, awg(4, 4), awg(4, 4)},
        {"tds", 30, tds(1000 - 7 + 824 - 1000 + 8, 2, 824, 4), tds(8 - 7 + 824, 2, 824, 4)},
    };
}

} // namespace

class TstHostile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    int32_t loadBytes(IQDatStr* r, int typ, const QByteArray& i, const QByteArray& q)
    {
        writeFile(dir.filePath("i"), i);
        writeFile(dir.filePath("q"), q);
        return load(r, typ, dir.filePath("i"), q.isNull() ? QString() : dir.filePath("q"));
    }

    // The record after any load: either a failure with no arrays, or
    // success with arrays the announced count really fits in.
    static void checkRecord(const IQDatStr& r, int32_t st, qint64 fileBytes)
    {
        QVERIFY(st <= 0);
        if (st != ST_OK) {
            QVERIFY(r.I == nullptr && r.Q == nullptr);
            QCOMPARE(r.N, uint64_t(0));
        } else {
            QVERIFY(r.N == 0 || (r.I && r.Q));
            QVERIFY(r.N <= uint64_t(fileBytes));
        }
    }

private slots:
    void validSeedsLoad();
    void everyTruncation();
    void randomCorruption();
    void lyingCounts();
};

void TstHostile::validSeedsLoad()
{
    for (const Case& c : validCases()) {
        IQDatStr r;
        int32_t st = loadBytes(&r, c.typ, c.i, c.q);
        QVERIFY2(st == (c.typ == 23 ? ST_REFUSED : ST_OK), c.name);
        QVERIFY2(c.typ == 23 || r.N > 0, c.name);
        FreeArr(&r);
    }
}

void TstHostile::everyTruncation()
{
    for (const Case& c : validCases()) {
        for (int len = 0; len <= c.i.size(); ++len) {
            IQDatStr r;
            int32_t st = loadBytes(&r, c.typ, c.i.left(len), c.q);
            checkRecord(r, st, len);
            FreeArr(&r);
        }
        for (int len = 0; !c.q.isNull() && len < c.q.size(); ++len) {
            IQDatStr r;
            int32_t st = loadBytes(&r, c.typ, c.i, c.q.left(len));
            checkRecord(r, st, c.i.size());
            FreeArr(&r);
        }
    }
}

void TstHostile::randomCorruption()
{
    std::mt19937 gen(2024);
    for (const Case& c : validCases()) {
        for (int round = 0; round < 300; ++round) {
            QByteArray i = c.i, q = c.q;
            QByteArray& t = (q.isNull() || round % 2) ? i : q;
            for (int k = 0; k < 1 + round % 4; ++k)
                t[int(gen() % uint32_t(t.size()))] = char(gen());
            IQDatStr r;
            int32_t st = loadBytes(&r, c.typ, i, q);
            checkRecord(r, st, std::max(i.size(), q.size()));
            FreeArr(&r);
        }
    }
}

void TstHostile::lyingCounts()
{
    // Counts far beyond the file must be refused before any allocation: the
    // status is the file's (-1/-2) with a reason, never "memory too low".
    const QList<Case> liars = {
        {"spw 1e11 points in 1 kB", 12, spw("100000000000", "$DATA BINARY\n", 60, 16), {}},
        {"spw count 2^64-1", 12, spw("18446744073709551615", "$DATA BINARY\n", 1, 16), {}},
        {"spw negative count", 12, spw("-5", "$DATA BINARY\n", 1, 16), {}},
        {"ads single huge", 27, spw("99999999999", "$DATA\n", 2, 8), "$DATA\n" + QByteArray(16, 0)},
        {"ads time huge", 26, tim("2000000000", 2), tim("2000000000", 2)},
        {"awg count beyond file", 29, awg(0x7fffffff, 4), awg(4, 4)},
        {"awg negative count", 29, awg(0x80000000u, 4), awg(4, 4)},
        {"tds huge byte count", 30, tds(0x7fffffff, 2, 824, 4), tds(8 - 7 + 824, 2, 824, 4)},
        {"tds first point past end", 30, tds(100, 2, 0x7ffffff0, 4), tds(8 - 7 + 824, 2, 824, 4)},
        {"tds negative per point", 30, tds(1000, -2, 824, 4), tds(8 - 7 + 824, 2, 824, 4)},
        {"tds Q lies", 30, tds(8 - 7 + 824, 2, 824, 4), tds(0x7fffffff, 2, 824, 4)},
    };
    for (const Case& c : liars) {
        IQDatStr r;
        int32_t st = loadBytes(&r, c.typ, c.i, c.q);
        QVERIFY2(st == ST_FILE1 || st == ST_FILE2, c.name);
        QVERIFY2(!LastDetail().isEmpty(), c.name);
        checkRecord(r, st, 0);
    }
    // The handheld recording is reached directly as well as by code 33.
    writeFile(dir.filePath("y"), yew(uint64_t(1) << 62, 3));
    IQDatStr r;
    r.FileI = dir.filePath("y");
    QCOMPARE(LoadYew(&r, 1), ST_FILE1);
    QVERIFY(r.I == nullptr);
    writeFile(dir.filePath("y"), yew(3, 3));
    r.N = 1ull << 40; // a count set by the caller is checked the same way
    QCOMPARE(LoadYew(&r, 0), ST_FILE1);
}

QTEST_GUILESS_MAIN(TstHostile)
#include "tst_hostile.moc"
