// Text types: exact bytes of the writer, the reader's split and header
// rules, failures, hostile files read alike by the fast reader and a plain
// reference reader, and the fast number conversions checked against Qt and
// printf. Hex text types and DAB symbol files: exact bytes, read-back
// values, odd and hostile files, failures. Round trips and append: tst_core.
#include "formats/catalogue.h"
#include "formats/hexdab.h"
#include "formats/text.h"
#include "testutil.h"

#include <QTextStream>
#include <cstdio>

using namespace testutil;

namespace {

int rowOf(const char* name) { return TypeIndex(tl, TL_COUNT, name); }

// Fresh files for every case: truncating and rewriting the same file makes
// some file systems flush it to disk each time.
bool freshFile(const QString& path, const QByteArray& bytes)
{
    QFile::remove(path);
    return writeFile(path, bytes);
}

QString show(const QByteArray& b)
{
    QString s;
    for (unsigned char c : b)
        s += c >= 0x20 && c < 0x7f ? QString(QChar(c)) : QStringLiteral("\\x%1").arg(c, 2, 16, QChar('0'));
    return s;
}

// The reader written the slow, obvious way: every line in a QStringList
// from a text stream, the header filter on the list, QString::split and
// QString::toFloat. The fast reader must agree with it on any input.
struct Ref {
    Vf i, q;
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
    const QStringList p = QString::fromUtf8(readFile(path).constData()).split(' ');
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
        "1.5", "-2.25e-3", "+7", "0", "-0", "3.4028236e38", "1e-50", "inf", "-INF", "nan", "NaN", "-nan", "0x1A", "1,5", "1e",
        ".5", "5.", " ", "  ", "\t", "\r", "\r\n", "\n", "\n", "\n", "$DATA", "$DATA ASCII", "DATA", "% t v", "END", "END\n",
        "\n$DATA\n", "\nEND", "\xc3\xa9", "\xc2\xa0", "\xe2\x88\x92" "4", "\xff", "\xc3", "\x0b", "12345678901234567890123",
        "abc", "-", "+", "e5", "1e+400", "9.99999999999e-46"};
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
    return r.N == want.i.size() && std::equal(want.i.begin(), want.i.end(), r.I, sameFloat)
           && std::equal(want.q.begin(), want.q.end(), r.Q, sameFloat);
}

QByteArray spwHeader(const char* clock, const char* type)
{
    return QByteArray("$SIGNAL_FILE 9\n$USER_COMMENT\n\n$COMMON_INFO\nSPW Version 3.0\n\nSampling Frequency = ") + clock
           + "\nStarting Time = 0.0\n$DATA_INFO\nNumber of Points = 3\nSignal Type = " + type + "\n$DATA\n";
}

QByteArray dadisp(const QByteArray& set, const QByteArray& signal, const char* when, const char* interval, const char* data)
{
    return "DATASET " + set + "\nVERSION NEXT\nNUM SIGS " + QByteArray::number(signal.count(',') + 1)
           + "\nSTORAGE MODE INTERLACED\nSIGNAL " + signal + "\n" + when + interval
           + "\nVERT_UNITS volt\nHORZ_UNITS sec\nCOMMENT\nDATA\n" + data;
}

const float inf = std::numeric_limits<float>::infinity(), NaN = std::nanf("");

} // namespace

class TstText : public FileTest {
    Q_OBJECT
    // Reads f with the reader of code straight, without the dispatcher's
    // clean-up, so a reader that leaks arrays on failure shows.
    int32_t read(Rec& in, int code, const QString& f)
    {
        in.r.FileI = f;
        return fmtTab[code].load(&in.r);
    }


private slots:
    void init() { EscFlg = 0; }
    void cleanup() { text::SetNow(QDateTime()); }

    void writerBytes()
    {
        const QDateTime none, march(QDate(2024, 3, 9), QTime(7, 5, 3)), dec(QDate(2024, 12, 31), QTime(23, 59, 59));
        const Vf vi{1.0f, -0.123456789f, 3e-5f}, vq{-2.0f, 0.5f, 123456.7f};
        const QByteArray spwI = "1.0000000e+00\n-1.2345679e-01\n2.9999999e-05\nEND\n",
                         spwQ = "-2.0000000e+00\n5.0000000e-01\n1.2345670e+05\nEND\n",
                         when = "DATE 2024-03-09\nTIME 07:05:03\n";
        const struct { const char* name; int code; double clock; QDateTime now; Vf i, q; QByteArray wantI, wantQ; } rows[] = {
            {"Matlab mixed", 1, 1e8, none, {1.0f, 0.25f}, {-0.5f, 2.0f},
             "1.0000000e+00 -5.0000000e-01\n2.5000000e-01 2.0000000e+00\n", {}},
            {"SPW single", 10, 1e6, none, vi, vq, spwHeader("1e+06", "Double") + spwI, spwHeader("1e+06", "Double") + spwQ},
            // The clock follows 'g' with 6 digits.
            {"SPW mixed", 11, 32e6, none, vi, vq, spwHeader("3.2e+07", "Real_Imag") + "1.0000000e+00 -2.0000000e+00\n"
             "-1.2345679e-01 5.0000000e-01\n2.9999999e-05 1.2345670e+05\nEND\n", {}},
            {"ADS single", 13, 100.0, none, vi, vq, spwHeader("100", "Double") + spwI, spwHeader("100", "Double") + spwQ},
            {"DaDisp single", 6, 1e6, march, {0.5f}, {-1.0f}, dadisp("i", "i", when, "INTERVAL 1e-06", "5.0000000e-01\n"),
             dadisp("q", "q", when, "INTERVAL 1e-06", "-1.0000000e+00\n")},
            {"DaDisp mixed", 7, 3e6, dec, {0.5f}, {-1.0f}, dadisp("i_q", "i, q", "DATE 2024-12-31\nTIME 23:59:59\n",
             " INTERVAL 3.33333e-07", "5.0000000e-01 -1.0000000e+00\n"), {}},
        };
        for (const auto& row : rows) {
            text::SetNow(row.now);
            Rec r(row.i, row.q, row.clock);
            const QString fq = row.wantQ.isNull() ? QString() : path("w.q");
            QCOMPARE(SaveAscii(r.r, row.code, path("w.i"), fq), ST_OK);
            QVERIFY2(readFile(path("w.i")) == row.wantI && (fq.isEmpty() || readFile(fq) == row.wantQ), row.name);
        }
    }

    void readerExamples()
    {
        const int spw = rowOf("SPW ASCII single"), mixed = rowOf("Matlab ASCII mixed"), noLF = rowOf("ASCII mixed no LF");
        QByteArray wide("\xff\xfe", 2), big;
        // Files with a UTF-16 byte-order mark are decoded as a text stream does.
        for (char ch : QByteArray("$DATA\r\n1.5\n-2\nEND\n"))
            wide += QByteArray(1, ch) + QByteArray(1, '\0');
        // One line longer than the 4 MB read chunk, so pieces straddle it.
        Vf bi, bq;
        for (int k = 0; k < 1200000; ++k) {
            big += QByteArray::number(k % 1000) + ' ';
            (k % 2 ? bq : bi).push_back(float(k % 1000));
        }
        const struct { const char* name; int row; QByteArray fi, fq; Vf i, q; } rows[] = {   // fq null: one file
            // "END" as the last line is a trailer; anywhere else it is a value (0.0).
            {"END", spw, "$DATA\n1\nEND\n2\nEND\n", "$DATA\n3\n4\n5\nEND", {1, 0, 2}, {3, 4, 5}},
            {"UTF-8 mark before the marker", spw, "\xef\xbb\xbf$DATA\n1\nEND\n", "$DATA\n3\n", {1}, {3}},
            // A headered type without its marker line: every line is data.
            {"no marker", rowOf("DaDisp mixed"), "1 2\n3 4\nEND\n", {}, {1, 3}, {2, 4}},
            // Markers match whole lines exactly.
            {"no exact marker", rowOf("DaDisp mixed"), "data\n$data\nDATA \n1 2\n", {}, {0, 0, 0, 1}, {0, 0, 0, 2}},
            // Two blanks enclose an empty part, a leading blank gives an empty
            // I, a tab is no separator, parts beyond the second are ignored.
            {"split", mixed, "1.5  2.5\n 1.5 2.5\n1.5\t2.5\n1.5 2.5 9\n7\n\n1 2\r\n-1e3 +2E-2\nx 3\n", {},
             {1.5f, 0, 0, 1.5f, 7, 0, 1, -1000, 0}, {0, 1.5f, 0, 2.5f, 0, 0, 2, 0.02f, 3}},
            {"cut off", mixed, "1.0000000e+00 -5.00", {}, {1}, {-5}},
            // One column only, then an empty line; Q has more lines than I.
            {"ADS time", rowOf("ADS ASCII  TIMe dom. sgl"), "ADS export\nfreq 1\n% t v\n0.000001\t0.75\n  2e-6   -0.5  x\n3e-6\n\n",
             "% t v\r\n1e-6 1\r\n2e-6 2\r\n3e-6 3\r\n4e-6 4\r\n5e-6 5\r\n", {0.75f, -0.5f, 0, 0}, {1, 2, 3, 4}},
            {"UInt16, no header", rowOf("UInt16"), "$DATA\n65535\n0\nEND\n", "1\n2\n3\n", {0, 65535, 0}, {1, 2, 3}},
            {"UTF-16", spw, wide, "$DATA\n3\n4\n", {1.5f, -2}, {3, 4}},
            {"no LF", noLF, "1 2 3 4 5", {}, {1, 3}, {2, 4}},
            {"no LF, BOM", noLF, "\xef\xbb\xbf" "5 6", {}, {5}, {6}},
            {"no LF, long line", noLF, big, {}, bi, bq},
        };
        for (const auto& c : rows) {
            QVERIFY(freshFile(path("x.i"), c.fi) && freshFile(path("x.q"), c.fq));
            Rec r;
            QCOMPARE(load(&r.r, c.row, path("x.i"), c.fq.isNull() ? QString() : path("x.q")), ST_OK);
            QVERIFY2(matches(r.r, Ref{c.i, c.q}), c.name);
        }
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
        // What the generated inputs below do not reach: other white space,
        // words, huge exponents and digit counts, float ties and limits,
        // non-ASCII and control bytes.
        std::vector<std::string> inputs = {
            "\v3\f", "\t-2.5\r", "infinity", "1.5f", "1d5", "0X1p3", "0x1.8p1", "1e999", "-1e-999", "1e-400", "0e999999",
            "3.4028235e38", "3.4028236e38", "-3.4028236e38", "1e39", "7e-46", "1.4e-45", "1.17549435e-38", "4.9e-324",
            "-0.0000000e+00", "00000000000000000000000000001", "1e0000000000000005", "1e-00000000000000000005",
            "9007199254740993", "1.00000005960464477539062500001", "1.0000000596046447753906250000", "3.4028235677973366e38",
            "\xc2\xa0" "5", "5\xc2\xa0", "\xe2\x88\x92" "5", "\xef\xbb\xbf" "1", "\xff", std::string("1\0", 2), "\x1c" "1", "1\x1f",
            "\xe2\x80\x83" "2", "٣", "12345678901234567890123456789012345678901234567890123456789012345678901234567890"};
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
        const char* fmts[] = {"%.9g", "%.17g", "%.3e", "%0.7e", "%f", "%.25f", "%.0f", "%.40g"};
        for (int k = 0; k < 60000; ++k) {
            const float f = io::f32(g());
            char buf[96];
            const double d = k % 3 == 0 ? double(f) : std::ldexp(double(g()) / 4294967296.0, int(g() % 300) - 150);
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
                qWarning("\"%s\": Qt %.9g, fast %.9g", qPrintable(show(QByteArray::fromStdString(s))), double(want), double(got));
        }
        QCOMPARE(bad, 0);
    }

    void formatterMatchesPrintf()
    {
        const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
        Vf values = {0.0f, -0.0f, 1.0f, -0.5f, 0.25f, 2.0f, 1e-45f, -1e-45f, 1.17549435e-38f, 3.4028235e38f,
                     -3.4028235e38f, 9.9999999e7f, 1e8f, 99999995.0f, 9999999.5f, 1234567.25f, 1234567.75f,
                     0.1f, 1e10f, 1e-10f, inf, -inf, nan, -nan};
        std::mt19937 g(7);
        for (int k = 0; k < 400000; ++k)
            values.push_back(io::f32(g()));
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

    // Written bytes (the values read back: tst_core). A one-sided signal
    // must not wrap into the opposite code range; infinite and NaN samples
    // give codes in range, never undefined casts: what such a file reads
    // back as is finite and within full scale.
    void hexAndDab()
    {
        const QByteArray odd;
        const Vf z{0, 0, -0.0f};
        QList<std::tuple<QString, int, Vf, Vf, QByteArray>> rows = {
            {"16-bit", 20, {1, 0, -0.5f}, {-1, 0.5f, 0}, "7FFF 8000\n   0 4000\nC000    0\n"},
            {"10-bit", 21, {1, 0}, {-1, 0}, "3FF   0\n200 200\n"},
            {"17-bit", 22, {1, 0}, {-1, 0}, "1FFFF     0\n10000 10000\n"},
            // All zero: no peak to scale by.
            {"16-bit zero", 20, z, z, QByteArray("   0    0\n").repeated(3)},
            {"10-bit zero", 21, z, z, QByteArray("200 200\n").repeated(3)},
            {"17-bit zero", 22, z, z, QByteArray("10000 10000\n").repeated(3)},
            {"hex empty", 20, {}, {}, ""},
            {"DAB", 17, {1, 3}, {2, 4}, "length_of_symbol:2\ncarriers:192\n1.0000000e+00\n3.0000000e+00\n"
                                       "length_of_symbol:2\ncarriers:192\n2.0000000e+00\n4.0000000e+00\n"},
            {"DAB empty", 17, {}, {}, QByteArray("length_of_symbol:0\ncarriers:192\n").repeated(2)}};
        for (int code : {20, 21, 22})
            rows << std::tuple{"one-sided", code, Vf{1, 0.75f, 0.5f}, Vf{0.9f, 0.25f, 0}, odd}
                 << std::tuple{"NaN", code, Vf{2, -2, NaN, 0.5f}, Vf{NaN, 1, -1, 0}, odd}
                 << std::tuple{"inf", code, Vf{inf, -inf, NaN, 0.5f}, Vf{NaN, 1, -1, 0}, odd};
        // Every DAB value formats as the C library's "%0.7e" does.
        const Vf v = {0.0f, -0.0f, 0.1f, -123456.78f, 1e-45f, 1.17549435e-38f, 3.4028235e38f, -inf, inf, NaN, 9.99999999f, 0.5f, 1e-10f};
        QByteArray block = "length_of_symbol:13\ncarriers:192\n";
        char text[64];
        for (float x : v)
            block += QByteArray(text, std::snprintf(text, sizeof text, "%0.7e\n", double(x)));
        rows << std::tuple{"DAB awkward values", 17, v, v, block + block};
        for (const auto& [name, code, i, q, bytes] : rows) {
            Rec rec(i, q), in;
            QCOMPARE(fmtTab[code].save(rec.r, code, path("exact.txt"), QString()), ST_OK);
            QVERIFY2(bytes.isNull() || readFile(path("exact.txt")) == bytes, qPrintable(name));
            QVERIFY2(read(in, code, path("exact.txt")) == ST_OK && in->N == i.size(), qPrintable(name));
            for (uint64_t k = 0; bytes.isNull() && k < 2 * in->N; ++k) {
                const float got = k < in->N ? in->I[k] : in->Q[k - in->N];
                QVERIFY2(std::isfinite(got) && std::fabs(got) <= 1 && (name != "one-sided" || got >= 0), qPrintable(name));
            }
        }
        // Odd hex lines read as codes or zeros; broken DAB files fail with a
        // reason and no arrays.
        const QByteArray h1 = "length_of_symbol:1\ncarriers:192\n";
        const struct { const char* name; int code; QByteArray text; int32_t st; Vf i, q; } lines[] = {
            {"crlf and blanks", 20, "  7FFF   8000 \r\n7fff 0x8000\n", ST_OK, {1, 1}, {-1, -1}},
            {"missing and garbage", 20, "7FFF\nzz 8000\n\n10000 7FFF\n", ST_OK, {1, 0, 0, 0}, {0, -1, 0, 1}},
            {"no final line feed", 20, "7FFF 8000", ST_OK, {1}, {-1}},
            {"tab is no separator", 20, "7FFF\t8000\n", ST_OK, {0}, {0}},
            {"10-bit out of range", 21, "400 3FF\n0 200\n", ST_OK, {0, -1}, {1, 0}},
            {"17-bit ends", 22, "1FFFF 0\n20000 10000\n", ST_OK, {1, 0}, {-1, 0}},
            // fgets hands out a long line in 99-byte pieces, each one sample.
            {"long line", 20, "7FFF 8000" + QByteArray(100, ' ') + "\n", ST_OK, {1, 0}, {-1, 0}},
            {"DAB empty file", 17, "", ST_FILE1, {}, {}},
            {"DAB no colon", 17, "garbage\n", ST_FILE1, {}, {}},
            {"DAB count beyond 64 bits", 17, "length_of_symbol:99999999999999999999\n", ST_FILE1, {}, {}},
            {"DAB count larger than file", 17, "length_of_symbol:1000000000000\ncarriers:192\n1\n", ST_FILE1, {}, {}},
            {"DAB I block short", 17, "length_of_symbol:3\ncarriers:192\n1\n2\n", ST_FILE1, {}, {}},
            {"DAB no Q block", 17, h1 + "1\n", ST_FILE1, {}, {}},
            {"DAB Q block short", 17, h1 + "1\n" + h1, ST_FILE1, {}, {}},
            {"DAB text values read 0", 17, h1 + "abc\n" + h1 + "\n", ST_OK, {0}, {0}},
            {"DAB keywords not checked", 17, "x:1\ny\n5\nz\nw\n6\n", ST_OK, {5}, {6}}};
        for (const auto& row : lines) {
            writeFile(path("odd.txt"), row.text);
            Rec in;
            QVERIFY2(read(in, row.code, path("odd.txt")) == row.st && holds(in.r, row.i, row.q), row.name);
            QVERIFY2(row.st == ST_OK || (!in->I && !in->Q && !LastDetail().isEmpty()), row.name);
        }
    }
};

QTEST_GUILESS_MAIN(TstText)
#include "tst_text.moc"
