// MAT-files: variables taken by position, other classes converted or
// refused, hostile files, safe replacement, and interoperability both ways
// with an independent implementation (scipy.io savemat/loadmat, format 5, no
// compression). Round trips of our own and append: tst_core.
#include "formats/catalogue.h"
#include "formats/matfile.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <sys/stat.h>

using namespace testutil;

namespace {

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

class T : public FileTest {
    Q_OBJECT
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
        const struct { int var; quint32 rows, cols; } lies[] = {{0, 1, 5}, {0, 1, 1000000}, {0, 0x7FFFFFFF, 0x7FFFFFFF}, {1, 1, 1000000000}};
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

QTEST_GUILESS_MAIN(T)
#include "tst_matfile.moc"
