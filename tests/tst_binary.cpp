// The binary types. The simple ones: exact bytes of the writers, files of
// other tools built byte by byte here, and every reader against truncated,
// corrupted and lying files: a status, never a crash, a hang or an
// allocation the file cannot back (run under the sanitizers by the test
// command). MAT-files: variables taken by position, other classes converted
// or refused, hostile files, safe replacement, and interoperability both
// ways with an independent implementation (scipy.io savemat/loadmat, format
// 5, no compression). Round trips and append: tst_core.
#include "formats/binary.h"
#include "formats/catalogue.h"
#include "formats/matfile.h"
#include "fuzz/harness.h"
#include "testutil.h"

#include <sys/stat.h>

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
QByteArray yew(uint64_t count, const QByteArray& data)
{
    return (QByteArray(32, 0) + le(2000000)).leftJustified(64, 0) + le(count, 8) + QByteArray(12, 0) + data;
}

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


const char* const kPython = "/usr/bin/python3";

// Awkward values on purpose: signed zero, subnormals, extremes, inf, NaN.
std::vector<float> samples(size_t n, unsigned seed)
{
    std::mt19937 g(seed);
    std::normal_distribution<float> d(0.0f, 1000.0f);
    const float special[] = {-0.0f, 1e-45f, -3.4028235e38f, std::numeric_limits<float>::infinity(),
                             std::nanf(""), 0.1f};
    std::vector<float> v(n);
    for (size_t k = 0; k < n; ++k)
        v[k] = k < 6 && n > 6 ? special[k] : d(g);
    return v;
}

QByteArray bytesOf(const float* v, uint64_t n) { return QByteArray(reinterpret_cast<const char*>(v), int(n * 4)); }

// For each pair of arguments (MAT-file, output): prints the variables
// (name, shape, class) in file order, one line per file, and writes their
// elements in storage order as float32 to the output.
const char* const kLoad =
    "import sys, numpy as np, scipy.io as sio\n"
    "for f, o in zip(sys.argv[1::2], sys.argv[2::2]):\n"
    "    print(sio.whosmat(f))\n"
    "    d = sio.loadmat(f)\n"
    "    open(o, 'wb').write(b''.join(np.asarray(d[k]).ravel(order='F').astype('<f4').tobytes()"
    " for k in d if not k.startswith('__')))\n";

// Files written by scipy: variables by position, other classes converted
// to float32 in storage (column) order, or refused. All are written by one
// Python run before the tests. A case with Q variables is a single-type
// pair, read from two files.
struct ScipyCase {
    const char* tag;
    const char* vars;
    const char* varsQ;
    bool compressed;
    int status;
    std::vector<float> i, q;
    const char* detail;
};

const QVector<ScipyCase>& scipyCases()
{
    using V = std::vector<float>;
    const int ok = ST_OK, f1 = ST_FILE1, f2 = ST_FILE2;
    static const QVector<ScipyCase> cases = {
        {"names re, im", "{'re': np.array([[1.5, -2.5, 3.25, 4]], 'f4'), 'im': np.array([[5, 6, 7, 8]], 'f4')}",
         nullptr, false, ok, V{1.5f, -2.5f, 3.25f, 4}, V{5, 6, 7, 8}, ""},
        {"10 and 7 elements", "{'a': np.arange(10, dtype='f4'), 'b': np.arange(7, dtype='f4') + 20}",
         nullptr, false, ok, V{0, 1, 2, 3, 4, 5, 6}, V{20, 21, 22, 23, 24, 25, 26}, ""},
        {"double 2-D", "{'a': np.array([[1.0, 2], [3, 4]]), 'b': np.array([[0.1, 0.2], [0.3, 0.4]])}",
         nullptr, false, ok, V{1, 3, 2, 4}, V{0.1f, 0.3f, 0.2f, 0.4f}, ""},
        {"int16, uint8", "{'a': np.array([[-32768, 32767, 5]], 'i2'), 'b': np.array([[0, 255, 7]], 'u1')}",
         nullptr, false, ok, V{-32768, 32767, 5}, V{0, 255, 7}, ""},
        {"int64, uint32", "{'a': np.array([[2**40, -3]], 'i8'), 'b': np.array([[4000000000, 1]], 'u4')}",
         nullptr, false, ok, V{1099511627776.0f, -3}, V{4e9f, 1}, ""},
        {"logical", "{'a': np.array([[True, False]]), 'b': np.array([[False, True]])}", nullptr, false, ok, V{1, 0}, V{0, 1}, ""},
        {"1 x 0", "{'a': np.zeros((1, 0), 'f4'), 'b': np.zeros((1, 0), 'f4')}", nullptr, false, ok, V{}, V{}, ""},
        {"compressed", "{'a': np.array([[1.0, 2]]), 'b': np.array([[3.0, 4]])}", nullptr, true, ok, V{1, 2}, V{3, 4}, ""},
        // Compressed arrays of arrays are walked through to their last tag.
        {"compressed cell", "{'a': np.array([[1, 2]], 'i2'), 'b': np.array([[1, 'x', {'y': 2.0}]], dtype=object)}",
         nullptr, true, f2, V{}, V{}, "cell"},
        {"compressed struct", "{'a': {'x': np.arange(3.0), 'yy': 'text'}, 'b': np.array([[1.0]])}", nullptr, true, f1, V{},
         V{}, "struct"},
        {"compressed complex", "{'a': np.array([[1.0]]), 'b': np.array([[1j, 2]])}", nullptr, true, f2, V{}, V{}, "complex"},
        {"complex I", "{'a': np.array([[1 + 2j]]), 'b': np.array([[1.0]])}", nullptr, false, f1, V{}, V{}, "complex"},
        {"complex Q", "{'a': np.array([[1.0]]), 'b': np.array([[1j]])}", nullptr, false, f2, V{}, V{}, "complex"},
        {"char", "{'a': 'hello', 'b': np.array([[1.0]])}", nullptr, false, f1, V{}, V{}, "char"},
        {"cell", "{'a': np.array([[1.0]]), 'b': np.array([[1, 'x']], dtype=object)}", nullptr, false, f2, V{}, V{}, "cell"},
        {"struct", "{'a': {'x': 1.0}, 'b': np.array([[1.0]])}", nullptr, false, f1, V{}, V{}, "struct"},
        {"sparse", "{'a': sp.csc_matrix(np.eye(3)), 'b': np.array([[1.0]])}", nullptr, false, f1, V{}, V{}, "sparse"},
        {"one variable", "{'a': np.array([[1.0, 2]])}", nullptr, false, f2, V{}, V{}, "second"},
        // The shorter variable decides the count.
        {"single, 10 and 7", "{'x': np.arange(10, dtype='f4')}",
         "{'y': -np.arange(7, dtype='f4')}", false, ok, V{0, 1, 2, 3, 4, 5, 6}, V{-0.0f, -1, -2, -3, -4, -5, -6}, ""},
    };
    return cases;
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

    QString pyError;

    QString caseFile(int k, const char* side = "") { return path(QStringLiteral("scipy%1%2.mat").arg(k).arg(side)); }

    bool python(const char* script, const QStringList& args, QByteArray* out = nullptr)
    {
        QProcess p;
        p.start(kPython, QStringList{QStringLiteral("-c"), QString::fromLatin1(script)} + args);
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            pyError = QStringLiteral("%1 failed: %2 %3").arg(kPython, p.errorString(), QString(p.readAllStandardError()));
            return false;
        }
        if (out)
            *out = p.readAllStandardOutput().trimmed();
        return true;
    }

    // Reads with the type's reader straight, without the dispatcher's
    // clean-up, so a reader that leaks arrays on failure shows.
    static int32_t read(Rec& in, int code, const QString& fi, const QString& fq = QString())
    {
        in.r.FileI = fi;
        in.r.FileQ = fq;
        return code == 2 ? LoadMLabBinSgl(&in.r) : LoadMLabBinMix(&in.r);
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
        // The handheld recording takes its count from the file, or the one
        // the acquisition set; either is checked against the file the same
        // way. Format code 33 reaches the same reader through the table.
        writeFile(path("rec.dat"), yew(3, pairs({1000, 0, -32768}, {-1, 32767, 5})));
        Rec r;
        r->FileI = path("rec.dat");
        QVERIFY(LoadYew(&r.r, 1) == ST_OK && holds(r.r, {1000, 0, -32768}, {-1, 32767, 5}) && r->Clock == 2e6);
        r->N = 2;
        QVERIFY(LoadYew(&r.r, 0) == ST_OK && r->N == 2);
        r->N = 1ull << 40;
        QVERIFY(LoadYew(&r.r, 0) == ST_FILE1 && FmtOf(33)->load(&r.r) == ST_OK && r->N == 3);
        writeFile(path("rec.dat"), yew(uint64_t(1) << 62, pairs({1, 2, 3}, {1, 2, 3})));
        QVERIFY(LoadYew(&r.r, 1) == ST_FILE1 && !r->I);
    }

    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(python("import numpy, scipy.io", {}),
                 "Debian's python3-scipy is required for the MAT-file interop tests (test.sh installs it).");
        QByteArray script = "import numpy as np, scipy.io as sio, scipy.sparse as sp\n";
        for (int k = 0; k < scipyCases().size(); ++k) {
            const ScipyCase& c = scipyCases()[k];
            const QByteArray opts = QByteArray(", format='5', do_compression=") + (c.compressed ? "True" : "False")
                                    + ", oned_as='row')\n";
            script += "sio.savemat(r'" + QFile::encodeName(caseFile(k)) + "', " + c.vars + opts;
            if (c.varsQ)
                script += "sio.savemat(r'" + QFile::encodeName(caseFile(k, "q")) + "', " + c.varsQ + opts;
        }
        QVERIFY2(python(script.constData(), {}), qPrintable(pyError));
    }

    // Both types bit for bit through our reader, and the independent reader
    // sees I (then Q), 1 x N, real single with the same bits; one Python
    // run checks every file.
    void roundTripBothWays()
    {
        QStringList args, whos;
        QByteArray want;
        for (int n : {0, 1, 4, 7, 1000}) {
            const std::vector<float> i = samples(size_t(n), uint32_t(n)), q = samples(size_t(n), uint32_t(n) + 1);
            Rec rec(i, q);
            const QString f = path(QStringLiteral("mix%1.mat").arg(n)), fi = f + ".i", fq = f + ".q";
            QCOMPARE(SaveMLabBinMix(rec.r, f), ST_OK);
            QCOMPARE(SaveMLabBinSgl(rec.r, fi, fq), ST_OK);
            for (int code : {3, 2}) {
                Rec in;
                QCOMPARE(read(in, code, code == 3 ? f : fi, code == 3 ? QString() : fq), ST_OK);
                QVERIFY(holds(in.r, i, q));
            }
            args << f << f + ".f32" << fi << fi + ".f32" << fq << fq + ".f32";
            const QString one = QStringLiteral("('%1', (1, %2), 'single')");
            whos << "[" + one.arg("I").arg(n) + ", " + one.arg("Q").arg(n) + "]" << "[" + one.arg("I").arg(n) + "]"
                 << "[" + one.arg("Q").arg(n) + "]";
            want += (bytesOf(i.data(), i.size()) + bytesOf(q.data(), q.size())).repeated(2);
        }
        QByteArray out;
        QVERIFY2(python(kLoad, args, &out), qPrintable(pyError));
        QCOMPARE(QString(out).split('\n'), whos);
        QByteArray got;
        for (int k = 1; k < args.size(); k += 2)
            got += readFile(args[k]);
        QCOMPARE(got, want);
    }

    void fromScipy()
    {
        for (int k = 0; k < scipyCases().size(); ++k) {
            const ScipyCase& c = scipyCases()[k];
            Rec in;
            SetDetail(QString());
            const int32_t st = c.varsQ ? read(in, 2, caseFile(k), caseFile(k, "q")) : read(in, 3, caseFile(k));
            QVERIFY2(st == c.status, c.tag);
            QVERIFY2(st == ST_OK ? holds(in.r, c.i, c.q) : !in->I && !in->Q && in->N == 0, c.tag);
            QVERIFY2(LastDetail().contains(c.detail), qPrintable(c.tag + (": " + LastDetail())));
        }
    }

    // Foreign, truncated and lying files fail with a status and no arrays;
    // no proper prefix of a valid file crashes or reads past its end.
    void badFiles()
    {
        Rec rec(samples(4, 5), samples(4, 6));
        const QString good = path("good.mat"), bad = path("bad.mat");
        QCOMPARE(SaveMLabBinMix(rec.r, good), ST_OK);
        std::mt19937 g(7);
        QByteArray noise(4096, 0);
        for (char& c : noise)
            c = char(g());
        for (const QByteArray& junk : {QByteArray("This is not a MAT-file at all.\n"), noise}) {
            writeFile(bad, junk);
            Rec mix, first, second;
            QVERIFY(read(mix, 3, bad) == ST_FILE1 && read(first, 2, bad, good) == ST_FILE1 && read(second, 2, good, bad) == ST_FILE2);
            QVERIFY(!mix->I && !first->I && !second->I && !second->Q);
        }
        const QByteArray all = readFile(good);
        for (int len = 0; len < all.size(); ++len) {
            QFile::remove(bad);
            writeFile(bad, all.left(len));
            Rec in;
            const int32_t st = read(in, 3, bad);
            QVERIFY2((st == ST_FILE1 || st == ST_FILE2) && !in->I && !in->Q, qPrintable(QStringLiteral("length %1: %2").arg(len).arg(st)));
        }
        // Dimensions that promise more elements than the variable's data
        // holds. Each variable: tag (8), array flags (16), dimensions tag (8)
        // and the two dimensions; the variables are equally long.
        const struct { int var; quint32 rows, cols; } lies[] = {
            {0, 1, 5}, {0, 1, 1000000}, {0, 0x7FFFFFFF, 0x7FFFFFFF}, {1, 1, 1000000000}};
        for (const auto& lie : lies) {
            QByteArray b = all;
            const int dims = 128 + lie.var * (b.size() - 128) / 2 + 8 + 16 + 8;
            QCOMPARE(qFromLittleEndian<quint32>(b.constData() + dims + 4), 4u);
            qToLittleEndian(lie.rows, b.data() + dims);
            qToLittleEndian(lie.cols, b.data() + dims + 4);
            QFile::remove(bad);
            writeFile(bad, b);
            Rec in;
            QVERIFY2(read(in, 3, bad) == (lie.var ? ST_FILE2 : ST_FILE1) && LastDetail().contains("announces"), qPrintable(LastDetail()));
        }
    }

    // Every file the fuzzer found, loaded as the types of its family the way
    // the fuzzer loaded it: a clean failure or a clean load, never a crash.
    void hostileFixtures()
    {
        int files = 0;
        const QDir root(QStringLiteral(ORVEX_TEST_DATA "/hostile"));
        for (const QString& family : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const fuzz::Family* fam = fuzz::familyOf(qPrintable(family));
            QVERIFY2(fam, qPrintable("no reader family " + family));
            for (const QFileInfo& fi : QDir(root.filePath(family)).entryInfoList(QDir::Files)) {
                const QByteArray b = readFile(fi.filePath());
                QVERIFY2(fuzz::loadAll(*fam, reinterpret_cast<const uint8_t*>(b.constData()), size_t(b.size())),
                         qPrintable(fi.filePath()));
                ++files;
            }
        }
        QVERIFY(files >= 2);
    }

    // The library writes by path, through a temporary file beside the
    // destination: a replaced file keeps its mode, and no temporary file is
    // left behind.
    void replacedFileKeepsItsMode()
    {
        QTemporaryDir d;
        Rec first(samples(3, 12), samples(3, 13));
        QCOMPARE(SaveMLabBinSgl(first.r, d.filePath("i.mat"), d.filePath("q.mat")), ST_OK);
        QVERIFY(::chmod(QFile::encodeName(d.filePath("i.mat")).constData(), 0640) == 0);
        QCOMPARE(SaveMLabBinMix(first.r, d.filePath("i.mat")), ST_OK);
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(d.filePath("i.mat")).constData(), &st) == 0 && (st.st_mode & 0777) == 0640);
        QCOMPARE(QDir(d.path()).entryList(QDir::Files), QStringList({"i.mat", "q.mat"}));
    }
};

QTEST_GUILESS_MAIN(TstBinary)
#include "tst_binary.moc"
