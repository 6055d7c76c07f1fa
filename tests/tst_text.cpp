// Text types: exact bytes of the writer, the reader's split and header
// rules, round trips through every text row, append, failures, and the fast
// number conversions checked against Qt and printf.
#include "formats/catalogue.h"
#include "formats/save.h"
#include "formats/text.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

using namespace testutil;

namespace {

int rowOf(const char* name)
{
    for (int i = 0; i < TL_COUNT; ++i)
        if (tl[i].Name == QLatin1String(name))
            return i;
    qFatal("no row %s", name);
    return -1;
}

IQDatStr recOf(const std::vector<float>& i, const std::vector<float>& q, double clock = 1e8)
{
    IQDatStr r;
    MakeIQArr(&r, i.size());
    r.N = i.size();
    std::copy(i.begin(), i.end(), r.I);
    std::copy(q.begin(), q.end(), r.Q);
    r.Clock = clock;
    return r;
}

// Fresh files for every case: truncating and rewriting the same file makes
// some file systems flush it to disk each time.
bool freshFile(const QString& path, const QByteArray& bytes)
{
    QFile::remove(path);
    return writeFile(path, bytes);
}

bool sameFloat(float a, float b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    uint32_t x, y;
    std::memcpy(&x, &a, 4);
    std::memcpy(&y, &b, 4);
    return x == y;
}

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
    Ref r;
    QStringList li = streamLines(fi);
    filterHdr(code, &li);
    if (fq.isEmpty()) {
        for (const QString& line : li) {
            const QStringList p = line.split(' ');
            r.i.push_back(p.value(0).toFloat());
            r.q.push_back(p.value(1).toFloat());
        }
        return r;
    }
    QStringList lq = streamLines(fq);
    filterHdr(code, &lq);
    const int n = std::min(li.size(), lq.size());
    auto value = [code](const QString& line) {
        return code == 26 ? line.simplified().split(' ').value(1).toFloat() : line.toFloat();
    };
    for (int k = 0; k < n; ++k) {
        r.i.push_back(value(li[k]));
        r.q.push_back(value(lq[k]));
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
        if (p == count)
            b += '\0';
        else
            b += pieces[p];
    }
    return b;
}

// Codes whose value lines are a single number; pairs for the rest.
const int32_t kWritten[] = {0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 13, 16};

} // namespace

class TstText : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void init() { EscFlg = 0; }
    void cleanup() { text::SetNow(QDateTime()); }

    void matlabMixedBytes();
    void spwSingleBytesAndReadBack();
    void dadispHeaders();
    void trailerOnlyAtEnd();
    void headerFilterOnLists();
    void noMarkerReadsAllLines();
    void splitRules();
    void adsTimeDomain();
    void twoFileLengthMismatch();
    void noLineFeed();
    void roundTripEveryTextRow_data();
    void roundTripEveryTextRow();
    void roundTripAcrossBoundaries_data();
    void roundTripAcrossBoundaries();
    void appendThroughDispatcher();
    void writerFailuresKeepOldFiles();
    void cancelLeavesNothing();
    void hostileFilesMatchReference();
    void unreadableInputs();
    void parserMatchesQt();
    void formatterMatchesPrintf();
};

void TstText::matlabMixedBytes()
{
    IQDatStr r = recOf({1.0f, 0.25f}, {-0.5f, 2.0f});
    QCOMPARE(SaveAscii(r, 1, path("m.asc"), QString()), ST_OK);
    QCOMPARE(readFile(path("m.asc")), QByteArray("1.0000000e+00 -5.0000000e-01\n2.5000000e-01 2.0000000e+00\n"));
    FreeArr(&r);
}

void TstText::spwSingleBytesAndReadBack()
{
    const std::vector<float> vi{1.0f, -0.123456789f, 3e-5f}, vq{-2.0f, 0.5f, 123456.7f};
    IQDatStr r = recOf(vi, vq, 1e6);
    QCOMPARE(SaveAscii(r, 10, path("s.i"), path("s.q")), ST_OK);
    const QByteArray header = "$SIGNAL_FILE 9\n$USER_COMMENT\n\n$COMMON_INFO\nSPW Version 3.0\n\n"
                              "Sampling Frequency = 1e+06\nStarting Time = 0.0\n$DATA_INFO\n"
                              "Number of Points = 3\nSignal Type = Double\n$DATA\n";
    QCOMPARE(readFile(path("s.i")),
             header + "1.0000000e+00\n-1.2345679e-01\n2.9999999e-05\nEND\n");
    QCOMPARE(readFile(path("s.q")),
             header + "-2.0000000e+00\n5.0000000e-01\n1.2345670e+05\nEND\n");

    IQDatStr back;
    QCOMPARE(load(&back, rowOf("SPW ASCII single"), path("s.i"), path("s.q")), ST_OK);
    QCOMPARE(back.N, uint64_t(3));
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(back.I[k], throughText(vi[size_t(k)]));
        QCOMPARE(back.Q[k], throughText(vq[size_t(k)]));
        QVERIFY(std::fabs(back.I[k] - vi[size_t(k)]) <= 1e-7 * std::fabs(vi[size_t(k)]));
    }
    FreeArr(&back);

    // The mixed SPW type names its pairs, the clock follows 'g' with 6 digits.
    r.Clock = 32e6;
    QCOMPARE(SaveAscii(r, 11, path("s.asc"), QString()), ST_OK);
    const QList<QByteArray> lines = readFile(path("s.asc")).split('\n');
    QCOMPARE(lines[6], QByteArray("Sampling Frequency = 3.2e+07"));
    QCOMPARE(lines[10], QByteArray("Signal Type = Real_Imag"));
    QCOMPARE(lines[12], QByteArray("1.0000000e+00 -2.0000000e+00"));
    r.Clock = 100;
    QCOMPARE(SaveAscii(r, 13, path("a.i"), path("a.q")), ST_OK);
    QCOMPARE(readFile(path("a.q")).split('\n')[6], QByteArray("Sampling Frequency = 100"));
    FreeArr(&r);
}

void TstText::dadispHeaders()
{
    text::SetNow(QDateTime(QDate(2024, 3, 9), QTime(7, 5, 3)));
    IQDatStr r = recOf({0.5f}, {-1.0f}, 1e6);
    QCOMPARE(SaveAscii(r, 6, path("d.i"), path("d.q")), ST_OK);
    const QByteArray tail = "VERT_UNITS volt\nHORZ_UNITS sec\nCOMMENT\nDATA\n";
    QCOMPARE(readFile(path("d.i")),
             "DATASET i\nVERSION NEXT\nNUM SIGS 1\nSTORAGE MODE INTERLACED\nSIGNAL i\n"
             "DATE 2024-03-09\nTIME 07:05:03\nINTERVAL 1e-06\n" + tail + "5.0000000e-01\n");
    QCOMPARE(readFile(path("d.q")),
             "DATASET q\nVERSION NEXT\nNUM SIGS 1\nSTORAGE MODE INTERLACED\nSIGNAL q\n"
             "DATE 2024-03-09\nTIME 07:05:03\nINTERVAL 1e-06\n" + tail + "-1.0000000e+00\n");

    text::SetNow(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59)));
    r.Clock = 3e6;
    QCOMPARE(SaveAscii(r, 7, path("d.dsp"), QString()), ST_OK);
    QCOMPARE(readFile(path("d.dsp")),
             "DATASET i_q\nVERSION NEXT\nNUM SIGS 2\nSTORAGE MODE INTERLACED\nSIGNAL i, q\n"
             "DATE 2024-12-31\nTIME 23:59:59\n INTERVAL 3.33333e-07\n" + tail
                 + "5.0000000e-01 -1.0000000e+00\n");
    r.Clock = 1e6;
    QCOMPARE(SaveAscii(r, 7, path("d.dsp"), QString()), ST_OK);
    QCOMPARE(readFile(path("d.dsp")).split('\n')[7], QByteArray(" INTERVAL 1e-06"));
    FreeArr(&r);

    // The reader drops the 12 header lines through "DATA".
    IQDatStr back;
    QCOMPARE(load(&back, rowOf("DaDisp mixed"), path("d.dsp")), ST_OK);
    QCOMPARE(back.N, uint64_t(1));
    QCOMPARE(back.I[0], 0.5f);
    QCOMPARE(back.Q[0], -1.0f);
    FreeArr(&back);
}

void TstText::trailerOnlyAtEnd()
{
    IQDatStr r = recOf({1, 2, 3}, {4, 5, 6});
    for (int32_t code : kWritten) {
        const QString q = tl[code == 13 ? 13 : code].Files == 2 ? path("t.q") : QString();
        QCOMPARE(SaveAscii(r, code, path("t.i"), q), ST_OK);
        for (const QString& f : {path("t.i"), q}) {
            if (f.isEmpty())
                continue;
            const QByteArray b = readFile(f);
            QVERIFY(b.endsWith('\n'));
            QVERIFY2(!b.contains('\r'), qPrintable(show(b)));
            const bool spw = code == 10 || code == 11 || code == 13;
            QCOMPARE(b.endsWith("\nEND\n"), spw);
            QCOMPARE(b.count("END"), spw ? 1 : 0);
        }
    }
    FreeArr(&r);

    // "END" as the last line is a trailer; anywhere else it is a value (0.0).
    writeFile(path("e.i"), "$DATA\n1\nEND\n2\nEND\n");
    writeFile(path("e.q"), "$DATA\n3\n4\n5\nEND");
    IQDatStr back;
    QCOMPARE(load(&back, rowOf("SPW ASCII single"), path("e.i"), path("e.q")), ST_OK);
    QCOMPARE(back.N, uint64_t(3));
    QCOMPARE(back.I[1], 0.0f);
    QCOMPARE(back.I[2], 2.0f);
    QCOMPARE(back.Q[2], 5.0f);
    FreeArr(&back);
}

void TstText::headerFilterOnLists()
{
    struct Case {
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
    for (Case& c : cases) {
        filterHdr(c.code, &c.in);
        QCOMPARE(c.in, c.out);
    }
}

void TstText::noMarkerReadsAllLines()
{
    // A headered type without its marker line: every line is data.
    writeFile(path("n.dsp"), "1 2\n3 4\nEND\n");
    IQDatStr r;
    QCOMPARE(load(&r, rowOf("DaDisp mixed"), path("n.dsp")), ST_OK);
    QCOMPARE(r.N, uint64_t(2));
    QCOMPARE(r.Q[1], 4.0f);
    FreeArr(&r);
}

void TstText::splitRules()
{
    struct Case {
        const char* line;
        float i, q;
    } cases[] = {
        {"1.5  2.5", 1.5f, 0.0f},      // two blanks enclose an empty part
        {" 1.5 2.5", 0.0f, 1.5f},      // a leading blank gives an empty I
        {"1.5\t2.5", 0.0f, 0.0f},      // a tab is no separator
        {"1.5 2.5 9", 1.5f, 2.5f},     // parts beyond the second are ignored
        {"7", 7.0f, 0.0f},             // missing Q part
        {"", 0.0f, 0.0f},              // empty line
        {"1 2\r", 1.0f, 2.0f},         // CR LF line end
        {"-1e3 +2E-2", -1000.0f, 0.02f},
        {"x 3", 0.0f, 3.0f},
    };
    QByteArray file;
    for (const Case& c : cases)
        file += QByteArray(c.line) + '\n';
    writeFile(path("split.asc"), file);
    IQDatStr r;
    QCOMPARE(load(&r, rowOf("Matlab ASCII mixed"), path("split.asc")), ST_OK);
    QCOMPARE(r.N, uint64_t(std::size(cases)));
    for (size_t k = 0; k < std::size(cases); ++k) {
        QVERIFY2(sameFloat(r.I[k], cases[k].i), cases[k].line);
        QVERIFY2(sameFloat(r.Q[k], cases[k].q), cases[k].line);
    }
    FreeArr(&r);
}

void TstText::adsTimeDomain()
{
    writeFile(path("t.i"), "ADS export\nfreq 1\n% t v\n0.000001\t0.75\n  2e-6   -0.5  x\n3e-6\n\n");
    writeFile(path("t.q"), "% t v\r\n1e-6 1\r\n2e-6 2\r\n3e-6 3\r\n4e-6 4\r\n5e-6 5\r\n");
    IQDatStr r;
    QCOMPARE(load(&r, rowOf("ADS ASCII  TIMe dom. sgl"), path("t.i"), path("t.q")), ST_OK);
    QCOMPARE(r.N, uint64_t(4));
    QCOMPARE(r.I[0], 0.75f);
    QCOMPARE(r.I[1], -0.5f);
    QCOMPARE(r.I[2], 0.0f);   // one column only
    QCOMPARE(r.I[3], 0.0f);   // empty line
    QCOMPARE(r.Q[3], 4.0f);
    FreeArr(&r);

    // UInt16 files are one value per line without a header.
    writeFile(path("u.i"), "65535\n0\n");
    writeFile(path("u.q"), "1\n2\n");
    QCOMPARE(load(&r, rowOf("UInt16"), path("u.i"), path("u.q")), ST_OK);
    QCOMPARE(r.N, uint64_t(2));
    QCOMPARE(r.I[0], 65535.0f);
    QCOMPARE(r.Q[1], 2.0f);
    FreeArr(&r);
}

void TstText::twoFileLengthMismatch()
{
    QByteArray ten, eight;
    for (int k = 0; k < 10; ++k)
        ten += QByteArray::number(k) + '\n';
    for (int k = 0; k < 8; ++k)
        eight += QByteArray::number(-k) + '\n';
    for (auto [a, b] : {std::pair{ten, eight}, std::pair{eight, ten}}) {
        writeFile(path("l.i"), a);
        writeFile(path("l.q"), b);
        IQDatStr r;
        QCOMPARE(load(&r, rowOf("Matlab ASCII single"), path("l.i"), path("l.q")), ST_OK);
        QCOMPARE(r.N, uint64_t(8));
        QCOMPARE(std::fabs(r.I[7]), 7.0f);
        FreeArr(&r);
    }
}

void TstText::noLineFeed()
{
    struct Case {
        QByteArray bytes;
        std::vector<float> i, q;
    } cases[] = {
        {"1 2 3 4 5", {1, 3}, {2, 4}},
        {"1 2 3 4\n", {1, 3}, {2, 4}},
        {"1 2\n3 4", {1}, {0}},                       // "2\n3" is not a number
        {"1 2 3 ", {1, 3}, {2, 0}},                   // the empty part after the last blank
        {QByteArray("1 2 3 4", 7).replace(3, 1, "\0", 1), {1}, {2}},  // text ends at NUL
        {"\xef\xbb\xbf" "5 6", {5}, {6}},
        {"", {}, {}},
        {"7", {}, {}},
    };
    for (const Case& c : cases) {
        writeFile(path("nolf.asc"), c.bytes);
        IQDatStr r;
        QCOMPARE(load(&r, rowOf("ASCII mixed no LF"), path("nolf.asc")), ST_OK);
        QCOMPARE(r.N, uint64_t(c.i.size()));
        for (size_t k = 0; k < c.i.size(); ++k) {
            QCOMPARE(r.I[k], c.i[k]);
            QCOMPARE(r.Q[k], c.q[k]);
        }
        FreeArr(&r);
    }

    // One line far longer than a read chunk.
    QByteArray big;
    for (int k = 0; k < 600000; ++k)
        big += QByteArray::number(k % 1000) + ' ';
    writeFile(path("nolf.asc"), big);
    IQDatStr r;
    QCOMPARE(load(&r, rowOf("ASCII mixed no LF"), path("nolf.asc")), ST_OK);
    QCOMPARE(r.N, uint64_t(300000));
    QCOMPARE(r.I[299999], float(599998 % 1000));
    QCOMPARE(r.Q[299999], float(599999 % 1000));
    FreeArr(&r);
}

void TstText::roundTripEveryTextRow_data()
{
    QTest::addColumn<int>("row");
    for (int32_t code : kWritten)
        QTest::newRow(qPrintable(tl[code].Name)) << int(code);
}

void TstText::roundTripEveryTextRow()
{
    QFETCH(int, row);
    QCOMPARE(tl[row].Code, row);
    QCOMPARE(ts[row].Code, row);
    IQDatStr r = makeRec(1000, uint32_t(row));
    r.I[0] = 0.0f;
    r.Q[0] = -0.0f;
    r.I[1] = 3.4028235e38f;
    r.Q[1] = 1.4e-45f;
    r.I[2] = -1.17549435e-38f;
    const bool two = tl[row].Files == 2;
    const QString fi = path("rt.i"), fq = two ? path("rt.q") : QString();
    QCOMPARE(SaveAscii(r, row, fi, fq), ST_OK);
    IQDatStr back;
    QCOMPARE(load(&back, row, fi, fq), ST_OK);
    QCOMPARE(back.N, r.N);
    for (uint64_t k = 0; k < r.N; ++k) {
        QVERIFY(sameFloat(back.I[k], throughText(r.I[k])));
        QVERIFY(sameFloat(back.Q[k], throughText(r.Q[k])));
    }
    FreeArr(&back);
    FreeArr(&r);
}

void TstText::roundTripAcrossBoundaries_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("n");
    // Cancel cadence and the 4 MB read chunk (about 140000 mixed lines).
    for (int n : {0, 1, 24999, 25000, 25001, 150000}) {
        QTest::addRow("mixed %d", n) << 1 << n;
        QTest::addRow("SPW single %d", n) << 10 << n;
    }
}

void TstText::roundTripAcrossBoundaries()
{
    QFETCH(int, row);
    QFETCH(int, n);
    IQDatStr r = makeRec(uint64_t(n), 7);
    const QString fq = tl[row].Files == 2 ? path("b.q") : QString();
    QCOMPARE(SaveAscii(r, row, path("b.i"), fq), ST_OK);
    IQDatStr back;
    QCOMPARE(load(&back, row, path("b.i"), fq), ST_OK);
    QCOMPARE(back.N, uint64_t(n));
    bool same = true;
    for (int k = 0; k < n; ++k)
        same = same && back.I[k] == throughText(r.I[k]) && back.Q[k] == throughText(r.Q[k]);
    QVERIFY(same);
    FreeArr(&back);
    FreeArr(&r);
}

void TstText::appendThroughDispatcher()
{
    const int row = rowOf("Matlab ASCII single");
    for (int guard : {0, 2, 5}) {
        IQDatStr old = recOf({1, 2, 3, 4, 5}, {-1, -2, -3, -4, -5});
        QCOMPARE(SaveAscii(old, 0, path("ap.i"), path("ap.q")), ST_OK);
        FreeArr(&old);

        IQDatStr dat = recOf({10, 11, 12}, {-10, -11, -12});
        IQDatStr dst, sav;
        sav.Typ = row;
        sav.FileI = dst.FileI = path("ap.i");
        sav.FileQ = dst.FileQ = path("ap.q");
        bool result = false;
        QCOMPARE(SaveDatFile(&dat, &dst, &sav, AnaStr(), true, guard, &result), ST_OK);
        FreeArr(&dat);

        IQDatStr back;
        QCOMPARE(load(&back, row, path("ap.i"), path("ap.q")), ST_OK);
        const int g = std::min(guard, 3);
        std::vector<float> want{1, 2, 3, 4, 5};
        for (int k = 3 - g; k < 3; ++k)
            want.push_back(float(10 + k));
        for (float v : {10.0f, 11.0f, 12.0f})
            want.push_back(v);
        QCOMPARE(back.N, uint64_t(want.size()));
        for (size_t k = 0; k < want.size(); ++k) {
            QCOMPARE(back.I[k], want[k]);
            QCOMPARE(back.Q[k], -want[k]);
        }
        FreeArr(&back);
    }

    // No destination yet: the read-back fails and nothing is written.
    IQDatStr dat = recOf({1}, {2});
    IQDatStr dst, sav;
    sav.Typ = rowOf("SPW ASCII mixed");
    sav.FileI = dst.FileI = path("missing.asc");
    bool result = false;
    QCOMPARE(SaveDatFile(&dat, &dst, &sav, AnaStr(), true, 0, &result), ST_FILE1);
    QVERIFY(!QFile::exists(path("missing.asc")));
    FreeArr(&dat);
}

void TstText::writerFailuresKeepOldFiles()
{
    IQDatStr r = recOf({1, 2}, {3, 4});
    writeFile(path("keep.i"), "old I\n");
    writeFile(path("keep.q"), "old Q\n");
    const QString noDir = path("no/such/dir/x.q");
    QCOMPARE(SaveAscii(r, 0, noDir, path("keep.q")), ST_FILE1);
    QCOMPARE(SaveAscii(r, 0, path("keep.i"), noDir), ST_FILE2);
    QCOMPARE(SaveAscii(r, 1, noDir, QString()), ST_FILE1);
    QCOMPARE(readFile(path("keep.i")), QByteArray("old I\n"));
    QCOMPARE(readFile(path("keep.q")), QByteArray("old Q\n"));
    FreeArr(&r);
}

void TstText::cancelLeavesNothing()
{
    IQDatStr r = makeRec(30000);
    writeFile(path("c.asc"), "old\n");
    EscFlg = 1;
    QCOMPARE(SaveAscii(r, 1, path("c.asc"), QString()), ST_CANCEL);
    QCOMPARE(EscFlg, (signed char)0);
    QCOMPARE(readFile(path("c.asc")), QByteArray("old\n"));

    QCOMPARE(SaveAscii(r, 1, path("c.asc"), QString()), ST_OK);
    FreeArr(&r);
    EscFlg = 1;
    IQDatStr back;
    QCOMPARE(load(&back, rowOf("Matlab ASCII mixed"), path("c.asc")), ST_CANCEL);
    QCOMPARE(EscFlg, (signed char)0);
    QVERIFY(!back.I && !back.Q);
    QCOMPARE(back.N, uint64_t(0));
}

void TstText::hostileFilesMatchReference()
{
    std::mt19937 g(2024);
    const char* const rows[] = {"Matlab ASCII mixed", "Matlab ASCII single", "DaDisp mixed",
                                "SPW ASCII single", "SPW ASCII mixed", "ADS ASCII  TIMe dom. sgl", "UInt16"};
    int checked = 0;
    for (int round = 0; round < 150; ++round) {
        for (const char* name : rows) {
            const int row = rowOf(name);
            const int32_t code = tl[row].Code;
            const bool two = tl[row].Files == 2;
            const QByteArray a = hostileText(g, round % 7 == 0), b = hostileText(g, round % 5 == 0);
            freshFile(path("h.i"), a);
            freshFile(path("h.q"), b);
            const QString fq = two ? path("h.q") : QString();
            const Ref want = refLoad(code, path("h.i"), fq);
            IQDatStr r;
            QCOMPARE(load(&r, row, path("h.i"), fq), ST_OK);
            QVERIFY2(r.N == want.i.size(), qPrintable(QStringLiteral("code %1: %2 | %3").arg(code).arg(show(a), show(b))));
            for (size_t k = 0; k < r.N; ++k)
                QVERIFY2(sameFloat(r.I[k], want.i[k]) && sameFloat(r.Q[k], want.q[k]),
                         qPrintable(QStringLiteral("code %1 sample %2: %3 | %4").arg(code).arg(k).arg(show(a), show(b))));
            FreeArr(&r);
            ++checked;
        }
        const QByteArray c = hostileText(g, round % 3 == 0);
        freshFile(path("h.asc"), c);
        const Ref want = refNoLF(path("h.asc"));
        IQDatStr r;
        QCOMPARE(load(&r, rowOf("ASCII mixed no LF"), path("h.asc")), ST_OK);
        QVERIFY2(r.N == want.i.size(), qPrintable(show(c)));
        for (size_t k = 0; k < r.N; ++k)
            QVERIFY2(sameFloat(r.I[k], want.i[k]) && sameFloat(r.Q[k], want.q[k]), qPrintable(show(c)));
        FreeArr(&r);
    }
    QVERIFY(checked > 0);

    // Files with a UTF-16 byte-order mark are decoded as a text stream does.
    QByteArray wide("\xff\xfe", 2);
    for (char ch : QByteArray("$DATA\r\n1.5\n-2\nEND\n"))
        wide += QByteArray(1, ch) + QByteArray(1, '\0');
    freshFile(path("w.i"), wide);
    freshFile(path("w.q"), "$DATA\n3\n4\n");
    IQDatStr r;
    QCOMPARE(load(&r, rowOf("SPW ASCII single"), path("w.i"), path("w.q")), ST_OK);
    QCOMPARE(r.N, uint64_t(2));
    QCOMPARE(r.I[0], 1.5f);
    QCOMPARE(r.I[1], -2.0f);
    FreeArr(&r);
}

void TstText::unreadableInputs()
{
    writeFile(path("ok.i"), "1\n");
    IQDatStr r;
    QCOMPARE(load(&r, rowOf("Matlab ASCII single"), path("none.i"), path("ok.i")), ST_FILE1);
    QCOMPARE(load(&r, rowOf("Matlab ASCII single"), path("ok.i"), path("none.q")), ST_FILE2);
    QVERIFY(!r.I && !r.Q);
    QVERIFY(load(&r, rowOf("Matlab ASCII mixed"), dir.path()) != ST_OK);
    QCOMPARE(load(&r, rowOf("ASCII mixed no LF"), path("none.asc")), ST_FILE1);
    QVERIFY(load(&r, rowOf("ASCII mixed no LF"), dir.path()) != ST_OK);
    QVERIFY(!r.I && !r.Q);

    // Binary garbage and a truncated file read as values or zeros, never
    // beyond what the file holds.
    QByteArray junk;
    std::mt19937 g(5);
    for (int k = 0; k < 100000; ++k)
        junk += char(g());
    writeFile(path("junk"), junk);
    const uint64_t lines = uint64_t(junk.count('\n')) + (junk.endsWith('\n') ? 0 : 1);
    for (const char* name : {"Matlab ASCII mixed", "DaDisp single", "ADS ASCII  TIMe dom. sgl"}) {
        const int row = rowOf(name);
        QCOMPARE(load(&r, row, path("junk"), tl[row].Files == 2 ? path("junk") : QString()), ST_OK);
        QCOMPARE(r.N, lines);
        FreeArr(&r);
    }
    QCOMPARE(load(&r, rowOf("ASCII mixed no LF"), path("junk")), ST_OK);
    QVERIFY(r.N <= uint64_t(junk.size()) / 2);
    FreeArr(&r);
    writeFile(path("cut.asc"), "1.0000000e+00 -5.00");
    QCOMPARE(load(&r, rowOf("Matlab ASCII mixed"), path("cut.asc")), ST_OK);
    QCOMPARE(r.N, uint64_t(1));
    QCOMPARE(r.Q[0], -5.0f);
    FreeArr(&r);
}

void TstText::parserMatchesQt()
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
    for (int k = 0; k < 100000; ++k) {
        std::string s;
        const int len = int(g() % 14);
        for (int c = 0; c < len; ++c)
            s += alphabet[g() % (sizeof alphabet - 1)];
        inputs.push_back(s);
    }
    // Well-formed numbers of every shape and size, where the fast path runs.
    for (int k = 0; k < 100000; ++k) {
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

void TstText::formatterMatchesPrintf()
{
    std::vector<float> values = {0.0f, -0.0f, 1.0f, -0.5f, 0.25f, 2.0f, 1e-45f, -1e-45f,
                                 1.17549435e-38f, 3.4028235e38f, -3.4028235e38f, 9.9999999e7f,
                                 1e8f, 99999995.0f, 9999999.5f, 1234567.25f, 1234567.75f,
                                 0.1f, 1e10f, 1e-10f, std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN(),
                                 -std::numeric_limits<float>::quiet_NaN()};
    std::mt19937 g(7);
    for (int k = 0; k < 1000000; ++k) {
        uint32_t bits = g();
        float f;
        std::memcpy(&f, &bits, 4);
        values.push_back(f);
    }
    // Exact ties at the eighth digit and values at decade boundaries.
    for (int k = 0; k < 200000; ++k) {
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

QTEST_GUILESS_MAIN(TstText)
#include "tst_text.moc"
