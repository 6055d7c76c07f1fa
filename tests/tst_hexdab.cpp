// Hex text types and DAB symbol files: exact bytes, read-back values, round
// trips across block boundaries, hostile files and append.
#include "formats/catalogue.h"
#include "formats/hexdab.h"
#include "testutil.h"

#include <QtTest>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

using namespace testutil;
using Floats = std::vector<float>;
Q_DECLARE_METATYPE(Floats)

namespace {

// Code step of each hex format at a full scale of +-1.
double stepOf(int code) { return code == 20 ? 1.0 / 32767 : code == 21 ? 2.0 / 1023 : 2.0 / 131071; }

const float inf = std::numeric_limits<float>::infinity(), NaN = std::nanf("");

} // namespace

class T : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) { return dir.filePath(name); }

    // Reads f with the reader of code straight, without the dispatcher's
    // clean-up, so a reader that leaks arrays on failure shows.
    int32_t read(Rec& in, int code, const QString& f)
    {
        in.r.FileI = f;
        return fmtTab[code].load(&in.r);
    }

private slots:
    void init() { EscFlg = 0; }

    // Written bytes (unless null), then the values the file reads back as,
    // within a number of code steps; expected NaN: any finite value within
    // full scale. A one-sided signal must not wrap into the opposite code
    // range; infinite and NaN samples give codes in range, never undefined
    // casts.
    void writeThenRead_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<Floats>("i");
        QTest::addColumn<Floats>("q");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Floats>("back"); // I then Q; empty: not checked
        QTest::addColumn<double>("steps");
        const QByteArray any;
        QTest::newRow("16-bit") << 20 << Floats{1, 0, -0.5f} << Floats{-1, 0.5f, 0}
                                << QByteArray("7FFF 8000\n   0 4000\nC000    0\n")
                                << Floats{1, 0, -16383.0f / 32767, -1, 16384.0f / 32767, 0} << 0.0;
        QTest::newRow("10-bit") << 21 << Floats{1, 0} << Floats{-1, 0} << QByteArray("3FF   0\n200 200\n") << Floats{} << 0.0;
        QTest::newRow("17-bit") << 22 << Floats{1, 0} << Floats{-1, 0} << QByteArray("1FFFF     0\n10000 10000\n")
                                << Floats{} << 0.0;
        // All zero: no peak to scale by.
        const Floats z{0, 0, -0.0f}, zero(6, 0.0f);
        QTest::newRow("16-bit zero") << 20 << z << z << QByteArray("   0    0\n").repeated(3) << zero << 0.0;
        QTest::newRow("10-bit zero") << 21 << z << z << QByteArray("200 200\n").repeated(3) << zero << 0.0;
        QTest::newRow("17-bit zero") << 22 << z << z << QByteArray("10000 10000\n").repeated(3) << zero << 0.0;
        QTest::newRow("hex empty") << 20 << Floats{} << Floats{} << QByteArray() << Floats{} << 0.0;
        for (int code : {20, 21, 22}) {
            QTest::addRow("one-sided %d", code) << code << Floats{1, 0.75f, 0.5f} << Floats{0.9f, 0.25f, 0} << any
                                                << Floats{1, 0.75f, 0.5f, 0.9f, 0.25f, 0} << 1.0;
            QTest::addRow("NaN %d", code) << code << Floats{2, -2, NaN, 0.5f} << Floats{NaN, 1, -1, 0} << any
                                          << Floats{1, -1, 0, NaN, NaN, NaN, NaN, NaN} << 0.0;
            QTest::addRow("inf %d", code) << code << Floats{inf, -inf, NaN, 0.5f} << Floats{NaN, 1, -1, 0} << any
                                          << Floats(8, NaN) << 0.0;
        }
        QTest::newRow("DAB") << 17 << Floats{1, 3} << Floats{2, 4}
                             << QByteArray("length_of_symbol:2\ncarriers:192\n1.0000000e+00\n3.0000000e+00\n"
                                           "length_of_symbol:2\ncarriers:192\n2.0000000e+00\n4.0000000e+00\n")
                             << Floats{1, 3, 2, 4} << 0.0;
        QTest::newRow("DAB empty") << 17 << Floats{} << Floats{}
                                   << QByteArray("length_of_symbol:0\ncarriers:192\n").repeated(2) << Floats{} << 0.0;
        // Every DAB value formats as the C library's "%0.7e" does.
        const Floats v = {0.0f, -0.0f, 0.1f, -123456.78f, 1e-45f, 1.17549435e-38f, 3.4028235e38f,
                          -inf, inf, NaN, 9.99999999f, 0.5f, 1e-10f};
        QByteArray block;
        char text[64];
        for (float x : v) {
            std::snprintf(text, sizeof text, "%0.7e\n", double(x));
            block += text;
        }
        const QByteArray head = "length_of_symbol:13\ncarriers:192\n";
        QTest::newRow("DAB awkward values") << 17 << v << v << head + block + head + block << Floats{} << 0.0;
    }
    void writeThenRead()
    {
        QFETCH(int, code);
        QFETCH(Floats, i);
        QFETCH(Floats, q);
        QFETCH(QByteArray, bytes);
        QFETCH(Floats, back);
        QFETCH(double, steps);
        Rec rec(i, q), in;
        const QString f = path("exact.txt");
        QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_OK);
        if (!bytes.isNull())
            QCOMPARE(readFile(f), bytes);
        QCOMPARE(read(in, code, f), ST_OK);
        QCOMPARE(in.r.N, uint64_t(i.size()));
        for (size_t k = 0; k < back.size(); ++k) {
            const float got = k < i.size() ? in.r.I[k] : in.r.Q[k - i.size()];
            QVERIFY2(std::isnan(back[k]) ? std::isfinite(got) && std::fabs(got) <= 1
                                         : std::fabs(got - back[k]) <= steps * stepOf(code),
                     qPrintable(QStringLiteral("value %1: %2").arg(k).arg(got)));
        }
    }

    // Sizes around the 50000-sample formatting block; the data is scaled so
    // that the peak is 1 and reading gives the values back within one code.
    void roundTrip_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("n");
        for (int code : {17, 20, 21, 22})
            for (int n : {0, 1, 49999, 50000, 50001})
                QTest::addRow("code %d n %d", code, n) << code << n;
    }
    void roundTrip()
    {
        QFETCH(int, code);
        QFETCH(int, n);
        Rec rec, in;
        rec.r = makeRec(uint64_t(n));
        const float *i = rec.r.I, *q = rec.r.Q;
        if (code == 17) {
            for (int k = 0; k < n; ++k)
                rec.r.Q[k] *= 1e5f;
        } else if (n) {
            rec.r.I[0] = 1; // full scale present
            rec.r.Q[n - 1] = -1;
        }
        const QString f = path("rt.txt");
        QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_OK);
        QCOMPARE(read(in, code, f), ST_OK);
        QCOMPARE(in.r.N, uint64_t(n));
        // DAB keeps eight significant digits. The offset-binary zero code
        // covers p in (-0.5, 1.5) and reads as 0: up to one and a half codes
        // off; elsewhere half a code.
        const double tol = code == 17 ? 0 : stepOf(code) * (code == 20 ? 0.5001 : 1.5001);
        for (int k = 0; k < n; ++k)
            for (auto [got, want] : {std::pair{in.r.I[k], i[k]}, std::pair{in.r.Q[k], q[k]}})
                QVERIFY2(std::fabs(got - want) <= std::max(tol, 1e-7 * std::fabs(want)),
                         qPrintable(QStringLiteral("sample %1: %2 for %3").arg(k).arg(got).arg(want)));
        if (code == 17)
            return;
        // Saving what was read reproduces the file; the 16-bit code FFFF
        // (minus zero) comes back as 0, the same value.
        QCOMPARE(fmtTab[code].save(in.r, code, f + ".again", QString()), ST_OK);
        QByteArray first = readFile(f);
        if (code == 20)
            first.replace("FFFF", "   0");
        QCOMPARE(readFile(f + ".again"), first);
    }

    // Odd hex lines read as codes or zeros; broken DAB files fail with a
    // reason and no arrays.
    void readerExamples_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Floats>("values"); // I, Q, I, Q, ...; {NaN}: the load fails
        const Floats fails{NaN};
        QTest::newRow("crlf and blanks") << 20 << QByteArray("  7FFF   8000 \r\n7fff 0x8000\n") << Floats{1, -1, 1, -1};
        QTest::newRow("missing and garbage") << 20 << QByteArray("7FFF\nzz 8000\n\n10000 7FFF\n")
                                             << Floats{1, 0, 0, -1, 0, 0, 0, 1};
        QTest::newRow("no final line feed") << 20 << QByteArray("7FFF 8000") << Floats{1, -1};
        QTest::newRow("tab is no separator") << 20 << QByteArray("7FFF\t8000\n") << Floats{0, 0};
        QTest::newRow("10-bit out of range") << 21 << QByteArray("400 3FF\n0 200\n") << Floats{0, 1, -1, 0};
        QTest::newRow("17-bit ends") << 22 << QByteArray("1FFFF 0\n20000 10000\n") << Floats{1, -1, 0, 0};
        // fgets hands out a long line in 99-byte pieces, each one sample.
        QTest::newRow("long line") << 20 << (QByteArray("7FFF 8000") + QByteArray(100, ' ') + "\n") << Floats{1, -1, 0, 0};
        const QByteArray h1 = "length_of_symbol:1\ncarriers:192\n";
        QTest::newRow("DAB empty file") << 17 << QByteArray() << fails;
        QTest::newRow("DAB no colon") << 17 << QByteArray("garbage\n") << fails;
        QTest::newRow("DAB no count") << 17 << QByteArray("length_of_symbol:\ncarriers:192\n") << fails;
        QTest::newRow("DAB negative count") << 17 << QByteArray("length_of_symbol:-1\n") << fails;
        QTest::newRow("DAB count beyond 64 bits") << 17 << QByteArray("length_of_symbol:99999999999999999999\n") << fails;
        QTest::newRow("DAB count larger than file") << 17 << QByteArray("length_of_symbol:1000000000000\ncarriers:192\n1\n")
                                                    << fails;
        QTest::newRow("DAB I block short") << 17 << QByteArray("length_of_symbol:3\ncarriers:192\n1\n2\n") << fails;
        QTest::newRow("DAB no Q block") << 17 << h1 + "1\n" << fails;
        QTest::newRow("DAB Q block short") << 17 << h1 + "1\n" + h1 << fails;
        QTest::newRow("DAB text values read 0") << 17 << h1 + "abc\n" + h1 + "\n" << Floats{0, 0};
        QTest::newRow("DAB keywords not checked") << 17 << QByteArray("x:1\ny\n5\nz\nw\n6\n") << Floats{5, 6};
    }
    void readerExamples()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, text);
        QFETCH(Floats, values);
        writeFile(path("odd.txt"), text);
        Rec in;
        const bool fails = values.size() == 1;
        QCOMPARE(read(in, code, path("odd.txt")), fails ? ST_FILE1 : ST_OK);
        if (fails) {
            QVERIFY(!in.r.I && !in.r.Q && in.r.N == 0);
            QVERIFY(!LastDetail().isEmpty());
            return;
        }
        QCOMPARE(in.r.N, uint64_t(values.size() / 2));
        for (size_t k = 0; k < values.size() / 2; ++k) {
            QCOMPARE(in.r.I[k], values[2 * k]);
            QCOMPARE(in.r.Q[k], values[2 * k + 1]);
        }
    }

    // Missing input, cancelled reads and writes, unwritable destinations;
    // a failed write leaves the old destination as it was.
    void failures()
    {
        for (int code : {17, 20, 21, 22}) {
            Rec in, rec;
            rec.r = makeRec(100);
            QCOMPARE(read(in, code, path("does-not-exist")), ST_FILE1);
            QVERIFY(!in.r.I);
            const QString f = path("old.txt");
            writeFile(f, "old contents\n");
            EscFlg = 1;
            QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_CANCEL);
            QCOMPARE(EscFlg, (signed char)0);
            QCOMPARE(readFile(f), QByteArray("old contents\n"));
            QCOMPARE(fmtTab[code].save(rec.r, code, path("no/such/folder/x.txt"), QString()), ST_FILE1);

            QCOMPARE(fmtTab[code].save(rec.r, code, f, QString()), ST_OK);
            EscFlg = 1;
            QCOMPARE(read(in, code, f), ST_CANCEL);
            QCOMPARE(EscFlg, (signed char)0);
            QVERIFY(!in.r.I && !in.r.Q && in.r.N == 0);
        }
    }

    // Append through the dispatcher: old samples, the last g new ones, then
    // the new ones. The hex file is rescaled as a whole, so the data keeps
    // its peak at 1 to compare values.
    void appendWithGuard()
    {
        for (auto [code, guard] : {std::pair{20, 2}, std::pair{21, 0}, std::pair{17, 3}}) {
            const QString f = path(QStringLiteral("append%1.txt").arg(code));
            Floats wantI = {1, 0.5f, -0.25f}, wantQ = {-1, 0.125f, 0};
            const Floats ni = {0.1f, 0.2f, 0.3f, 0.4f}, nq = {-0.1f, -0.2f, -0.3f, -0.4f};
            Rec old(wantI, wantQ), dat(ni, nq), in;
            QCOMPARE(fmtTab[code].save(old.r, code, f, QString()), ST_OK);
            // The save list row equals the format code here.
            QCOMPARE(appendTo(&dat.r, code, f, QString(), guard), ST_OK);
            for (int k = 4 - guard; k < 8; ++k) {
                wantI.push_back(ni[size_t(k % 4)]);
                wantQ.push_back(nq[size_t(k % 4)]);
            }
            QCOMPARE(read(in, code, f), ST_OK);
            QCOMPARE(in.r.N, uint64_t(wantI.size()));
            const double tol = code == 17 ? 1e-7 : 2 * stepOf(code);
            for (size_t k = 0; k < wantI.size(); ++k)
                QVERIFY2(std::fabs(in.r.I[k] - wantI[k]) <= tol && std::fabs(in.r.Q[k] - wantQ[k]) <= tol,
                         qPrintable(QStringLiteral("code %1 sample %2").arg(code).arg(k)));
        }
    }
};

QTEST_GUILESS_MAIN(T)
#include "tst_hexdab.moc"
