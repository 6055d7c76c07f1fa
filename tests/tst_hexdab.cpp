// Hex text types and DAB symbol files: exact bytes, read-back values, odd and
// hostile files, failures. Round trips and append: tst_core.
#include "formats/catalogue.h"
#include "formats/hexdab.h"
#include "testutil.h"

#include <cmath>
#include <cstdio>
#include <limits>

using namespace testutil;

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
    void writeThenRead()
    {
        struct Row {
            QString name;
            int code;
            Vf i, q;
            QByteArray bytes;
            Vf back;   // I then Q; empty: not checked
            double steps;
        };
        const QByteArray any;
        const Vf z{0, 0, -0.0f}, zero(6, 0.0f);
        QList<Row> rows = {
            {"16-bit", 20, {1, 0, -0.5f}, {-1, 0.5f, 0}, "7FFF 8000\n   0 4000\nC000    0\n",
             {1, 0, -16383.0f / 32767, -1, 16384.0f / 32767, 0}, 0},
            {"10-bit", 21, {1, 0}, {-1, 0}, "3FF   0\n200 200\n", {}, 0},
            {"17-bit", 22, {1, 0}, {-1, 0}, "1FFFF     0\n10000 10000\n", {}, 0},
            // All zero: no peak to scale by.
            {"16-bit zero", 20, z, z, QByteArray("   0    0\n").repeated(3), zero, 0},
            {"10-bit zero", 21, z, z, QByteArray("200 200\n").repeated(3), zero, 0},
            {"17-bit zero", 22, z, z, QByteArray("10000 10000\n").repeated(3), zero, 0},
            {"hex empty", 20, {}, {}, "", {}, 0},
            {"DAB", 17, {1, 3}, {2, 4},
             "length_of_symbol:2\ncarriers:192\n1.0000000e+00\n3.0000000e+00\n"
             "length_of_symbol:2\ncarriers:192\n2.0000000e+00\n4.0000000e+00\n", {1, 3, 2, 4}, 0},
            {"DAB empty", 17, {}, {}, QByteArray("length_of_symbol:0\ncarriers:192\n").repeated(2), {}, 0},
        };
        for (int code : {20, 21, 22}) {
            const QString c = QString::number(code);
            rows.append({"one-sided " + c, code, {1, 0.75f, 0.5f}, {0.9f, 0.25f, 0}, any, {1, 0.75f, 0.5f, 0.9f, 0.25f, 0}, 1});
            rows.append({"NaN " + c, code, {2, -2, NaN, 0.5f}, {NaN, 1, -1, 0}, any, {1, -1, 0, NaN, NaN, NaN, NaN, NaN}, 0});
            rows.append({"inf " + c, code, {inf, -inf, NaN, 0.5f}, {NaN, 1, -1, 0}, any, Vf(8, NaN), 0});
        }
        // Every DAB value formats as the C library's "%0.7e" does.
        const Vf v = {0.0f, -0.0f, 0.1f, -123456.78f, 1e-45f, 1.17549435e-38f, 3.4028235e38f,
                      -inf, inf, NaN, 9.99999999f, 0.5f, 1e-10f};
        QByteArray block = "length_of_symbol:13\ncarriers:192\n";
        char text[64];
        for (float x : v) {
            std::snprintf(text, sizeof text, "%0.7e\n", double(x));
            block += text;
        }
        rows.append({"DAB awkward values", 17, v, v, block + block, {}, 0});
        for (const Row& row : rows) {
            Rec rec(row.i, row.q), in;
            const QString f = path("exact.txt");
            QCOMPARE(fmtTab[row.code].save(rec.r, row.code, f, QString()), ST_OK);
            QVERIFY2(row.bytes.isNull() || readFile(f) == row.bytes, qPrintable(row.name));
            QCOMPARE(read(in, row.code, f), ST_OK);
            QCOMPARE(in->N, uint64_t(row.i.size()));
            for (size_t k = 0; k < row.back.size(); ++k) {
                const float got = k < row.i.size() ? in->I[k] : in->Q[k - row.i.size()];
                QVERIFY2(std::isnan(row.back[k]) ? std::isfinite(got) && std::fabs(got) <= 1
                                                 : std::fabs(got - row.back[k]) <= row.steps * stepOf(row.code),
                         qPrintable(QStringLiteral("%1, value %2: %3").arg(row.name).arg(k).arg(got)));
            }
        }
    }

    // Odd hex lines read as codes or zeros; broken DAB files fail with a
    // reason and no arrays.
    void readerExamples()
    {
        const Vf fails{NaN};
        const QByteArray h1 = "length_of_symbol:1\ncarriers:192\n";
        const struct { const char* name; int code; QByteArray text; Vf values; } rows[] = {   // I, Q, I, Q, ...
            {"crlf and blanks", 20, "  7FFF   8000 \r\n7fff 0x8000\n", {1, -1, 1, -1}},
            {"missing and garbage", 20, "7FFF\nzz 8000\n\n10000 7FFF\n", {1, 0, 0, -1, 0, 0, 0, 1}},
            {"no final line feed", 20, "7FFF 8000", {1, -1}},
            {"tab is no separator", 20, "7FFF\t8000\n", {0, 0}},
            {"10-bit out of range", 21, "400 3FF\n0 200\n", {0, 1, -1, 0}},
            {"17-bit ends", 22, "1FFFF 0\n20000 10000\n", {1, -1, 0, 0}},
            // fgets hands out a long line in 99-byte pieces, each one sample.
            {"long line", 20, "7FFF 8000" + QByteArray(100, ' ') + "\n", {1, -1, 0, 0}},
            {"DAB empty file", 17, "", fails},
            {"DAB no colon", 17, "garbage\n", fails},
            {"DAB no count", 17, "length_of_symbol:\ncarriers:192\n", fails},
            {"DAB negative count", 17, "length_of_symbol:-1\n", fails},
            {"DAB count beyond 64 bits", 17, "length_of_symbol:99999999999999999999\n", fails},
            {"DAB count larger than file", 17, "length_of_symbol:1000000000000\ncarriers:192\n1\n", fails},
            {"DAB I block short", 17, "length_of_symbol:3\ncarriers:192\n1\n2\n", fails},
            {"DAB no Q block", 17, h1 + "1\n", fails},
            {"DAB Q block short", 17, h1 + "1\n" + h1, fails},
            {"DAB text values read 0", 17, h1 + "abc\n" + h1 + "\n", {0, 0}},
            {"DAB keywords not checked", 17, "x:1\ny\n5\nz\nw\n6\n", {5, 6}},
        };
        for (const auto& row : rows) {
            writeFile(path("odd.txt"), row.text);
            Rec in;
            const bool fails = row.values.size() == 1;
            QVERIFY2(read(in, row.code, path("odd.txt")) == (fails ? ST_FILE1 : ST_OK), row.name);
            QVERIFY2(!fails || (!in->I && !in->Q && in->N == 0 && !LastDetail().isEmpty()), row.name);
            Vf i, q;
            for (size_t k = 0; !fails && k < row.values.size(); k += 2) {
                i.push_back(row.values[k]);
                q.push_back(row.values[k + 1]);
            }
            QVERIFY2(fails || holds(in.r, i, q), row.name);
        }
    }

    // Missing input, cancelled reads and writes, unwritable destinations;
    // a failed write leaves the old destination as it was.
    void failures()
    {
        for (int code : {17, 20, 21, 22}) {
            Rec in, rec(100);
            QCOMPARE(read(in, code, path("does-not-exist")), ST_FILE1);
            QVERIFY(!in->I);
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
            QVERIFY(!in->I && !in->Q && in->N == 0);
        }
    }
};

QTEST_GUILESS_MAIN(T)
#include "tst_hexdab.moc"
