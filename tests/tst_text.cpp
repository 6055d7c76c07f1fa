// Text types: exact bytes of the writer, the reader's split and header
// rules, round trips through every text row, append, failures, and the fast
// number conversions checked against Qt and printf.
#include "formats/catalogue.h"
#include "formats/text.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

using namespace testutil;
using Floats = std::vector<float>;
Q_DECLARE_METATYPE(Floats)

namespace {

int rowOf(const char* name)
{
    for (int i = 0; i < TL_COUNT; ++i)
        if (tl[i].Name == QLatin1String(name))
            return i;
    qFatal("no row %s", name);
    return -1;
}

// Fresh files for every case: truncating and rewriting the same file makes
// some file systems flush it to disk each time.
bool freshFile(const QString& path, const QByteArray& bytes)
{
    QFile::remove(path);
    return writeFile(path, bytes);
}

bool sameFloat(float a, float b) { return std::isnan(a) ? std::isnan(b) : std::memcmp(&a, &b, 4) == 0; }

QString show(const QByteArray& b)
{
    QString s;
    for (unsigned char c : b)
        s += c >= 0x20 && c < 0x7f ? QString(QChar(c)) : QStringLiteral("\\x%1").arg(c, 2, 16, QChar('0'));
    return s;
}

// What a value becomes after a trip through the file: printf's text read
// back by QString::toFloat (the largest floats come back infinite, because
// their eight-digit text lies above FLT_MAX).
float throughText(float v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%0.7e", double(v));
    return QString::fromLatin1(buf).toFloat();
}

// The reader written the slow, obvious way: every line in a QStringList
// from a text stream, the header filter on the list, QString::split and
// QString::toFloat. The fast reader must agree with it on any input.
struct Ref {
    std::vector<float> i, q;
};

QStringList streamLines(const QString& path)
{
    QFile f(path);
    QStringList l;
    if (!f.open(QIODevice::ReadOnly))
        return l;
    QTextStream ts(&f);
    ts.setCodec("UTF-8");
    while (!ts.atEnd())
        l << ts.readLine();
    return l;
}

Ref refLoad(int32_t code, const QString& fi, const QString& fq)
{
    const bool one = fq.isEmpty();
    QStringList li = streamLines(fi), lq = one ? QStringList() : streamLines(fq);
    filterHdr(code, &li);
    filterHdr(code, &lq);
    auto value = [code](const QString& line) {
        return code == 26 ? line.simplified().split(' ').value(1).toFloat() : line.toFloat();
    };
    Ref r;
    for (int k = 0; k < (one ? li.size() : std::min(li.size(), lq.size())); ++k) {
        const QStringList p = li[k].split(' ');
        r.i.push_back(one ? p.value(0).toFloat() : value(li[k]));
        r.q.push_back(one ? p.value(1).toFloat() : value(lq[k]));
    }
    return r;
}

Ref refNoLF(const QString& path)
{
    const QByteArray bytes = readFile(path);
    const QStringList p = QString::fromUtf8(bytes.constData()).split(' ');
    Ref r;
    for (int k = 0; k + 1 < p.size(); k += 2) {
        r.i.push_back(p[k].toFloat());
        r.q.push_back(p[k + 1].toFloat());
    }
    return r;
}

// Random bytes built from the pieces that make text readers stumble.
QByteArray hostileText(std::mt19937& g, bool withBom)
{
    static const char* const pieces[] = {
        "1.5", "-2.25e-3", "+7", "0", "-0", "3.4028236e38", "1e-50", "inf", "-INF", "nan", "NaN",
        "-nan", "0x1A", "1,5", "1e", ".5", "5.", " ", "  ", "\t", "\r", "\r\n", "\n", "\n", "\n",
        "$DATA", "$DATA ASCII", "DATA", "% t v", "END", "END\n", "\n$DATA\n", "\nEND", "\xc3\xa9",
        "\xc2\xa0", "\xe2\x88\x92" "4", "\xff", "\xc3", "\x0b",
        "12345678901234567890123", "abc", "-", "+", "e5", "1e+400", "9.99999999999e-46"};
    constexpr int count = sizeof pieces / sizeof pieces[0];
    QByteArray b = withBom ? QByteArray("\xef\xbb\xbf") : QByteArray();
    const int len = int(g() % 60);
    for (int k = 0; k < len; ++k) {
        const int p = int(g() % (count + 1));
        b += p == count ? QByteArray(1, '\0') : QByteArray(pieces[p]);
    }
    return b;
}

// True when r holds what the reference reader gave, NaN matching any NaN.
bool matches(const IQDatStr& r, const Ref& want)
{
    if (r.N != want.i.size())
        return false;
    for (size_t k = 0; k < r.N; ++k)
        if (!sameFloat(r.I[k], want.i[k]) || !sameFloat(r.Q[k], want.q[k]))
            return false;
    return true;
}

// Codes of the written text types.
const int32_t kWritten[] = {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 13, 16};

QByteArray spwHeader(const char* clock, const char* type)
{
    return QByteArray("$SIGNAL_FILE 9\n$USER_COMMENT\n\n$COMMON_INFO\nSPW Version 3.0\n\nSampling Frequency = ") + clock
           + "\nStarting Time = 0.0\n$DATA_INFO\nNumber of Points = 3\nSignal Type = " + type + "\n$DATA\n";
}

QByteArray dadisp(const QByteArray& set, const QByteArray& signal, const char* when, const char* interval,
                  const char* data)
{
    return "DATASET " + set + "\nVERSION NEXT\nNUM SIGS " + QByteArray::number(signal.count(',') + 1)
           + "\nSTORAGE MODE INTERLACED\nSIGNAL " + signal + "\n" + when + interval
           + "\nVERT_UNITS volt\nHORZ_UNITS sec\nCOMMENT\nDATA\n" + data;
}

} // namespace

class TstText : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void init() { EscFlg = 0; }
    void cleanup() { text::SetNow(QDateTime()); }

    void writerBytes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<double>("clock");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<Floats>("i");
        QTest::addColumn<Floats>("q");
        QTest::addColumn<QByteArray>("wantI");
        QTest::addColumn<QByteArray>("wantQ"); // null: one file
        const QDateTime none, march(QDate(2024, 3, 9), QTime(7, 5, 3)), dec(QDate(2024, 12, 31), QTime(23, 59, 59));
        const Floats vi{1.0f, -0.123456789f, 3e-5f}, vq{-2.0f, 0.5f, 123456.7f};
        const QByteArray spwI = "1.0000000e+00\n-1.2345679e-01\n2.9999999e-05\nEND\n",
                         spwQ = "-2.0000000e+00\n5.0000000e-01\n1.2345670e+05\nEND\n";
        QTest::newRow("Matlab mixed") << 1 << 1e8 << none << Floats{1.0f, 0.25f} << Floats{-0.5f, 2.0f}
                                      << QByteArray("1.0000000e+00 -5.0000000e-01\n2.5000000e-01 2.0000000e+00\n")
                                      << QByteArray();
        QTest::newRow("SPW single") << 10 << 1e6 << none << vi << vq << spwHeader("1e+06", "Double") + spwI
                                    << spwHeader("1e+06", "Double") + spwQ;
        // The clock follows 'g' with 6 digits.
        QTest::newRow("SPW mixed") << 11 << 32e6 << none << vi << vq
                                   << spwHeader("3.2e+07", "Real_Imag")
                                          + "1.0000000e+00 -2.0000000e+00\n-1.2345679e-01 5.0000000e-01\n"
                                            "2.9999999e-05 1.2345670e+05\nEND\n"
                                   << QByteArray();
        QTest::newRow("ADS single") << 13 << 100.0 << none << vi << vq << spwHeader("100", "Double") + spwI
                                    << spwHeader("100", "Double") + spwQ;
        QTest::newRow("DaDisp single") << 6 << 1e6 << march << Floats{0.5f} << Floats{-1.0f}
                                       << dadisp("i", "i", "DATE 2024-03-09\nTIME 07:05:03\n", "INTERVAL 1e-06", "5.0000000e-01\n")
                                       << dadisp("q", "q", "DATE 2024-03-09\nTIME 07:05:03\n", "INTERVAL 1e-06", "-1.0000000e+00\n");
        QTest::newRow("DaDisp mixed") << 7 << 3e6 << dec << Floats{0.5f} << Floats{-1.0f}
                                      << dadisp("i_q", "i, q", "DATE 2024-12-31\nTIME 23:59:59\n", " INTERVAL 3.33333e-07",
                                                "5.0000000e-01 -1.0000000e+00\n")
                                      << QByteArray();
    }

    void writerBytes()
    {
        QFETCH(int, code);
        QFETCH(double, clock);
        QFETCH(QDateTime, now);
        QFETCH(Floats, i);
        QFETCH(Floats, q);
        QFETCH(QByteArray, wantI);
        QFETCH(QByteArray, wantQ);
        text::SetNow(now);
        Rec r(i, q);
        r.r.Clock = clock;
        const QString fq = wantQ.isNull() ? QString() : path("w.q");
        QCOMPARE(SaveAscii(r.r, code, path("w.i"), fq), ST_OK);
        QCOMPARE(readFile(path("w.i")), wantI);
        if (!fq.isEmpty())
            QCOMPARE(readFile(fq), wantQ);
    }

    void headerFilterOnLists()
    {
        struct {
            int32_t code;
            QStringList in, out;
        } cases[] = {
            {10, {"a", "$DATA", "1", "END"}, {"1"}},
            {11, {"$DATA ASCII", "1 2"}, {"1 2"}},
            {6, {"x", "DATA", "DATA", "END"}, {"DATA"}},
            {26, {"h", "% t v", "0 1", "END", "0 2"}, {"0 1", "END", "0 2"}},
            {13, {"h", "$DATA"}, {}},
            {13, {"$DATA", "END"}, {}},
            {7, {"data", "$data", "DATA "}, {"data", "$data", "DATA "}},
            {7, {"1 2", "END"}, {"1 2"}},
            {0, {"$DATA", "1", "END"}, {"$DATA", "1", "END"}},
            {29, {"DATA", "END"}, {"DATA", "END"}},
        };
        for (auto& c : cases) {
            filterHdr(c.code, &c.in);
            QCOMPARE(c.in, c.out);
        }
    }

    void readerExamples_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QByteArray>("fi");
        QTest::addColumn<QByteArray>("fq"); // null: one file
        QTest::addColumn<Floats>("i");
        QTest::addColumn<Floats>("q");
        const int spw = rowOf("SPW ASCII single"), mixed = rowOf("Matlab ASCII mixed"), noLF = rowOf("ASCII mixed no LF");
        const QByteArray one;
        // "END" as the last line is a trailer; anywhere else it is a value (0.0).
        QTest::newRow("END") << spw << QByteArray("$DATA\n1\nEND\n2\nEND\n") << QByteArray("$DATA\n3\n4\n5\nEND")
                             << Floats{1, 0, 2} << Floats{3, 4, 5};
        // A headered type without its marker line: every line is data.
        QTest::newRow("no marker") << rowOf("DaDisp mixed") << QByteArray("1 2\n3 4\nEND\n") << one << Floats{1, 3}
                                   << Floats{2, 4};
        // Two blanks enclose an empty part, a leading blank gives an empty I, a
        // tab is no separator, parts beyond the second are ignored.
        QTest::newRow("split") << mixed << QByteArray("1.5  2.5\n 1.5 2.5\n1.5\t2.5\n1.5 2.5 9\n7\n\n1 2\r\n-1e3 +2E-2\nx 3\n")
                               << one << Floats{1.5f, 0, 0, 1.5f, 7, 0, 1, -1000, 0} << Floats{0, 1.5f, 0, 2.5f, 0, 0, 2, 0.02f, 3};
        QTest::newRow("cut off") << mixed << QByteArray("1.0000000e+00 -5.00") << one << Floats{1} << Floats{-5};
        // One column only, then an empty line; Q has more lines than I.
        QTest::newRow("ADS time") << rowOf("ADS ASCII  TIMe dom. sgl")
                                  << QByteArray("ADS export\nfreq 1\n% t v\n0.000001\t0.75\n  2e-6   -0.5  x\n3e-6\n\n")
                                  << QByteArray("% t v\r\n1e-6 1\r\n2e-6 2\r\n3e-6 3\r\n4e-6 4\r\n5e-6 5\r\n")
                                  << Floats{0.75f, -0.5f, 0, 0} << Floats{1, 2, 3, 4};
        QTest::newRow("UInt16") << rowOf("UInt16") << QByteArray("65535\n0\n") << QByteArray("1\n2\n") << Floats{65535, 0}
                                << Floats{1, 2};
        QByteArray ten, eight;
        for (int k = 0; k < 10; ++k) {
            ten += QByteArray::number(k) + '\n';
            eight += k < 8 ? QByteArray::number(-k) + '\n' : QByteArray();
        }
        const Floats up{0, 1, 2, 3, 4, 5, 6, 7}, down{0, -1, -2, -3, -4, -5, -6, -7};
        QTest::newRow("I longer") << rowOf("Matlab ASCII single") << ten << eight << up << down;
        QTest::newRow("Q longer") << rowOf("Matlab ASCII single") << eight << ten << down << up;
        // Files with a UTF-16 byte-order mark are decoded as a text stream does.
        QByteArray wide("\xff\xfe", 2);
        for (char ch : QByteArray("$DATA\r\n1.5\n-2\nEND\n"))
            wide += QByteArray(1, ch) + QByteArray(1, '\0');
        QTest::newRow("UTF-16") << spw << wide << QByteArray("$DATA\n3\n4\n") << Floats{1.5f, -2} << Floats{3, 4};
        QTest::newRow("no LF") << noLF << QByteArray("1 2 3 4 5") << one << Floats{1, 3} << Floats{2, 4};
        QTest::newRow("no LF, final LF") << noLF << QByteArray("1 2 3 4\n") << one << Floats{1, 3} << Floats{2, 4};
        QTest::newRow("no LF, LF inside") << noLF << QByteArray("1 2\n3 4") << one << Floats{1} << Floats{0};
        QTest::newRow("no LF, final blank") << noLF << QByteArray("1 2 3 ") << one << Floats{1, 3} << Floats{2, 0};
        QTest::newRow("no LF, NUL") << noLF << QByteArray("1 2\0003 4", 7) << one << Floats{1} << Floats{2};
        QTest::newRow("no LF, BOM") << noLF << QByteArray("\xef\xbb\xbf" "5 6") << one << Floats{5} << Floats{6};
        QTest::newRow("no LF, empty") << noLF << QByteArray("") << one << Floats{} << Floats{};
        QTest::newRow("no LF, lone value") << noLF << QByteArray("7") << one << Floats{} << Floats{};
        // One line longer than the 4 MB read chunk, so pieces straddle it.
        QByteArray big;
        Floats bi, bq;
        for (int k = 0; k < 1200000; ++k) {
            big += QByteArray::number(k % 1000) + ' ';
            (k % 2 ? bq : bi).push_back(float(k % 1000));
        }
        QTest::newRow("no LF, long line") << noLF << big << one << bi << bq;
    }

    void readerExamples()
    {
        QFETCH(int, row);
        QFETCH(QByteArray, fi);
        QFETCH(QByteArray, fq);
        QFETCH(Floats, i);
        QFETCH(Floats, q);
        QVERIFY(freshFile(path("x.i"), fi) && freshFile(path("x.q"), fq));
        Rec r;
        QCOMPARE(load(&r.r, row, path("x.i"), fq.isNull() ? QString() : path("x.q")), ST_OK);
        QCOMPARE(r.r.N, uint64_t(i.size()));
        QVERIFY(matches(r.r, Ref{i, q}));
    }

    // Every written row, and sizes around the cancel cadence and the 4 MB read
    // chunk (about 140000 mixed lines) for a one-file and a two-file type.
    void roundTrip_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("n");
        for (int32_t code : kWritten)
            QTest::newRow(qPrintable(tl[code].Name)) << int(code) << 1000;
        for (int n : {0, 1, 24999, 25000, 25001, 150000}) {
            QTest::addRow("mixed %d", n) << 1 << n;
            QTest::addRow("SPW single %d", n) << 10 << n;
        }
    }

    void roundTrip()
    {
        QFETCH(int, row);
        QFETCH(int, n);
        Rec r;
        r.r = makeRec(uint64_t(n), uint32_t(row + n));
        if (n >= 3) // zeros of both signs, the largest float, subnormals
            std::tie(r.r.I[0], r.r.Q[0], r.r.I[1], r.r.Q[1], r.r.I[2]) =
                std::make_tuple(0.0f, -0.0f, 3.4028235e38f, 1.4e-45f, -1.17549435e-38f);
        const QString fi = path("rt.i"), fq = tl[row].Files == 2 ? path("rt.q") : QString();
        QCOMPARE(SaveAscii(r.r, row, fi, fq), ST_OK);
        // Unix line ends; only the SPW family has a trailer, and only at the end.
        const bool spw = row == 10 || row == 11 || row == 13;
        for (const QString& f : {fi, fq}) {
            const QByteArray b = f.isEmpty() || n == 0 ? QByteArray() : readFile(f);
            QVERIFY2(b.isEmpty() || (b.endsWith('\n') && !b.contains('\r')), qPrintable(show(b.right(80))));
            QVERIFY(b.isEmpty() || (b.endsWith("\nEND\n") == spw && b.count("END") == (spw ? 1 : 0)));
        }
        Ref want{Floats(r.r.I, r.r.I + n), Floats(r.r.Q, r.r.Q + n)};
        for (Floats* v : {&want.i, &want.q})
            std::transform(v->begin(), v->end(), v->begin(), throughText);
        Rec back;
        QCOMPARE(load(&back.r, row, fi, fq), ST_OK);
        QVERIFY(matches(back.r, want));
    }

    void appendThroughDispatcher()
    {
        const int row = rowOf("Matlab ASCII single");
        for (int guard : {0, 2, 5}) {
            Rec old({1, 2, 3, 4, 5}, {-1, -2, -3, -4, -5}), dat({10, 11, 12}, {-10, -11, -12}), back;
            QCOMPARE(SaveAscii(old.r, 0, path("ap.i"), path("ap.q")), ST_OK);
            QCOMPARE(appendTo(&dat.r, row, path("ap.i"), path("ap.q"), guard), ST_OK);
            // Old samples, the last g new ones, the new ones.
            Floats wi{1, 2, 3, 4, 5}, wq{-1, -2, -3, -4, -5};
            for (int k = 3 - std::min(guard, 3); k < 6; ++k) {
                wi.push_back(float(10 + k % 3));
                wq.push_back(-wi.back());
            }
            QCOMPARE(load(&back.r, row, path("ap.i"), path("ap.q")), ST_OK);
            QVERIFY2(holds(back.r, wi, wq), qPrintable(QString::number(guard)));
        }
        // No destination yet: the read-back fails and nothing is written.
        Rec dat({1}, {2});
        QCOMPARE(appendTo(&dat.r, rowOf("SPW ASCII mixed"), path("missing.asc"), QString(), 0), ST_FILE1);
        QVERIFY(!QFile::exists(path("missing.asc")));
    }

    void failuresKeepOldFiles()
    {
        Rec r({1, 2}, {3, 4}), big, back;
        big.r = makeRec(30000);
        writeFile(path("keep.i"), "old I\n");
        writeFile(path("keep.q"), "old Q\n");
        const QString noDir = path("no/such/dir/x.q");
        QCOMPARE(SaveAscii(r.r, 0, noDir, path("keep.q")), ST_FILE1);
        QCOMPARE(SaveAscii(r.r, 0, path("keep.i"), noDir), ST_FILE2);
        QCOMPARE(SaveAscii(r.r, 1, noDir, QString()), ST_FILE1);
        EscFlg = 1;
        QCOMPARE(SaveAscii(big.r, 1, path("keep.i"), QString()), ST_CANCEL);
        QCOMPARE(EscFlg, (signed char)0);
        QCOMPARE(readFile(path("keep.i")), QByteArray("old I\n"));
        QCOMPARE(readFile(path("keep.q")), QByteArray("old Q\n"));

        // Cancelled and impossible reads leave no arrays.
        QCOMPARE(SaveAscii(big.r, 1, path("c.asc"), QString()), ST_OK);
        EscFlg = 1;
        QCOMPARE(load(&back.r, rowOf("Matlab ASCII mixed"), path("c.asc")), ST_CANCEL);
        QCOMPARE(EscFlg, (signed char)0);
        QVERIFY(!back.r.I && !back.r.Q && back.r.N == 0);
        QCOMPARE(load(&back.r, rowOf("Matlab ASCII single"), path("none.i"), path("keep.i")), ST_FILE1);
        QCOMPARE(load(&back.r, rowOf("Matlab ASCII single"), path("keep.i"), path("none.q")), ST_FILE2);
        QVERIFY(load(&back.r, rowOf("Matlab ASCII mixed"), dir.path()) != ST_OK);
        QCOMPARE(load(&back.r, rowOf("ASCII mixed no LF"), path("none.asc")), ST_FILE1);
        QVERIFY(load(&back.r, rowOf("ASCII mixed no LF"), dir.path()) != ST_OK);
        QVERIFY(!back.r.I && !back.r.Q);
    }

    void hostileFilesMatchReference()
    {
        std::mt19937 g(2024);
        const char* const rows[] = {"Matlab ASCII mixed", "Matlab ASCII single", "DaDisp mixed",
                                    "SPW ASCII single", "SPW ASCII mixed", "ADS ASCII  TIMe dom. sgl", "UInt16"};
        // The first round reads plain binary garbage.
        QByteArray junk;
        for (int k = 0; k < 100000; ++k)
            junk += char(g());
        auto pick = [&](int round, bool bom) { return round ? hostileText(g, bom) : junk; };
        for (int round = 0; round < 120; ++round) {
            for (const char* name : rows) {
                const int row = rowOf(name);
                const QByteArray a = pick(round, round % 7 == 0), b = pick(round, round % 5 == 0);
                freshFile(path("h.i"), a);
                freshFile(path("h.q"), b);
                const QString fq = tl[row].Files == 2 ? path("h.q") : QString();
                Rec r;
                QCOMPARE(load(&r.r, row, path("h.i"), fq), ST_OK);
                QVERIFY2(matches(r.r, refLoad(tl[row].Code, path("h.i"), fq)),
                         qPrintable(QStringLiteral("%1: %2 | %3").arg(name, show(a), show(b))));
            }
            const QByteArray c = pick(round, round % 3 == 0);
            freshFile(path("h.asc"), c);
            Rec r;
            QCOMPARE(load(&r.r, rowOf("ASCII mixed no LF"), path("h.asc")), ST_OK);
            QVERIFY2(matches(r.r, refNoLF(path("h.asc"))), qPrintable(show(c)));
        }
    }

    void parserMatchesQt()
    {
        std::vector<std::string> inputs = {
            "", " ", "0", "-0", "+0", "1", "-1", "+1", "1.5", " 1.5 ", "\t-2.5\r", "\v3\f", "1e5",
            "1E5", "1e+5", "1e-5", "-1.25e-3", ".5", "5.", "5.e3", ".e3", ".", "-", "+", "e5", "1e",
            "1e+", "1e-", "--1", "+-1", "-+1", "1-", "1 2", "1\t2", "inf", "-inf", "+inf", "INF",
            "Inf", "infinity", "nan", "NaN", "-nan", "+nan", "NAN", "0x10", "0X1p3", "0x1.8p1", "1,5",
            "1.5f", "1d5", "1e999", "-1e999", "1e-999", "-1e-999", "3.4028235e38", "3.4028234e38",
            "-3.4028236e38", "1e39", "1e-45", "7e-46", "-1e-46", "1.4e-45", "1.17549435e-38",
            "2.2250738585072014e-308", "4.9e-324", "1e-400", "0e999999", "0.0000000e+00",
            "-0.0000000e+00", "1.0000000e+00", "00000000000000000000000000001", "1e0000000000000005",
            "1e-00000000000000000005", "123456789012345678901234567890", "0.1234567890123456789012345",
            "9007199254740993", "9007199254740992.5", "1.00000005960464477539062500001",
            "1.0000000596046447753906250000", "3.4028235677973366e38", "\xc2\xa0" "5", "5\xc2\xa0",
            "\xe2\x88\x92" "5", "\xef\xbb\xbf" "1", "\xff", std::string("1\0", 2), "\x1c" "1",
            "1\x1f", "\xe2\x80\x83" "2", "٣", "1e5x", "x1e5", "1..2", "1.2.3", "1e5e5", "+.5", "-.5e1",
            "12345678901234567890123456789012345678901234567890123456789012345678901234567890"};
        std::mt19937 g(99);
        const char alphabet[] = "0123456789.eE+- \tinfaINFAx,";
        for (int k = 0; k < 60000; ++k) {
            std::string s;
            const int len = int(g() % 14);
            for (int c = 0; c < len; ++c)
                s += alphabet[g() % (sizeof alphabet - 1)];
            inputs.push_back(s);
        }
        // Well-formed numbers of every shape and size, where the fast path runs.
        for (int k = 0; k < 60000; ++k) {
            uint32_t bits = g();
            float f;
            std::memcpy(&f, &bits, 4);
            char buf[96];
            const double d = k % 3 == 0 ? double(f) : std::ldexp(double(g()) / 4294967296.0, int(g() % 300) - 150);
            const char* fmts[] = {"%.9g", "%.17g", "%.3e", "%0.7e", "%f", "%.25f", "%.0f", "%.40g"};
            std::snprintf(buf, sizeof buf, fmts[k % 8], k % 2 ? -d : d);
            inputs.push_back(buf);
            std::string digits(size_t(1 + g() % 30), '0');
            for (char& c : digits)
                c = char('0' + g() % 10);
            digits.insert(g() % digits.size(), ".");
            inputs.push_back(digits + "e" + std::to_string(int(g() % 90) - 45));
        }
        int bad = 0;
        for (const std::string& s : inputs) {
            const float want = QString::fromUtf8(s.data(), int(s.size())).toFloat();
            const float got = text::ParseFloat(s.data(), s.data() + s.size());
            if (!sameFloat(want, got) && ++bad < 10)
                qWarning("\"%s\": Qt %.9g, fast %.9g", qPrintable(show(QByteArray::fromStdString(s))),
                         double(want), double(got));
        }
        QCOMPARE(bad, 0);
    }

    void formatterMatchesPrintf()
    {
        std::vector<float> values = {0.0f, -0.0f, 1.0f, -0.5f, 0.25f, 2.0f, 1e-45f, -1e-45f,
                                     1.17549435e-38f, 3.4028235e38f, -3.4028235e38f, 9.9999999e7f,
                                     1e8f, 99999995.0f, 9999999.5f, 1234567.25f, 1234567.75f,
                                     0.1f, 1e10f, 1e-10f, std::numeric_limits<float>::infinity(),
                                     -std::numeric_limits<float>::infinity(),
                                     std::numeric_limits<float>::quiet_NaN(),
                                     -std::numeric_limits<float>::quiet_NaN()};
        std::mt19937 g(7);
        for (int k = 0; k < 400000; ++k) {
            uint32_t bits = g();
            float f;
            std::memcpy(&f, &bits, 4);
            values.push_back(f);
        }
        // Exact ties at the eighth digit and values at decade boundaries.
        for (int k = 0; k < 100000; ++k) {
            values.push_back(float(1048576 + int(g() % 1048576)) + (k % 2 ? 0.25f : 0.75f));
            values.push_back(std::nextafter(std::pow(10.0f, float(int(g() % 76) - 38)), k % 2 ? 0.0f : 1e38f));
        }
        int bad = 0;
        for (float v : values) {
            char want[64], got[text::kNumMax + 1];
            std::snprintf(want, sizeof want, "%0.7e", double(v));
            *text::FormatE7(v, got) = 0;
            if (std::strcmp(want, got) != 0 && ++bad < 10)
                qWarning("%a: printf %s, fast %s", double(v), want, got);
        }
        QCOMPARE(bad, 0);
    }
};

QTEST_GUILESS_MAIN(TstText)
#include "tst_text.moc"
