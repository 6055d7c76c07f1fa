// The simple binary types: exact bytes of the writers, files of other tools
// built byte by byte here, and every reader against truncated, corrupted and
// lying files: a status, never a crash, a hang or an allocation the file
// cannot back. Run under the sanitizers by the test command.
#include "formats/binary.h"
#include "formats/catalogue.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <random>

using namespace testutil;

namespace {

QByteArray f32(float v) { return le(io::bits32(v)); }

// SPW/ADS binary: header lines, then the points.
QByteArray spw(const QByteArray& count, const QByteArray& marker, const QByteArray& data)
{
    return "     Sampling Frequency = 1e6\n     Number of points   = " + count + "\n" + marker + data;
}

// ADS time domain: the count is the fourth piece of the second line; each
// point a time stamp and a value.
QByteArray tim(const QByteArray& count, const QList<double>& values)
{
    QByteArray b = "header one\nBEGIN TIMEDATA points " + count + "\nline three\nline four\n";
    for (int i = 0; i < values.size(); ++i)
        b += f64(i * 1e-6) + f64(values[i]);
    return b;
}

// AWG 2000: big-endian count and scale, unsigned big-endian 16-bit points.
QByteArray awg(uint32_t count, double scale, const QList<uint16_t>& raw)
{
    QByteArray h = (be(le(count)) + be(f64(scale)) + be(f64(1.0)) + be(f64(2.0))).leftJustified(102, '\0');
    for (uint16_t r : raw)
        h += be(le(r, 2));
    return h;
}

// TDS: byte count, bytes per point and first point; scale and offset;
// signed little-endian points from the first point (or right after the
// header when that lies far away).
QByteArray tds(int32_t bytes, int8_t per, int32_t first, double scale, double offset, const QList<int16_t>& raw)
{
    QByteArray h(824, 0);
    h.replace(2, 8, ":WFM#001");
    h.replace(12, 4, le(uint32_t(bytes)));
    h[16] = char(per);
    h.replace(20, 4, le(uint32_t(first)));
    h.replace(176, 16, f64(scale) + f64(offset));
    if (first > 824 && first < 100000)
        h.append(QByteArray(first - 824, 0));
    for (int16_t r : raw)
        h += le(uint16_t(r), 2);
    return h;
}

// Handheld receiver recording: clock at 32, count at 64, 16-bit pairs.
QByteArray yew(uint64_t count, const QByteArray& data) { return (QByteArray(32, 0) + le(2000000)).leftJustified(64, 0) + le(count, 8) + le(0, 12) + data; }

struct Case {
    const char* name;
    int typ;           // load-list row
    QByteArray i, q;   // q null: one-file type
};

// Well-formed files, each the seed of the truncation and corruption sweeps.
QList<Case> seeds()
{
    const QList<int16_t> four{1, 2, 3, 4};
    return {
        {"iqw", 18, QByteArray(64, '\x01'), {}},
        {"iqw block", 19, QByteArray(64, '\x01'), {}},
        {"ibn", 23, QByteArray(48, '\x01'), {}},
        {"spw", 12, spw("4", "$DATA BINARY\n", QByteArray(64, '\x11')), {}},
        {"ads single", 27, spw("4", "$DATA\n", QByteArray(32, '\x11')), "$DATA\n" + QByteArray(32, '\x05')},
        {"ads time", 26, tim("4", {1, 2, 3, 4}), tim("4", {1, 2, 3, 4})},
        {"awg", 29, awg(4, 1, {1, 2, 3, 4}), awg(4, 1, {1, 2, 3, 4})},
        {"tds", 30, tds(8 - 7 + 824, 2, 824, 1, 0, four), tds(8 - 7 + 824, 2, 824, 1, 0, four)},
    };
}

} // namespace

class TstBinary : public FileTest {
    Q_OBJECT

    int32_t loadBytes(IQDatStr* r, int typ, const QByteArray& i, const QByteArray& q)
    {
        writeFile(path("i"), i);
        writeFile(path("q"), q);
        return load(r, typ, path("i"), q.isNull() ? QString() : path("q"));
    }

    // The record after any load: either a failure with no arrays, or
    // success with arrays the announced count really fits in.
    static bool sound(const IQDatStr& r, int32_t st, qint64 fileBytes)
    {
        return st == ST_OK ? (r.N == 0 || (r.I && r.Q)) && r.N <= uint64_t(fileBytes) : st < 0 && !r.I && !r.Q && r.N == 0;
    }

private slots:
    void writerBytes()
    {
        Rec r({1, -2}, {0.5f, 3}, 1234567.891);
        const QByteArray spwHeader =
            "$SIGNAL_FILE 9\n$USER_COMMENT\n\n$COMMON_INFO\n"
            "     SPW Version        = 4.70\nSystem Type        = solaris2\n"
            "     Sampling Frequency = 1234567.9\nStarting Time    = 0.0\n$DATA_INFO\n"
            "     Number of points   = 2\nSignal Type          = Double\n"
            "     Complex Format     = Real_Imag\n$DATA BINARY\n";
        const struct { int code; QByteArray bytes; } rows[] = {
            {18, f32(1) + f32(0.5f) + f32(-2) + f32(3)},
            {19, f32(1) + f32(-2) + f32(0.5f) + f32(3)},
            {23, le(40) + le(2) + QByteArray("H&V\0\0\0\0\0", 8) + f64(1234567.891) + le(1) + le(2) + f64(1234567.891)
                     + f32(1) + f32(-2) + f32(0.5f) + f32(3)},
            {12, spwHeader + f64(1) + f64(0.5) + f64(-2) + f64(3)},
        };
        for (const auto& row : rows) {
            QCOMPARE(fmtTab[row.code].save(r.r, row.code, path("w"), QString()), ST_OK);
            QCOMPARE(readFile(path("w")), row.bytes);
        }
    }

    // Files of other tools and odd files, read through the load dispatcher.
    void reads()
    {
        const QByteArray spwData = f64(1) + f64(2) + f64(3) + f64(4), ads = spw("3", "$DATA\n", f64(1) + f64(2) + f64(3));
        QList<double> up, down;
        for (int k = 0; k < 10; ++k) {
            up << k;
            down << -k;
        }
        const struct {
            const char* name;
            int typ;
            QByteArray i, q;
            int32_t st;
            Vf wi, wq;
            double clock;   // 77: the type keeps none
        } rows[] = {
            {"iqw, odd size", 18, f32(1.5f) + f32(-2.5f) + QByteArray(7, 1), {}, ST_OK, {1.5f}, {-2.5f}, 77},
            {"iqw, under a pair", 18, QByteArray(7, 1), {}, ST_OK, {}, {}, 77},
            {"ibn is refused", 23, QByteArray(48, 1), {}, ST_REFUSED, {}, {}, 77},
            // Only "key = value" splits count; other lines and keys are ignored.
            {"spw header", 12, "$SIGNAL_FILE 9\n     Sampling Frequency = 2.5e6\nSignal Type = Double\nno separator here\n"
                               "     Number of points   = 2\n$DATA BINARY\n" + spwData, {}, ST_OK, {1, 3}, {2, 4}, 2.5e6},
            {"spw without count", 12, "     Sampling Frequency = 1e3\n$DATA BINARY\n" + spwData, {}, ST_OK, {}, {}, 1e3},
            {"spw without marker", 12, "     Number of points   = 1\n$DATA\n" + spwData, {}, ST_FILE1, {}, {}, 77},
            // A line longer than the 99-byte line buffer is read in pieces.
            {"spw long line", 12, QByteArray(150, 'x') + "\n     Number of points   = 1\n$DATA BINARY\n" + spwData, {},
             ST_OK, {1}, {2}, 77},
            {"ads single", 27, ads, "$DATA\n" + f64(-1) + f64(-2) + f64(-3), ST_OK, {1, 2, 3}, {-1, -2, -3}, 1e6},
            {"ads single, Q short", 27, ads, "$DATA\n" + f64(-1), ST_FILE2, {}, {}, 77},
            {"ads time, smaller count", 26, tim("10", up), tim("8", down.mid(0, 8)), ST_OK, {0, 1, 2, 3, 4, 5, 6, 7},
             {0, -1, -2, -3, -4, -5, -6, -7}, 77},
            {"awg", 29, awg(3, 2.0, {0, 2048, 4096}), awg(3, 1.0, {4096, 0, 1}), ST_OK, {-0.5f, 0.5f, 1.5f},
             {0.5f, -0.5f, float(1.0 / 4096 - 0.5)}, 77},
            {"awg, lengths differ", 29, awg(3, 2.0, {0, 2048, 4096}), awg(4, 1.0, {1, 2, 3, 4}), ST_LENGTH, {}, {}, 77},
            // Count = (A + 7 - C) / B: (1000 + 7 - 1003) / 2 = 2.
            {"tds", 30, tds(1000, 2, 1003, 0.5, 1.0, {4, -4}), tds(1000, 2, 1003, 2.0, 0.0, {1, 3}), ST_OK, {3, -1}, {2, 6}, 77},
            {"tds, no bytes per point in I", 30, tds(1000, 0, 1003, 1, 0, {1, 2}), tds(1000, 2, 1003, 1, 0, {1, 3}), ST_FILE1,
             {}, {}, 77},
            {"tds, no bytes per point in Q", 30, tds(1000, 2, 1003, 1, 0, {1, 2}), tds(1000, 0, 1003, 1, 0, {1, 3}), ST_FILE2,
             {}, {}, 77},
            {"tds, lengths differ", 30, tds(1000, 2, 1003, 1, 0, {1, 2}), tds(1002, 2, 1003, 1, 0, {1, 2, 3}), ST_LENGTH,
             {}, {}, 77},
        };
        for (const auto& row : rows) {
            Rec r;
            r->Clock = 77;
            QCOMPARE(loadBytes(&r.r, row.typ, row.i, row.q), row.st);
            QVERIFY2(holds(r.r, row.wi, row.wq) && (row.st != ST_OK || r->Clock == row.clock), row.name);
            QVERIFY(row.st == ST_OK || !r->I);
        }
        Rec r;
        writeFile(path("i"), ads);
        QCOMPARE(load(&r.r, 27, path("i"), path("nope")), ST_FILE2);
    }

    void handheldRecording()
    {
        writeFile(path("rec.dat"), yew(3, pairs({1000, 0, -32768}, {-1, 32767, 5})));
        Rec r;
        r->FileI = path("rec.dat");
        QCOMPARE(LoadYew(&r.r, 1), ST_OK);
        QVERIFY(holds(r.r, {1000, 0, -32768}, {-1, 32767, 5}) && r->Clock == 2e6);
        // The acquisition sets the count itself; a count beyond the file is
        // refused before anything is allocated.
        r->N = 2;
        QCOMPARE(LoadYew(&r.r, 0), ST_OK);
        QCOMPARE(r->N, uint64_t(2));
        r->N = 1ull << 40;
        QCOMPARE(LoadYew(&r.r, 0), ST_FILE1);
        // Format code 33 reaches the same reader through the dispatcher's table.
        QCOMPARE(FmtOf(33)->load(&r.r), ST_OK);
        QCOMPARE(r->N, uint64_t(3));
        writeFile(path("rec.dat"), yew(uint64_t(1) << 62, pairs({1, 2, 3}, {1, 2, 3})));
        QCOMPARE(LoadYew(&r.r, 1), ST_FILE1);
        QVERIFY(!r->I);
    }

    // Every proper prefix of a well-formed file and random corruptions of it
    // give a status, never a crash, a hang or an allocation the file cannot
    // back; the whole file loads.
    void truncationAndCorruption()
    {
        std::mt19937 gen(2024);
        for (const Case& c : seeds()) {
            Rec whole;
            QVERIFY2(loadBytes(&whole.r, c.typ, c.i, c.q) == (c.typ == 23 ? ST_REFUSED : ST_OK) && (c.typ == 23 || whole->N > 0), c.name);
            for (int len = 0; len < c.i.size() + (c.q.isNull() ? 0 : c.q.size()); ++len) {
                Rec r;
                const bool inI = len < c.i.size();
                const int32_t st = loadBytes(&r.r, c.typ, inI ? c.i.left(len) : c.i, inI ? c.q : c.q.left(len - c.i.size()));
                QVERIFY2(sound(r.r, st, inI ? len : c.i.size()), c.name);
            }
            for (int round = 0; round < 300; ++round) {
                QByteArray i = c.i, q = c.q;
                QByteArray& t = (q.isNull() || round % 2) ? i : q;
                for (int k = 0; k < 1 + round % 4; ++k)
                    t[int(gen() % uint32_t(t.size()))] = char(gen());
                Rec r;
                QVERIFY2(sound(r.r, loadBytes(&r.r, c.typ, i, q), std::max(i.size(), q.size())), c.name);
            }
        }
    }

    // Counts far beyond the file are refused before any allocation: the
    // status is the file's (-1/-2) with a reason, never "memory too low".
    void lyingCounts()
    {
        const QByteArray q4 = tds(8 - 7 + 824, 2, 824, 1, 0, {1, 2, 3, 4});
        const QList<Case> liars = {
            {"spw 1e11 points in 1 kB", 12, spw("100000000000", "$DATA BINARY\n", QByteArray(960, 1)), {}},
            {"spw count 2^64-1", 12, spw("18446744073709551615", "$DATA BINARY\n", QByteArray(16, 1)), {}},
            {"spw negative count", 12, spw("-5", "$DATA BINARY\n", QByteArray(16, 1)), {}},
            {"ads single huge", 27, spw("99999999999", "$DATA\n", QByteArray(16, 1)), "$DATA\n" + QByteArray(16, 0)},
            {"ads time huge", 26, tim("2000000000", {1, 2}), tim("2000000000", {1, 2})},
            {"awg count beyond file", 29, awg(0x7fffffff, 1, {1, 2, 3, 4}), awg(4, 1, {1, 2, 3, 4})},
            {"awg negative count", 29, awg(0x80000000u, 1, {1, 2, 3, 4}), awg(4, 1, {1, 2, 3, 4})},
            {"tds huge byte count", 30, tds(0x7fffffff, 2, 824, 1, 0, {1, 2, 3, 4}), q4},
            {"tds first point past end", 30, tds(100, 2, 0x7ffffff0, 1, 0, {1, 2, 3, 4}), q4},
            {"tds negative per point", 30, tds(1000, -2, 824, 1, 0, {1, 2, 3, 4}), q4},
            {"tds Q lies", 30, q4, tds(0x7fffffff, 2, 824, 1, 0, {1, 2, 3, 4})},
        };
        for (const Case& c : liars) {
            Rec r;
            const int32_t st = loadBytes(&r.r, c.typ, c.i, c.q);
            QVERIFY2((st == ST_FILE1 || st == ST_FILE2) && !LastDetail().isEmpty() && sound(r.r, st, 0), c.name);
        }
    }
};

QTEST_GUILESS_MAIN(TstBinary)
#include "tst_binary.moc"
