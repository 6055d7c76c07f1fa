// Hex text types and DAB symbol files: exact bytes, read-back values, round
// trips across block boundaries, hostile files and append.
#include "formats/catalogue.h"
#include "formats/hexdab.h"
#include "formats/save.h"

#include <QtTest>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

namespace {

struct Rec {
    IQDatStr r;
    Rec(const std::vector<float>& i, const std::vector<float>& q, const QString& file = QString())
    {
        MakeIQArr(&r, i.size());
        r.N = i.size();
        std::copy(i.begin(), i.end(), r.I);
        std::copy(q.begin(), q.end(), r.Q);
        r.FileI = file;
    }
    explicit Rec(const QString& file) { r.FileI = file; }
    ~Rec() { FreeArr(&r); }
};

QByteArray slurp(const QString& f)
{
    QFile file(f);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void spit(const QString& f, const QByteArray& b)
{
    QFile file(f);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(b);
}

std::vector<float> noise(size_t n, unsigned seed)
{
    std::mt19937 g(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v)
        x = d(g);
    return v;
}

// Code step of each hex format at a full scale of +-1.
double stepOf(int code) { return code == 20 ? 1.0 / 32767 : code == 21 ? 2.0 / 1023 : 2.0 / 131071; }

} // namespace

class T : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) { return dir.filePath(name); }

private slots:
    void init() { EscFlg = 0; }

    void hexExactBytes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("16-bit") << 20 << QByteArray("7FFF 8000\n   0 4000\nC000    0\n");
        QTest::newRow("10-bit") << 21 << QByteArray("3FF   0\n200 200\n");
        QTest::newRow("17-bit") << 22 << QByteArray("1FFFF     0\n10000 10000\n");
    }
    void hexExactBytes()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, bytes);
        // The 16-bit example has three samples, the others two.
        Rec rec = code == 20 ? Rec({1, 0, -0.5f}, {-1, 0.5f, 0}) : Rec({1, 0}, {-1, 0});
        const QString f = path(QStringLiteral("exact%1.txt").arg(code));
        QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_OK);
        QCOMPARE(slurp(f), bytes);
    }

    void hex16ReadBack()
    {
        const QString f = path("readback.txt");
        spit(f, "7FFF 8000\n   0 4000\nC000    0\n");
        Rec in(f);
        QCOMPARE(LoadHex16Mix(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(3));
        const float want[3][2] = {{1, -1}, {0, 16384.0f / 32767}, {-16383.0f / 32767, 0}};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(in.r.I[i], want[i][0]);
            QCOMPARE(in.r.Q[i], want[i][1]);
        }
        QVERIFY(std::fabs(in.r.Q[1] - 0.50001526f) < 1e-7f);
        QVERIFY(std::fabs(in.r.I[2] + 0.49998474f) < 1e-7f);
    }

    void hexAllZero_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("16-bit") << 20 << QByteArray("   0    0\n");
        QTest::newRow("10-bit") << 21 << QByteArray("200 200\n");
        QTest::newRow("17-bit") << 22 << QByteArray("10000 10000\n");
    }
    void hexAllZero()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, line);
        Rec rec({0, 0, -0.0f}, {0, 0, 0});
        const QString f = path(QStringLiteral("zero%1.txt").arg(code));
        QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_OK);
        QCOMPARE(slurp(f), line + line + line);
        Rec in(f);
        QCOMPARE(fmtTab[code].load(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(3));
        for (int i = 0; i < 3; ++i)
            QVERIFY(in.r.I[i] == 0 && in.r.Q[i] == 0);
    }

    // Sizes around the 50000-sample formatting block; the data is scaled so
    // that the peak is 1 and reading gives the values back within one code.
    void hexRoundTrip_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("n");
        for (int code : {20, 21, 22})
            for (int n : {0, 1, 2, 49999, 50000, 50001})
                QTest::addRow("code %d n %d", code, n) << code << n;
    }
    void hexRoundTrip()
    {
        QFETCH(int, code);
        QFETCH(int, n);
        std::vector<float> i = noise(size_t(n), 1), q = noise(size_t(n), 2);
        if (n) {
            i[0] = 1; // full scale present
            if (n > 1)
                q[1] = -1;
        }
        Rec rec(i, q);
        const QString f = path(QStringLiteral("rt%1_%2.txt").arg(code).arg(n));
        QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_OK);
        Rec in(f);
        QCOMPARE(fmtTab[code].load(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(n));
        // The offset-binary zero code covers p in (-0.5, 1.5) and reads as 0:
        // up to one and a half codes off; elsewhere half a code.
        const double tol = stepOf(code) * (code == 20 ? 0.5001 : 1.5001);
        double worst = 0;
        for (int k = 0; k < n; ++k)
            worst = std::max({worst, double(std::fabs(in.r.I[k] - i[size_t(k)])), double(std::fabs(in.r.Q[k] - q[size_t(k)]))});
        QVERIFY2(worst <= tol, qPrintable(QStringLiteral("worst error %1, step %2").arg(worst).arg(tol)));

        // Saving what was read reproduces the file; the 16-bit code FFFF
        // (minus zero) comes back as 0, the same value.
        const QString g = f + ".again";
        QCOMPARE(fmtTab[code].save(in.r, code, g, QString()), ST_OK);
        QByteArray first = slurp(f);
        if (code == 20)
            first.replace("FFFF", "   0");
        QCOMPARE(slurp(g), first);
    }

    // A signal that is not spread evenly about zero must not wrap into the
    // opposite code range.
    void hexOneSided_data()
    {
        QTest::addColumn<int>("code");
        for (int code : {20, 21, 22})
            QTest::addRow("code %d", code) << code;
    }
    void hexOneSided()
    {
        QFETCH(int, code);
        Rec rec({1.0f, 0.75f, 0.5f}, {0.9f, 0.25f, 0.0f});
        const QString f = path(QStringLiteral("dc%1.txt").arg(code));
        QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_OK);
        Rec in(f);
        QCOMPARE(fmtTab[code].load(&in.r), ST_OK);
        for (int k = 0; k < 3; ++k) {
            QVERIFY(std::fabs(in.r.I[k] - rec.r.I[k]) <= stepOf(code));
            QVERIFY(std::fabs(in.r.Q[k] - rec.r.Q[k]) <= stepOf(code));
        }
    }

    // Infinite and NaN samples give codes in range, never undefined casts.
    void hexNonFinite_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("infinite");
        for (int code : {20, 21, 22})
            for (bool inf : {false, true})
                QTest::addRow("code %d%s", code, inf ? " with inf" : "") << code << inf;
    }
    void hexNonFinite()
    {
        QFETCH(int, code);
        QFETCH(bool, infinite);
        const float inf = std::numeric_limits<float>::infinity();
        const float big = infinite ? inf : 2.0f;
        Rec rec({big, -big, std::nanf(""), 0.5f}, {std::nanf(""), 1.0f, -1.0f, 0.0f});
        const QString f = path("nonfinite.txt");
        QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_OK);
        Rec in(f);
        QCOMPARE(fmtTab[code].load(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(4));
        for (int k = 0; k < 4; ++k)
            QVERIFY(std::isfinite(in.r.I[k]) && std::fabs(in.r.I[k]) <= 1 && std::isfinite(in.r.Q[k]));
        if (!infinite) {
            QCOMPARE(in.r.I[0], 1.0f);
            QCOMPARE(in.r.I[1], -1.0f);
            QCOMPARE(in.r.I[2], 0.0f); // NaN writes the zero code
        }
    }

    void hexOddLines_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QVector<float>>("values"); // I, Q, I, Q, ...
        const float one = 1, m1 = -1;
        QTest::newRow("crlf and blanks") << 20 << QByteArray("  7FFF   8000 \r\n7fff 0x8000\n")
                                         << QVector<float>{one, m1, one, m1};
        QTest::newRow("missing and garbage") << 20 << QByteArray("7FFF\nzz 8000\n\n10000 7FFF\n")
                                             << QVector<float>{one, 0, 0, m1, 0, 0, 0, one};
        QTest::newRow("no final line feed") << 20 << QByteArray("7FFF 8000") << QVector<float>{one, m1};
        QTest::newRow("tab is no separator") << 20 << QByteArray("7FFF\t8000\n") << QVector<float>{0, 0};
        QTest::newRow("10-bit out of range") << 21 << QByteArray("400 3FF\n0 200\n")
                                             << QVector<float>{0, one, m1, 0};
        QTest::newRow("17-bit ends") << 22 << QByteArray("1FFFF 0\n20000 10000\n")
                                     << QVector<float>{one, m1, 0, 0};
        // fgets hands out a long line in 99-byte pieces, each one sample.
        QTest::newRow("long line") << 20 << (QByteArray("7FFF 8000") + QByteArray(100, ' ') + "\n")
                                   << QVector<float>{one, m1, 0, 0};
    }
    void hexOddLines()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, text);
        QFETCH(QVector<float>, values);
        const QString f = path("odd.txt");
        spit(f, text);
        Rec in(f);
        QCOMPARE(fmtTab[code].load(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(values.size() / 2));
        for (int k = 0; k < values.size() / 2; ++k) {
            QCOMPARE(in.r.I[k], values[2 * k]);
            QCOMPARE(in.r.Q[k], values[2 * k + 1]);
        }
    }

    void dabExactBytes()
    {
        Rec rec({1, 3}, {2, 4});
        const QString f = path("two.sym");
        QCOMPARE(SaveDAB(rec.r, f), ST_OK);
        QCOMPARE(slurp(f), QByteArray("length_of_symbol:2\ncarriers:192\n1.0000000e+00\n3.0000000e+00\n"
                                      "length_of_symbol:2\ncarriers:192\n2.0000000e+00\n4.0000000e+00\n"));
        Rec in(f);
        QCOMPARE(LoadDAB(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(2));
        QVERIFY(in.r.I[0] == 1 && in.r.I[1] == 3 && in.r.Q[0] == 2 && in.r.Q[1] == 4);
    }

    void emptyRecord()
    {
        Rec rec({}, {});
        const QString h = path("empty.txt"), d = path("empty.sym");
        QCOMPARE(SaveHex16Mix(rec.r, h), ST_OK);
        QCOMPARE(slurp(h), QByteArray());
        QCOMPARE(SaveDAB(rec.r, d), ST_OK);
        QCOMPARE(slurp(d), QByteArray("length_of_symbol:0\ncarriers:192\nlength_of_symbol:0\ncarriers:192\n"));
        Rec in(d);
        QCOMPARE(LoadDAB(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(0));
        Rec inh(h);
        QCOMPARE(LoadHex16Mix(&inh.r), ST_OK);
        QCOMPARE(inh.r.N, uint64_t(0));
    }

    // Every value formats as the C library's "%0.7e" does.
    void dabNumberFormat()
    {
        const float inf = std::numeric_limits<float>::infinity();
        std::vector<float> v = {0.0f, -0.0f, 0.1f, -123456.78f, 1e-45f, 1.17549435e-38f, 3.4028235e38f,
                                -inf, inf, std::nanf(""), 9.99999999f, 0.5f, 1e-10f};
        Rec rec(v, v);
        const QString f = path("fmt.sym");
        QCOMPARE(SaveDAB(rec.r, f), ST_OK);
        QByteArray block;
        char text[64];
        for (float x : v) {
            std::snprintf(text, sizeof text, "%0.7e\n", double(x));
            block += text;
        }
        std::snprintf(text, sizeof text, "length_of_symbol:%lld\ncarriers:192\n", (long long)v.size());
        const QByteArray head(text);
        QCOMPARE(slurp(f), head + block + head + block);
    }

    void dabRoundTrip_data()
    {
        QTest::addColumn<int>("n");
        for (int n : {1, 49999, 50000, 50001})
            QTest::addRow("n %d", n) << n;
    }
    void dabRoundTrip()
    {
        QFETCH(int, n);
        std::vector<float> i = noise(size_t(n), 3), q = noise(size_t(n), 4);
        for (float& x : q)
            x *= 1e5f;
        Rec rec(i, q);
        const QString f = path("rt.sym");
        QCOMPARE(SaveDAB(rec.r, f), ST_OK);
        Rec in(f);
        QCOMPARE(LoadDAB(&in.r), ST_OK);
        QCOMPARE(in.r.N, uint64_t(n));
        // Eight significant digits: within a relative 1e-7 of the float.
        for (int k = 0; k < n; ++k) {
            QVERIFY(std::fabs(in.r.I[k] - i[size_t(k)]) <= 1e-7 * std::fabs(i[size_t(k)]));
            QVERIFY(std::fabs(in.r.Q[k] - q[size_t(k)]) <= 1e-7 * std::fabs(q[size_t(k)]));
        }
    }

    void dabHostile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("n");
        const QByteArray h1 = "length_of_symbol:1\ncarriers:192\n";
        QTest::newRow("empty file") << QByteArray() << int(ST_FILE1) << 0;
        QTest::newRow("no colon") << QByteArray("garbage\n") << int(ST_FILE1) << 0;
        QTest::newRow("no count") << QByteArray("length_of_symbol:\ncarriers:192\n") << int(ST_FILE1) << 0;
        QTest::newRow("negative count") << QByteArray("length_of_symbol:-1\n") << int(ST_FILE1) << 0;
        QTest::newRow("count beyond 64 bits") << QByteArray("length_of_symbol:99999999999999999999\n")
                                              << int(ST_FILE1) << 0;
        QTest::newRow("count larger than file")
            << QByteArray("length_of_symbol:1000000000000\ncarriers:192\n1\n") << int(ST_FILE1) << 0;
        QTest::newRow("I block short") << QByteArray("length_of_symbol:3\ncarriers:192\n1\n2\n")
                                       << int(ST_FILE1) << 0;
        QTest::newRow("no Q block") << h1 + "1\n" << int(ST_FILE1) << 0;
        QTest::newRow("Q block short") << h1 + "1\n" + h1 << int(ST_FILE1) << 0;
        QTest::newRow("text values read 0") << h1 + "abc\n" + h1 + "\n" << int(ST_OK) << 1;
        QTest::newRow("keywords not checked") << QByteArray("x:1\ny\n5\nz\nw\n6\n") << int(ST_OK) << 1;
    }
    void dabHostile()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, status);
        QFETCH(int, n);
        const QString f = path("hostile.sym");
        spit(f, text);
        Rec in(f);
        QCOMPARE(LoadDAB(&in.r), status);
        QCOMPARE(in.r.N, uint64_t(n));
        if (status != ST_OK) {
            QVERIFY(!in.r.I && !in.r.Q);
            QVERIFY(!LastDetail().isEmpty());
        }
    }

    void cancelledLoad_data()
    {
        QTest::addColumn<int>("code");
        for (int code : {17, 20, 21, 22})
            QTest::addRow("code %d", code) << code;
    }
    void cancelledLoad()
    {
        QFETCH(int, code);
        const QString f = path("cancel.txt");
        Rec rec(noise(10, 7), noise(10, 8));
        QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_OK);
        Rec in(f);
        EscFlg = 1;
        QCOMPARE(fmtTab[code].load(&in.r), ST_CANCEL);
        QCOMPARE(EscFlg, (signed char)0);
        QVERIFY(!in.r.I && !in.r.Q && in.r.N == 0);
    }

    void missingFiles()
    {
        for (int code : {17, 20, 21, 22}) {
            Rec in(path("does-not-exist"));
            QCOMPARE(fmtTab[code].load(&in.r), ST_FILE1);
            QVERIFY(!in.r.I);
        }
    }

    // A cancelled or failed write leaves the old destination as it was.
    void writeFailureKeepsOldFile_data()
    {
        QTest::addColumn<int>("code");
        for (int code : {17, 20, 21, 22})
            QTest::addRow("code %d", code) << code;
    }
    void writeFailureKeepsOldFile()
    {
        QFETCH(int, code);
        const QString f = path("old.txt");
        spit(f, "old contents\n");
        Rec rec(noise(100, 5), noise(100, 6));
        EscFlg = 1;
        QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_CANCEL);
        QCOMPARE(EscFlg, (signed char)0);
        QCOMPARE(slurp(f), QByteArray("old contents\n"));
        QCOMPARE(fmtTab[code].save(rec.r, code, path("no/such/folder/x.txt"), QString()), ST_FILE1);
    }

    // Append through the dispatcher: old samples, the last g new ones, then
    // the new ones. The hex file is rescaled as a whole, so the data keeps
    // its peak at 1 to compare values.
    void appendWithGuard_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("guard");
        QTest::newRow("hex16 guard 2") << 20 << 2;
        QTest::newRow("hex10 guard 0") << 21 << 0;
        QTest::newRow("DAB guard 3") << 17 << 3;
    }
    void appendWithGuard()
    {
        QFETCH(int, code);
        QFETCH(int, guard);
        const QString f = path(QStringLiteral("append%1.txt").arg(code));
        Rec old({1, 0.5f, -0.25f}, {-1, 0.125f, 0});
        QCOMPARE(fmtTab[code].save(old.r, code, f, QString()), ST_OK);
        Rec dat({0.1f, 0.2f, 0.3f, 0.4f}, {-0.1f, -0.2f, -0.3f, -0.4f});
        IQDatStr dst, sav;
        sav.Typ = code; // the save list row equals the format code here
        sav.FileI = dst.FileI = f;
        bool result = false;
        QCOMPARE(SaveDatFile(&dat.r, &dst, &sav, AnaStr(), true, guard, &result), ST_OK);
        Rec in(f);
        QCOMPARE(fmtTab[code].load(&in.r), ST_OK);
        std::vector<float> wantI = {1, 0.5f, -0.25f}, wantQ = {-1, 0.125f, 0};
        for (int k = 4 - guard; k < 4; ++k) {
            wantI.push_back(dat.r.I[k]);
            wantQ.push_back(dat.r.Q[k]);
        }
        for (int k = 0; k < 4; ++k) {
            wantI.push_back(dat.r.I[k]);
            wantQ.push_back(dat.r.Q[k]);
        }
        QCOMPARE(in.r.N, uint64_t(wantI.size()));
        const double tol = code == 17 ? 1e-7 : 2 * stepOf(code);
        for (size_t k = 0; k < wantI.size(); ++k) {
            QVERIFY2(std::fabs(in.r.I[k] - wantI[k]) <= tol, qPrintable(QString::number(k)));
            QVERIFY2(std::fabs(in.r.Q[k] - wantQ[k]) <= tol, qPrintable(QString::number(k)));
        }
        FreeArr(&dst);
        FreeArr(&sav);
    }

    void appendToMissingFile()
    {
        Rec dat({0.5f}, {0.5f});
        IQDatStr dst, sav;
        sav.Typ = 20;
        sav.FileI = dst.FileI = path("nothing-here.txt");
        bool result = false;
        QCOMPARE(SaveDatFile(&dat.r, &dst, &sav, AnaStr(), true, 1, &result), ST_FILE1);
        QVERIFY(!QFile::exists(sav.FileI));
    }
};

QTEST_GUILESS_MAIN(T)
#include "tst_hexdab.moc"
