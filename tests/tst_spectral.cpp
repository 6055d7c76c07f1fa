// The transform, the polar conversion and the time windows.
#include "graph/spectral.h"

#include <QtTest>
#include <cmath>
#include <complex>
#include <random>

namespace {

using cd = std::complex<double>;

void fill(QVector<double>& re, QVector<double>& im, unsigned n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    re.resize(int(n));
    im.resize(int(n));
    for (unsigned k = 0; k < n; ++k) {
        re[int(k)] = u(gen);
        im[int(k)] = u(gen);
    }
}

// The reference transform, 1/sqrt(n) * sum x[i] e^(+j 2 pi k i / n), bin by
// bin from a table of e^(+j 2 pi t / n) with one sine and cosine per entry;
// k*i is reduced modulo n (a power of two) so every angle is exact.
struct Direct {
    unsigned n;
    std::vector<double> c, s;
    explicit Direct(unsigned len) : n(len), c(len), s(len)
    {
        for (unsigned t = 0; t < n; ++t) {
            const double a = 2 * pi * t / n;
            c[t] = std::cos(a);
            s[t] = std::sin(a);
        }
    }
    cd bin(const QVector<double>& re, const QVector<double>& im, unsigned k) const
    {
        const double* r = re.constData();
        const double* q = im.constData();
        double sr = 0, si = 0;
        // t = k*i mod n, stepped rather than multiplied.
        for (unsigned i = 0, t = 0; i < n; ++i, t = (t + k) & (n - 1)) {
            sr += r[i] * c[t] - q[i] * s[t];
            si += r[i] * s[t] + q[i] * c[t];
        }
        const double sc = 1 / std::sqrt(double(n));
        return cd(sr * sc, si * sc);
    }
};

} // namespace

class TstSpectral : public QObject {
    Q_OBJECT
private slots:
    void piConstant();
    void onePointAndRefusedLengths();
    void constant_data();
    void constant();
    void exponentialLandsInBinNMinusF_data();
    void exponentialLandsInBinNMinusF();
    void agreesWithDirectTransform_data();
    void agreesWithDirectTransform();
    void polar();
    void hann();
    void hamming();
    void cnvWinSelectsByType_data();
    void cnvWinSelectsByType();
};

void TstSpectral::piConstant()
{
    QCOMPARE(pi, 3.141592653589793);
}

void TstSpectral::onePointAndRefusedLengths()
{
    QVector<double> re{2.5, 7}, im{-1.25, 3};
    IQSignal::fft(&re, &im, 1);
    QCOMPARE(re, (QVector<double>{2.5, 7}));
    QCOMPARE(im, (QVector<double>{-1.25, 3}));
    // Not a power of two, zero, or longer than the vectors: nothing changes.
    QVector<double> r3{1, 2, 3}, i3{0, 0, 0};
    for (unsigned n : {0u, 3u, 4u}) {
        IQSignal::fft(&r3, &i3, n);
        QCOMPARE(r3, (QVector<double>{1, 2, 3}));
        QCOMPARE(i3, (QVector<double>{0, 0, 0}));
    }
}

void TstSpectral::constant_data()
{
    QTest::addColumn<unsigned>("n");
    // Around the size where the wide stages hand over to the blocked ones.
    for (unsigned n : {2u, 4u, 8u, 1024u, 2048u, 4096u, 8192u, 16384u, 65536u})
        QTest::newRow(qPrintable(QString::number(n))) << n;
}

void TstSpectral::constant()
{
    QFETCH(unsigned, n);
    const cd c(0.75, -2);
    QVector<double> re(int(n), c.real()), im(int(n), c.imag());
    IQSignal::fft(&re, &im, n);
    const double rn = std::sqrt(double(n));
    QVERIFY(std::abs(cd(re[0], im[0]) - c * rn) < 1e-12 * rn);
    double worst = 0;
    for (unsigned k = 1; k < n; ++k)
        worst = std::max(worst, std::abs(cd(re[int(k)], im[int(k)])));
    QVERIFY2(worst < 1e-12 * rn, qPrintable(QString::number(worst)));
}

void TstSpectral::exponentialLandsInBinNMinusF_data()
{
    QTest::addColumn<unsigned>("n");
    QTest::addColumn<unsigned>("f");
    QTest::newRow("2/1") << 2u << 1u;
    QTest::newRow("8/0") << 8u << 0u;
    QTest::newRow("8/3") << 8u << 3u;
    QTest::newRow("1024/1") << 1024u << 1u;
    QTest::newRow("4096/4095") << 4096u << 4095u;
    QTest::newRow("8192/100") << 8192u << 100u;
    QTest::newRow("32768/16384") << 32768u << 16384u;
    QTest::newRow("131072/12345") << 131072u << 12345u;
}

void TstSpectral::exponentialLandsInBinNMinusF()
{
    QFETCH(unsigned, n);
    QFETCH(unsigned, f);
    QVector<double> re(static_cast<int>(n)), im(static_cast<int>(n));
    for (unsigned i = 0; i < n; ++i) {
        const double a = 2 * pi * double((uint64_t(f) * i) % n) / n;
        re[int(i)] = std::cos(a);
        im[int(i)] = std::sin(a);
    }
    IQSignal::fft(&re, &im, n);
    const unsigned bin = (n - f) % n;
    const double rn = std::sqrt(double(n));
    for (unsigned k = 0; k < n; ++k) {
        const double want = k == bin ? rn : 0;
        const double got = std::abs(cd(re[int(k)], im[int(k)]));
        if (std::fabs(got - want) > 1e-10 * rn)
            QFAIL(qPrintable(QStringLiteral("bin %1: %2, expected %3").arg(k).arg(got).arg(want)));
    }
}

void TstSpectral::agreesWithDirectTransform_data()
{
    QTest::addColumn<unsigned>("n");
    QTest::addColumn<unsigned>("checked");   // bins compared; all when n is small
    for (unsigned n : {2u, 4u, 16u, 32u, 256u, 2048u})
        QTest::newRow(qPrintable(QString::number(n))) << n << n;
    for (unsigned n : {4096u, 8192u, 32768u, 262144u})
        QTest::newRow(qPrintable(QString::number(n))) << n << 16u;
    QTest::newRow("1048576") << 1048576u << 6u;
}

void TstSpectral::agreesWithDirectTransform()
{
    QFETCH(unsigned, n);
    QFETCH(unsigned, checked);
    QVector<double> re, im;
    fill(re, im, n, n);
    const QVector<double> r0 = re, i0 = im;
    IQSignal::fft(&re, &im, n);
    const Direct ref(n);
    std::mt19937 gen(3);
    double err = 0, big = 0;
    for (unsigned c = 0; c < checked; ++c) {
        // Spot checks include both ends and the middle, where the reordering
        // is most likely to go wrong.
        unsigned k = checked == n ? c : c == 0 ? 0 : c == 1 ? n - 1 : c == 2 ? n / 2 : gen() % n;
        const cd want = ref.bin(r0, i0, k);
        err = std::max(err, std::abs(cd(re[int(k)], im[int(k)]) - want));
        big = std::max(big, std::abs(want));
    }
    QVERIFY2(err <= 1e-9 * big, qPrintable(QStringLiteral("%1 vs %2").arg(err).arg(big)));
}

void TstSpectral::polar()
{
    struct Row { double re, im, mag, deg; };
    // The angle keeps its quadrant, and 0+0j has phase 0 rather than NaN.
    const Row rows[] = {
        {0, 1, 1, 90},     {-1, 0, 1, 180},          {1, 0, 1, 0},
        {0, -2, 2, -90},   {1, 1, std::sqrt(2.0), 45}, {-1, -1, std::sqrt(2.0), -135},
        {-3, 4, 5, 180 - std::atan(4.0 / 3) * 180 / pi}, {0, 0, 0, 0}, {-0.0, -0.0, 0, 0},
        {-2, -0.0, 2, 180},
    };
    QVector<double> re, im;
    for (const Row& r : rows) {
        double m = -1, p = -1;
        ToPolarSgl(r.re, r.im, &m, &p);
        QVERIFY(std::fabs(m - r.mag) < 1e-12);
        QVERIFY2(std::fabs(p - r.deg) < 1e-9, qPrintable(QString::number(p)));
        re << r.re;
        im << r.im;
    }
    const int n = re.size();
    std::vector<double> mag(size_t(n) + 1, -7), ph(size_t(n) + 1, -7);
    ToPolarArr(re, im, 0, mag.data(), ph.data());
    QCOMPARE(mag[0], -7.0);
    ToPolarArr(re, im, n, mag.data(), ph.data());
    for (int k = 0; k < n; ++k) {
        QVERIFY(std::fabs(mag[size_t(k)] - rows[k].mag) < 1e-12);
        QVERIFY(std::fabs(ph[size_t(k)] - rows[k].deg) < 1e-9);
    }
    QCOMPARE(mag[size_t(n)], -7.0);   // nothing written past n
    // A count beyond the vectors stops at their end; one output may be left out.
    std::fill(ph.begin(), ph.end(), -7);
    ToPolarArr(re, im, n + 100, nullptr, ph.data());
    QCOMPARE(ph[size_t(n)], -7.0);
    QCOMPARE(ph[1], 180.0);
}

void TstSpectral::hann()
{
    float w[5] = {9, 9, 9, 9, 9};
    HanWin(w, 4, 1);
    QCOMPARE(w[0], 0.0f);
    QCOMPARE(w[1], 0.5f);
    QCOMPARE(w[2], 1.0f);
    QCOMPARE(w[3], 0.5f);
    QCOMPARE(w[4], 9.0f);
    // Symmetric form without zero ends.
    HanWin(w, 3, 0);
    QCOMPARE(w[0], 0.5f);
    QCOMPARE(w[1], 1.0f);
    QCOMPARE(w[2], 0.5f);
    // Periodic, so the point after the last would be 0 again: w[i] = w[n-i].
    std::vector<float> v(1000);
    HanWin(v.data(), 1000, 1);
    for (int i = 1; i < 1000; ++i)
        QCOMPARE(v[size_t(i)], v[size_t(1000 - i)]);
    QCOMPARE(v[500], 1.0f);
    // One point keeps the sample.
    w[0] = 9;
    HanWin(w, 1, 1);
    QCOMPARE(w[0], 1.0f);
    HanWin(w, 0, 1);
    QCOMPARE(w[0], 1.0f);
}

void TstSpectral::hamming()
{
    for (unsigned long n : {2ul, 3ul, 10ul, 1001ul}) {
        std::vector<float> x(n + 1, 2.0f);
        HamWin(x.data(), n);
        QVERIFY(std::fabs(x[0] - 0.16f) < 1e-6f);
        QVERIFY(std::fabs(x[n - 1] - 0.16f) < 1e-6f);
        if (n % 2)
            QVERIFY(std::fabs(x[n / 2] - 2.0f) < 1e-6f);
        QCOMPARE(x[n], 2.0f);
    }
    // One sample would divide by zero: it is left as it is.
    float one = 3;
    HamWin(&one, 1);
    QCOMPARE(one, 3.0f);
}

void TstSpectral::cnvWinSelectsByType_data()
{
    QTest::addColumn<int>("typ");
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("n");
    for (int typ : {0, 1, 2, 3, 4, 24})
        for (int which : {0, 1, 5})
            for (int n : {1, 2, 9, 64})
                QTest::newRow(qPrintable(QStringLiteral("typ%1 which%2 n%3").arg(typ).arg(which).arg(n)))
                    << typ << which << n;
}

void TstSpectral::cnvWinSelectsByType()
{
    QFETCH(int, typ);
    QFETCH(int, which);
    QFETCH(int, n);
    IQDatStr d;
    QCOMPARE(MakeIQArr(&d, uint64_t(n)), ST_OK);
    d.N = uint64_t(n);
    d.Typ = typ;
    for (int k = 0; k < n; ++k) {
        d.I[k] = 1.5f + k;
        d.Q[k] = -0.5f - k;
    }
    std::vector<float> wantI(d.I, d.I + n), wantQ(d.Q, d.Q + n);
    std::vector<float>& hit = which == 0 ? wantI : wantQ;
    if (typ == 2) {
        std::vector<float> w(static_cast<size_t>(n));
        HanWin(w.data(), (unsigned long)n, 1);
        for (int k = 0; k < n; ++k)
            hit[size_t(k)] *= w[size_t(k)];
    } else if (typ == 3) {
        HamWin(hit.data(), (unsigned long)n);
    }
    CnvWin(which, &d);
    for (int k = 0; k < n; ++k) {
        QCOMPARE(d.I[k], wantI[size_t(k)]);
        QCOMPARE(d.Q[k], wantQ[size_t(k)]);
    }
    FreeArr(&d);
    CnvWin(which, &d);   // no arrays: nothing to weight
}

QTEST_GUILESS_MAIN(TstSpectral)
#include "tst_spectral.moc"
