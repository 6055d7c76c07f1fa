// MAT-files: bit-exact round trips, variables taken by position, other
// classes converted or refused, hostile files, safe replacement, append,
// and interoperability both ways with an independent implementation
// (scipy.io savemat/loadmat, format 5, no compression).
#include "formats/catalogue.h"
#include "formats/matfile.h"
#include "formats/save.h"

#include <QtTest>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sys/stat.h>
#include <vector>

namespace {

const char* const kPython = "/usr/bin/python3";

struct Rec {
    IQDatStr r;
    Rec(const std::vector<float>& i, const std::vector<float>& q)
    {
        MakeIQArr(&r, i.size());
        r.N = i.size();
        std::copy(i.begin(), i.end(), r.I);
        std::copy(q.begin(), q.end(), r.Q);
    }
    Rec(const QString& fi, const QString& fq = QString())
    {
        r.FileI = fi;
        r.FileQ = fq;
    }
    ~Rec() { FreeArr(&r); }
};

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

bool sameBits(const float* a, const float* b, uint64_t n) { return n == 0 || std::memcmp(a, b, n * 4) == 0; }

QByteArray slurp(const QString& f)
{
    QFile file(f);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void spit(const QString& f, const QByteArray& b)
{
    QFile file(f);
    if (file.open(QIODevice::WriteOnly))
        file.write(b);
}

QByteArray floatBytes(const std::vector<float>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size() * 4));
}

// Prints the variables (name, shape, class) in file order and writes their
// elements in storage order as float32 to the second file.
const char* const kLoad =
    "import sys, numpy as np, scipy.io as sio\n"
    "print(sio.whosmat(sys.argv[1]))\n"
    "d = sio.loadmat(sys.argv[1])\n"
    "ks = [k for k in d if not k.startswith('__')]\n"
    "open(sys.argv[2], 'wb').write(b''.join(np.asarray(d[k]).ravel(order='F').astype('<f4').tobytes()"
    " for k in ks))\n";

// Files written by scipy: variables by position, other classes converted
// to float32 in storage (column) order, or refused. All are written by one
// Python run before the tests.
struct ScipyCase {
    const char* tag;
    const char* vars;
    bool compressed;
    int status;
    QVector<float> i, q;
    const char* detail;
};

const QVector<ScipyCase>& scipyCases()
{
    using V = QVector<float>;
    const int ok = ST_OK, f1 = ST_FILE1, f2 = ST_FILE2;
    static const QVector<ScipyCase> cases = {
        {"names re, im", "{'re': np.array([[1.5, -2.5, 3.25, 4]], 'f4'), 'im': np.array([[5, 6, 7, 8]], 'f4')}",
         false, ok, V{1.5f, -2.5f, 3.25f, 4}, V{5, 6, 7, 8}, ""},
        {"10 and 7 elements", "{'a': np.arange(10, dtype='f4'), 'b': np.arange(7, dtype='f4') + 20}",
         false, ok, V{0, 1, 2, 3, 4, 5, 6}, V{20, 21, 22, 23, 24, 25, 26}, ""},
        {"double 2-D", "{'a': np.array([[1.0, 2], [3, 4]]), 'b': np.array([[0.1, 0.2], [0.3, 0.4]])}",
         false, ok, V{1, 3, 2, 4}, V{0.1f, 0.3f, 0.2f, 0.4f}, ""},
        {"int16, uint8", "{'a': np.array([[-32768, 32767, 5]], 'i2'), 'b': np.array([[0, 255, 7]], 'u1')}",
         false, ok, V{-32768, 32767, 5}, V{0, 255, 7}, ""},
        {"int64, uint32", "{'a': np.array([[2**40, -3]], 'i8'), 'b': np.array([[4000000000, 1]], 'u4')}",
         false, ok, V{1099511627776.0f, -3}, V{4e9f, 1}, ""},
        {"logical", "{'a': np.array([[True, False]]), 'b': np.array([[False, True]])}",
         false, ok, V{1, 0}, V{0, 1}, ""},
        {"1 x 0", "{'a': np.zeros((1, 0), 'f4'), 'b': np.zeros((1, 0), 'f4')}", false, ok, V{}, V{}, ""},
        {"compressed", "{'a': np.array([[1.0, 2]]), 'b': np.array([[3.0, 4]])}", true, ok, V{1, 2}, V{3, 4}, ""},
        {"complex I", "{'a': np.array([[1 + 2j]]), 'b': np.array([[1.0]])}", false, f1, V{}, V{}, "complex"},
        {"complex Q", "{'a': np.array([[1.0]]), 'b': np.array([[1j]])}", false, f2, V{}, V{}, "complex"},
        {"char", "{'a': 'hello', 'b': np.array([[1.0]])}", false, f1, V{}, V{}, "char"},
        {"cell", "{'a': np.array([[1.0]]), 'b': np.array([[1, 'x']], dtype=object)}", false, f2, V{}, V{}, "cell"},
        {"struct", "{'a': {'x': 1.0}, 'b': np.array([[1.0]])}", false, f1, V{}, V{}, "struct"},
        {"sparse", "{'a': sp.csc_matrix(np.eye(3)), 'b': np.array([[1.0]])}", false, f1, V{}, V{}, "sparse"},
        {"one variable", "{'a': np.array([[1.0, 2]])}", false, f2, V{}, V{}, "second"},
        // A single-type pair: the shorter variable decides the count.
        {"sgl I of 10", "{'x': np.arange(10, dtype='f4')}", false, ok, V{}, V{}, ""},
        {"sgl Q of 7", "{'y': -np.arange(7, dtype='f4')}", false, ok, V{}, V{}, ""},
    };
    return cases;
}

QString caseFile(const QTemporaryDir& dir, int k) { return dir.filePath(QStringLiteral("scipy%1.mat").arg(k)); }

} // namespace

class T : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString pyError;

    QString path(const QString& name) { return dir.filePath(name); }

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

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(python("import numpy, scipy.io", {}),
                 "Debian's python3-scipy is required for the MAT-file interop tests (test.sh installs it).");
        QByteArray script = "import numpy as np, scipy.io as sio, scipy.sparse as sp\n";
        for (int k = 0; k < scipyCases().size(); ++k) {
            const ScipyCase& c = scipyCases()[k];
            script += "sio.savemat(r'" + QFile::encodeName(caseFile(dir, k)) + "', " + c.vars
                      + ", format='5', do_compression=" + (c.compressed ? "True" : "False") + ", oned_as='row')\n";
        }
        QVERIFY2(python(script.constData(), {}), qPrintable(pyError));
    }
    void init() { EscFlg = 0; }

    void mixedRoundTrip_data()
    {
        QTest::addColumn<int>("n");
        for (int n : {0, 1, 4, 7, 1000})
            QTest::addRow("n %d", n) << n;
    }
    void mixedRoundTrip()
    {
        QFETCH(int, n);
        Rec rec(samples(size_t(n), 1), samples(size_t(n), 2));
        const QString f = path(QStringLiteral("mix%1.mat").arg(n));
        QCOMPARE(SaveMLabBinMix(rec.r, f), ST_OK);

        Rec in(f);
        QCOMPARE(LoadMLabBinMix(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(n));
        QVERIFY(sameBits(in.r.I, rec.r.I, rec.r.N));
        QVERIFY(sameBits(in.r.Q, rec.r.Q, rec.r.N));

        // The independent reader sees I then Q, 1 x N, real single.
        QByteArray whos;
        const QString raw = f + ".f32";
        QVERIFY2(python(kLoad, {f, raw}, &whos), qPrintable(pyError));
        QCOMPARE(QString(whos), QStringLiteral("[('I', (1, %1), 'single'), ('Q', (1, %1), 'single')]").arg(n));
        const QByteArray both = QByteArray(reinterpret_cast<const char*>(rec.r.I), n * 4)
                                + QByteArray(reinterpret_cast<const char*>(rec.r.Q), n * 4);
        QCOMPARE(slurp(raw), both);
    }

    void singleRoundTrip()
    {
        Rec rec(samples(9, 3), samples(9, 4));
        const QString fi = path("sgl_i.mat"), fq = path("sgl_q.mat");
        QCOMPARE(SaveMLabBinSgl(rec.r, fi, fq), ST_OK);
        QByteArray whos;
        QVERIFY2(python(kLoad, {fi, fi + ".f32"}, &whos), qPrintable(pyError));
        QCOMPARE(whos, QByteArray("[('I', (1, 9), 'single')]"));
        QVERIFY2(python(kLoad, {fq, fq + ".f32"}, &whos), qPrintable(pyError));
        QCOMPARE(whos, QByteArray("[('Q', (1, 9), 'single')]"));
        Rec in(fi, fq);
        QCOMPARE(LoadMLabBinSgl(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(9));
        QVERIFY(sameBits(in.r.I, rec.r.I, 9));
        QVERIFY(sameBits(in.r.Q, rec.r.Q, 9));
    }

    // Files written by scipy: variables by position, other classes
    // converted to float32 in storage (column) order, or refused.
    void fromScipy_data()
    {
        QTest::addColumn<int>("k");
        for (int k = 0; k < scipyCases().size(); ++k)
            if (!QByteArray(scipyCases()[k].tag).startsWith("sgl"))
                QTest::newRow(scipyCases()[k].tag) << k;
    }
    void fromScipy()
    {
        QFETCH(int, k);
        const ScipyCase& c = scipyCases()[k];
        Rec in(caseFile(dir, k));
        SetDetail(QString());
        QCOMPARE(LoadMLabBinMix(&in.r), c.status);
        if (c.status != ST_OK) {
            QVERIFY(!in.r.I && !in.r.Q && in.r.N == 0);
            QVERIFY2(LastDetail().contains(c.detail), qPrintable(LastDetail()));
            return;
        }
        QCOMPARE(in.r.N, uint64_t(c.i.size()));
        for (int j = 0; j < c.i.size(); ++j) {
            QCOMPARE(in.r.I[j], c.i[j]);
            QCOMPARE(in.r.Q[j], c.q[j]);
        }
    }

    void singleDifferentLengths()
    {
        const int ki = scipyCases().size() - 2, kq = ki + 1;
        Rec in(caseFile(dir, ki), caseFile(dir, kq));
        QCOMPARE(LoadMLabBinSgl(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(7));
        for (int j = 0; j < 7; ++j) {
            QCOMPARE(in.r.I[j], float(j));
            QCOMPARE(in.r.Q[j], -float(j));
        }
    }

    void missingAndForeignFiles()
    {
        const QString good = path("good.mat");
        Rec rec(samples(4, 5), samples(4, 6));
        QCOMPARE(SaveMLabBinMix(rec.r, good), ST_OK);
        const QString text = path("text.mat");
        spit(text, "This is not a MAT-file at all.\n");
        std::mt19937 g(7);
        QByteArray noise(4096, 0);
        for (char& c : noise)
            c = char(g());
        const QString junk = path("junk.mat");
        spit(junk, noise);

        for (const QString& bad : {path("missing.mat"), text, junk}) {
            Rec mix(bad);
            QCOMPARE(LoadMLabBinMix(&mix.r), ST_FILE1);
            Rec first(bad, good);
            QCOMPARE(LoadMLabBinSgl(&first.r), ST_FILE1);
            Rec second(good, bad);
            QCOMPARE(LoadMLabBinSgl(&second.r), ST_FILE2);
            QVERIFY(!second.r.I && !second.r.Q);
        }
    }

    // Every proper prefix of a valid file fails with a status, none crashes
    // or reads past what is there.
    void truncatedFiles()
    {
        Rec rec(samples(4, 8), samples(4, 9));
        const QString good = path("whole.mat"), cut = path("cut.mat");
        QCOMPARE(SaveMLabBinMix(rec.r, good), ST_OK);
        const QByteArray all = slurp(good);
        for (int len = 0; len < all.size(); ++len) {
            spit(cut, all.left(len));
            Rec in(cut);
            const int32_t st = LoadMLabBinMix(&in.r);
            QVERIFY2(st == ST_FILE1 || st == ST_FILE2, qPrintable(QStringLiteral("length %1: %2").arg(len).arg(st)));
            QVERIFY(!in.r.I && !in.r.Q);
        }
    }

    // Dimensions that promise more elements than the variable's data holds.
    void lyingDimensions_data()
    {
        QTest::addColumn<int>("var");
        QTest::addColumn<quint32>("rows");
        QTest::addColumn<quint32>("cols");
        QTest::addColumn<int>("status");
        QTest::newRow("I 1 x 5") << 0 << 1u << 5u << int(ST_FILE1);
        QTest::newRow("I 1 x 10^6") << 0 << 1u << 1000000u << int(ST_FILE1);
        QTest::newRow("I 2^31 x 2^31") << 0 << 0x7FFFFFFFu << 0x7FFFFFFFu << int(ST_FILE1);
        QTest::newRow("Q 1 x 10^9") << 1 << 1u << 1000000000u << int(ST_FILE2);
    }
    void lyingDimensions()
    {
        QFETCH(int, var);
        QFETCH(quint32, rows);
        QFETCH(quint32, cols);
        QFETCH(int, status);
        Rec rec(samples(4, 10), samples(4, 11));
        const QString f = path("lie.mat");
        QCOMPARE(SaveMLabBinMix(rec.r, f), ST_OK);
        QByteArray b = slurp(f);
        // Each variable: tag (8), array flags (16), dimensions tag (8) and
        // the two dimensions; the variables are equally long.
        const int varLen = (b.size() - 128) / 2;
        const int dims = 128 + var * varLen + 8 + 16 + 8;
        QCOMPARE(qFromLittleEndian<quint32>(b.constData() + dims + 4), 4u);
        qToLittleEndian(rows, b.data() + dims);
        qToLittleEndian(cols, b.data() + dims + 4);
        spit(f, b);
        Rec in(f);
        QCOMPARE(LoadMLabBinMix(&in.r), status);
        QVERIFY(LastDetail().contains("announces"));
    }

    // Replacing a file keeps its mode and leaves no temporary file behind;
    // a failed write leaves the old files as they were.
    void safeReplacement()
    {
        QTemporaryDir d;
        const QString fi = d.filePath("i.mat"), fq = d.filePath("q.mat");
        Rec first(samples(3, 12), samples(3, 13));
        QCOMPARE(SaveMLabBinSgl(first.r, fi, fq), ST_OK);
        QVERIFY(::chmod(QFile::encodeName(fi).constData(), 0640) == 0);
        const QByteArray oldQ = slurp(fq);

        Rec second(samples(5, 14), samples(5, 15));
        QCOMPARE(SaveMLabBinMix(second.r, fi), ST_OK);
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(fi).constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 0777), 0640);
        QCOMPARE(QDir(d.path()).entryList(QDir::Files), (QStringList{"i.mat", "q.mat"}));

        const QByteArray oldI = slurp(fi);
        QCOMPARE(SaveMLabBinSgl(second.r, fi, d.filePath("no/folder/q.mat")), ST_FILE2);
        QCOMPARE(slurp(fi), oldI);
        QCOMPARE(slurp(fq), oldQ);
        QCOMPARE(SaveMLabBinMix(second.r, d.filePath("no/folder/x.mat")), ST_FILE1);
        QCOMPARE(QDir(d.path()).entryList(QDir::Files), (QStringList{"i.mat", "q.mat"}));
    }

    // Append through the dispatcher: old samples, the last g new ones, the
    // new ones, bit for bit.
    void appendWithGuard_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("guard");
        QTest::newRow("mixed guard 2") << 3 << 2;
        QTest::newRow("single guard 0") << 2 << 0;
        QTest::newRow("mixed guard beyond data") << 3 << 99;
    }
    void appendWithGuard()
    {
        QFETCH(int, code);
        QFETCH(int, guard);
        const QString fi = path("app_i.mat"), fq = code == 2 ? path("app_q.mat") : QString();
        const std::vector<float> oi = samples(3, 16), oq = samples(3, 17);
        Rec old(oi, oq);
        QCOMPARE(fmtTab[code].save(old.r, code, fi, fq), ST_OK);
        const std::vector<float> ni = samples(4, 18), nq = samples(4, 19);
        Rec dat(ni, nq);
        IQDatStr dst, sav;
        sav.Typ = code;
        sav.FileI = dst.FileI = fi;
        sav.FileQ = dst.FileQ = fq;
        bool result = false;
        QCOMPARE(SaveDatFile(&dat.r, &dst, &sav, AnaStr(), true, guard, &result), ST_OK);
        const int g = std::min(guard, 4);
        std::vector<float> wi = oi, wq = oq;
        wi.insert(wi.end(), ni.end() - g, ni.end());
        wq.insert(wq.end(), nq.end() - g, nq.end());
        wi.insert(wi.end(), ni.begin(), ni.end());
        wq.insert(wq.end(), nq.begin(), nq.end());
        Rec in(fi, fq);
        QCOMPARE(fmtTab[code].load(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(wi.size()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(in.r.I), int(in.r.N * 4)), floatBytes(wi));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(in.r.Q), int(in.r.N * 4)), floatBytes(wq));
        FreeArr(&dst);
        FreeArr(&sav);
    }

    void appendToMissingFile()
    {
        Rec dat(std::vector<float>{1}, std::vector<float>{2});
        IQDatStr dst, sav;
        sav.Typ = 3;
        sav.FileI = dst.FileI = path("absent.mat");
        bool result = false;
        QCOMPARE(SaveDatFile(&dat.r, &dst, &sav, AnaStr(), true, 0, &result), ST_FILE1);
        QVERIFY(!QFile::exists(sav.FileI));
    }
};

QTEST_GUILESS_MAIN(T)
#include "tst_matfile.moc"
