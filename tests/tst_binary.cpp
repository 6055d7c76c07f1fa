// Readers and writers of the simple binary types, checked against files
// built byte by byte here.
#include "formats/binary.h"
#include "formats/catalogue.h"
#include "formats/fileio.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

using namespace testutil;

namespace {

QByteArray le32(uint32_t v) { QByteArray b(4, 0); io::put32(reinterpret_cast<uint8_t*>(b.data()), v); return b; }
QByteArray le64(uint64_t v) { QByteArray b(8, 0); io::put64(reinterpret_cast<uint8_t*>(b.data()), v); return b; }
QByteArray f64(double v) { return le64(io::bits64(v)); }
QByteArray le16(int16_t v) { return QByteArray(1, char(v & 0xff)) + QByteArray(1, char(v >> 8 & 0xff)); }
QByteArray be(QByteArray b) { std::reverse(b.begin(), b.end()); return b; }

QByteArray awgFile(int32_t count, double scale, const QList<uint16_t>& raw)
{
    QByteArray h = be(le32(uint32_t(count))) + be(f64(scale)) + be(f64(1.0)) + be(f64(2.0));
    h.append(QByteArray(102 - h.size(), 0));
    for (uint16_t r : raw)
        h += char(r >> 8) + QByteArray(1, char(r & 0xff));
    return h;
}

QByteArray tdsFile(int32_t bytes, int8_t perPoint, int32_t first, double scale, double offset,
                   const QList<int16_t>& raw)
{
    QByteArray h(824, 0);
    h.replace(2, 8, ":WFM#001");
    h.replace(12, 4, le32(uint32_t(bytes)));
    h[16] = char(perPoint);
    h.replace(20, 4, le32(uint32_t(first)));
    h.replace(176, 8, f64(scale));
    h.replace(184, 8, f64(offset));
    if (first > h.size())
        h.append(QByteArray(first - h.size(), 0));
    else
        h.truncate(first);
    for (int16_t r : raw)
        h += le16(r);
    return h;
}

QByteArray timFile(uint32_t count, const QList<double>& values)
{
    QByteArray b = "header one\nBEGIN TIMEDATA points " + QByteArray::number(count) + "\nline three\nline four\n";
    for (int i = 0; i < values.size(); ++i)
        b += f64(i * 1e-6) + f64(values[i]);
    return b;
}

} // namespace

class TstBinary : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void iqwRoundTripAcrossChunks_data();
    void iqwRoundTripAcrossChunks();
    void iqwOddSizes();
    void ibnHeaderBytes();
    void spwRoundTrip();
    void spwHeaderParsing();
    void adsBinarySingle();
    void adsTimeDomainTakesSmallerCount();
    void awg2000();
    void tds5000();
    void handheldRecording();
};

void TstBinary::iqwRoundTripAcrossChunks_data()
{
    QTest::addColumn<int>("typ");
    QTest::addColumn<qulonglong>("n");
    // 250000 points per interleaved chunk, 500000 floats per block chunk.
    for (int typ : {18, 19})
        for (qulonglong n : {0ull, 1ull, 249999ull, 250000ull, 250001ull, 500001ull})
            QTest::addRow("%s n=%llu", typ == 18 ? "iqiq" : "block", n) << typ << n;
}

void TstBinary::iqwRoundTripAcrossChunks()
{
    QFETCH(int, typ);
    QFETCH(qulonglong, n);
    IQDatStr r = makeRec(n, uint32_t(n));
    // Include values that must survive bit for bit.
    if (n > 0) {
        r.I[0] = -0.0f;
        r.Q[0] = std::numeric_limits<float>::denorm_min();
    }
    const QString f = path("rt.iqw");
    QCOMPARE((typ == 18 ? SaveIQW : SaveIQWBlk)(r, f), ST_OK);
    QCOMPARE(QFileInfo(f).size(), qint64(n * 8));
    IQDatStr back;
    QCOMPARE(load(&back, typ, f), ST_OK);
    QCOMPARE(back.N, uint64_t(n));
    QVERIFY(std::memcmp(back.I, r.I, n * 4) == 0);
    QVERIFY(std::memcmp(back.Q, r.Q, n * 4) == 0);
    if (n > 1) {
        // The layout on disk: interleaved pairs, or all I values then all Q.
        QByteArray b = readFile(f);
        auto at = [&](int k) { return io::lef32(reinterpret_cast<const uint8_t*>(b.constData()) + 4 * k); };
        QCOMPARE(at(1), typ == 18 ? r.Q[0] : r.I[1]);
    }
    FreeArr(&r);
    FreeArr(&back);
}

void TstBinary::iqwOddSizes()
{
    QByteArray b(15, 0);
    io::putf32(reinterpret_cast<uint8_t*>(b.data()), 1.5f);
    io::putf32(reinterpret_cast<uint8_t*>(b.data()) + 4, -2.5f);
    QVERIFY(writeFile(path("15.iqw"), b));
    IQDatStr r;
    QCOMPARE(load(&r, 18, path("15.iqw")), ST_OK);
    QCOMPARE(r.N, uint64_t(1));
    QCOMPARE(r.I[0], 1.5f);
    QCOMPARE(r.Q[0], -2.5f);
    QVERIFY(writeFile(path("7.iqw"), QByteArray(7, 1)));
    QCOMPARE(load(&r, 18, path("7.iqw")), ST_OK);
    QCOMPARE(r.N, uint64_t(0));
    QCOMPARE(load(&r, 19, path("7.iqw")), ST_OK);
    QCOMPARE(r.N, uint64_t(0));
    FreeArr(&r);
}

void TstBinary::ibnHeaderBytes()
{
    IQDatStr r = makeRec(1000);
    r.Clock = 1e6;
    QCOMPARE(SaveIBN(r, path("a.ibn")), ST_OK);
    const QByteArray b = readFile(path("a.ibn"));
    QCOMPARE(b.size(), 40 + 8000);
    const QByteArray want = le32(40) + le32(1000) + QByteArray("H&V\0", 4);
    QCOMPARE(b.left(12), want);
    QCOMPARE(b.mid(16, 24), f64(1e6) + le32(1) + le32(1000) + f64(1e6));
    auto fl = [&](int off) { return io::lef32(reinterpret_cast<const uint8_t*>(b.constData()) + off); };
    QCOMPARE(fl(40), r.I[0]);
    QCOMPARE(fl(40 + 4 * 999), r.I[999]);
    QCOMPARE(fl(40 + 4000), r.Q[0]);
    IQDatStr back;
    QCOMPARE(load(&back, 23, path("a.ibn")), ST_REFUSED);
    QVERIFY(back.I == nullptr);
    FreeArr(&r);
}

void TstBinary::spwRoundTrip()
{
    IQDatStr r = makeRec(300001, 9);
    r.Clock = 1234567.891;
    QCOMPARE(SaveSPWBin(r, path("a.sig")), ST_OK);
    const QByteArray b = readFile(path("a.sig"));
    const QByteArray header =
        "$SIGNAL_FILE 9\n$USER_COMMENT\n\n$COMMON_INFO\n"
        "     SPW Version        = 4.70\nSystem Type        = solaris2\n"
        "     Sampling Frequency = 1234567.9\nStarting Time    = 0.0\n$DATA_INFO\n"
        "     Number of points   = 300001\nSignal Type          = Double\n"
        "     Complex Format     = Real_Imag\n$DATA BINARY\n";
    QCOMPARE(b.left(header.size()), header);
    QCOMPARE(b.size(), header.size() + 16 * 300001);
    IQDatStr back;
    QCOMPARE(load(&back, 12, path("a.sig")), ST_OK);
    QCOMPARE(back.N, r.N);
    QCOMPARE(back.Clock, 1234567.9);
    QVERIFY(std::memcmp(back.I, r.I, r.N * 4) == 0); // float -> double -> float is exact
    QVERIFY(std::memcmp(back.Q, r.Q, r.N * 4) == 0);
    FreeArr(&r);
    FreeArr(&back);
}

void TstBinary::spwHeaderParsing()
{
    IQDatStr r;
    // Only "key = value" splits count; other lines and unknown keys are ignored.
    QByteArray h = "$SIGNAL_FILE 9\n     Sampling Frequency = 2.5e6\nSignal Type = Double\n"
                   "no separator here\n     Number of points   = 2\n$DATA BINARY\n";
    QVERIFY(writeFile(path("h.sig"), h + f64(1) + f64(2) + f64(3) + f64(4)));
    QCOMPARE(load(&r, 12, path("h.sig")), ST_OK);
    QCOMPARE(r.Clock, 2.5e6);
    QCOMPARE(r.N, uint64_t(2));
    QCOMPARE(r.I[1], 3.0f);
    QCOMPARE(r.Q[1], 4.0f);
    // Without "Number o" nothing is loaded, successfully.
    QVERIFY(writeFile(path("n.sig"), "     Sampling Frequency = 1e3\n$DATA BINARY\n" + f64(1) + f64(2)));
    QCOMPARE(load(&r, 12, path("n.sig")), ST_OK);
    QCOMPARE(r.N, uint64_t(0));
    // A header that never reaches its marker fails with -1.
    QVERIFY(writeFile(path("m.sig"), "     Number of points   = 1\n$DATA\n" + f64(1) + f64(2)));
    QCOMPARE(load(&r, 12, path("m.sig")), ST_FILE1);
    // A line longer than the 99-byte line buffer is read in pieces, as before.
    QVERIFY(writeFile(path("l.sig"), QByteArray(150, 'x') + "\n     Number of points   = 1\n$DATA BINARY\n" + f64(5) + f64(6)));
    QCOMPARE(load(&r, 12, path("l.sig")), ST_OK);
    QCOMPARE(r.I[0], 5.0f);
    FreeArr(&r);
}

void TstBinary::adsBinarySingle()
{
    const QByteArray h = "$SIGNAL_FILE 9\n     Sampling Frequency = 1e6\n     Number of points   = 3\n$DATA\n";
    QVERIFY(writeFile(path("i.sig"), h + f64(1) + f64(2) + f64(3)));
    QVERIFY(writeFile(path("q.sig"), "$DATA\n" + f64(-1) + f64(-2) + f64(-3)));
    IQDatStr r;
    QCOMPARE(load(&r, 27, path("i.sig"), path("q.sig")), ST_OK);
    QCOMPARE(r.N, uint64_t(3));
    QCOMPARE(r.Clock, 1e6);
    QCOMPARE(r.I[2], 3.0f);
    QCOMPARE(r.Q[2], -3.0f);
    QCOMPARE(load(&r, 27, path("i.sig"), path("nope.sig")), ST_FILE2);
    // A Q file shorter than the I header announces is refused.
    QVERIFY(writeFile(path("q2.sig"), "$DATA\n" + f64(-1)));
    QCOMPARE(load(&r, 27, path("i.sig"), path("q2.sig")), ST_FILE2);
    QVERIFY(r.I == nullptr);
}

void TstBinary::adsTimeDomainTakesSmallerCount()
{
    QList<double> vi, vq;
    for (int k = 0; k < 100; ++k) { vi << k; vq << -k; }
    QVERIFY(writeFile(path("i.bintim"), timFile(100, vi)));
    QVERIFY(writeFile(path("q.bintim"), timFile(80, vq.mid(0, 80))));
    IQDatStr r;
    r.Clock = 77;
    QCOMPARE(load(&r, 26, path("i.bintim"), path("q.bintim")), ST_OK);
    QCOMPARE(r.N, uint64_t(80));
    QCOMPARE(r.I[79], 79.0f);
    QCOMPARE(r.Q[79], -79.0f);
    QCOMPARE(r.Clock, 77.0); // the type carries no clock
    FreeArr(&r);
}

void TstBinary::awg2000()
{
    QVERIFY(writeFile(path("i.wfm"), awgFile(3, 2.0, {0, 2048, 4096})));
    QVERIFY(writeFile(path("q.wfm"), awgFile(3, 1.0, {4096, 0, 1})));
    IQDatStr r;
    QCOMPARE(load(&r, 29, path("i.wfm"), path("q.wfm")), ST_OK);
    QCOMPARE(r.N, uint64_t(3));
    QCOMPARE(r.I[0], -0.5f);
    QCOMPARE(r.I[1], 0.5f);
    QCOMPARE(r.I[2], 1.5f);
    QCOMPARE(r.Q[0], 0.5f);
    QCOMPARE(r.Q[2], float(1.0 / 4096 - 0.5));
    QVERIFY(writeFile(path("q4.wfm"), awgFile(4, 1.0, {1, 2, 3, 4})));
    QCOMPARE(load(&r, 29, path("i.wfm"), path("q4.wfm")), ST_LENGTH);
    QVERIFY(r.I == nullptr && r.Q == nullptr);
}

void TstBinary::tds5000()
{
    // Count = (A + 7 - C) / B: (1000 + 7 - 1003) / 2 = 2.
    QVERIFY(writeFile(path("i.wfm"), tdsFile(1000, 2, 1003, 0.5, 1.0, {4, -4})));
    QVERIFY(writeFile(path("q.wfm"), tdsFile(1000, 2, 1003, 2.0, 0.0, {1, 3})));
    IQDatStr r;
    QCOMPARE(load(&r, 30, path("i.wfm"), path("q.wfm")), ST_OK);
    QCOMPARE(r.N, uint64_t(2));
    QCOMPARE(r.I[0], 3.0f);
    QCOMPARE(r.I[1], -1.0f);
    QCOMPARE(r.Q[1], 6.0f);
    // Zero bytes per point cannot give a count; a pair of different counts
    // is refused rather than read past the shorter array.
    QVERIFY(writeFile(path("z.wfm"), tdsFile(1000, 0, 1003, 1, 0, {1, 2})));
    QCOMPARE(load(&r, 30, path("z.wfm"), path("q.wfm")), ST_FILE1);
    QCOMPARE(load(&r, 30, path("i.wfm"), path("z.wfm")), ST_FILE2);
    QVERIFY(writeFile(path("q3.wfm"), tdsFile(1002, 2, 1003, 1, 0, {1, 2, 3})));
    QCOMPARE(load(&r, 30, path("i.wfm"), path("q3.wfm")), ST_LENGTH);
    QVERIFY(r.I == nullptr);
}

void TstBinary::handheldRecording()
{
    QByteArray h(84, 0);
    h.replace(32, 4, le32(2000000));
    h.replace(64, 8, le64(3));
    QVERIFY(writeFile(path("rec.dat"), h + le16(1000) + le16(-1) + le16(0) + le16(32767) + le16(-32768) + le16(5)));
    IQDatStr r;
    r.FileI = path("rec.dat");
    QCOMPARE(LoadYew(&r, 1), ST_OK);
    QCOMPARE(r.N, uint64_t(3));
    QCOMPARE(r.Clock, 2e6);
    QCOMPARE(r.I[0], 1000.0f);
    QCOMPARE(r.Q[0], -1.0f);
    QCOMPARE(r.I[2], -32768.0f);
    // The acquisition sets the count itself.
    r.N = 2;
    QCOMPARE(LoadYew(&r, 0), ST_OK);
    QCOMPARE(r.N, uint64_t(2));
    // Format code 33 reaches the same reader through the dispatcher's table.
    QCOMPARE(FmtOf(33)->load(&r), ST_OK);
    QCOMPARE(r.N, uint64_t(3));
    FreeArr(&r);
}

QTEST_GUILESS_MAIN(TstBinary)
#include "tst_binary.moc"
