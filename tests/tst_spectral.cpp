// The transform, the polar conversion and the time windows.
#include "graph/spectral.h"
#include "testutil.h"

#include <cmath>
#include <complex>

namespace {

using cd = std::complex<double>;

// The reference transform, 1/sqrt(n) * sum x[i] e^(+j 2 pi k i / n), bin by
// bin from a table of e^(+j 2 pi t / n) with one sine and cosine per entry;
// k*i is reduced modulo n (a power of two) so every angle is exact.
struct Direct {
    unsigned n;
    std::vector<double> c, s;
    explicit Direct(unsigned len) : n(len), c(len), s(len)
    {
        for (unsigned t = 0; t < n; ++t) {
            c[t] = std::cos(2 * pi * t / n);
            s[t] = std::sin(2 * pi * t / n);
        }
    }
    cd bin(const QVector<double>& re, const QVector<double>& im, unsigned k) const
    {
        double sr = 0, si = 0;
        // t = k*i mod n, stepped rather than multiplied.
        for (unsigned i = 0, t = 0; i < n; ++i, t = (t + k) & (n - 1)) {
            sr += re[int(i)] * c[t] - im[int(i)] * s[t];
            si += re[int(i)] * s[t] + im[int(i)] * c[t];
        }
        return cd(sr, si) / std::sqrt(double(n));
    }
};

} // namespace

class TstSpectral : public QObject {
    Q_OBJECT
private slots:
    void onePointAndRefusedLengths()
    {
        // One point is its own transform; a length that is not a power of
        // two, zero, or longer than the vectors changes nothing.
        const QVector<double> r0{1, 2, 3}, i0{0, -1.25, 0};
        for (unsigned n : {0u, 1u, 3u, 4u}) {
            QVector<double> re = r0, im = i0;
            IQSignal::fft(&re, &im, n);
            QVERIFY(re == r0 && im == i0);
        }
    }

    // e^(+j 2 pi f i / n) lands in bin n - f with magnitude sqrt(n), every
    // other bin empty; sizes on both sides of the hand-over from the wide to
    // the blocked stages.
    void exponentialLandsInBinNMinusF()
    {
        for (unsigned n : {2u, 4u, 8u, 1024u, 2048u, 4096u, 8192u, 16384u, 65536u, 131072u})
            for (unsigned f : {0u, 1u, n / 2, n - 1, 12345u % n}) {
                QVector<double> re(static_cast<int>(n)), im(static_cast<int>(n));
                for (unsigned i = 0; i < n; ++i) {
                    const double a = 2 * pi * double((uint64_t(f) * i) % n) / n;
                    re[int(i)] = 0.75 * std::cos(a);
                    im[int(i)] = 0.75 * std::sin(a);
                }
                IQSignal::fft(&re, &im, n);
                const double rn = std::sqrt(double(n));
                for (unsigned k = 0; k < n; ++k)
                    if (std::fabs(std::abs(cd(re[int(k)], im[int(k)])) - (k == (n - f) % n ? 0.75 * rn : 0)) > 1e-10 * rn)
                        QFAIL(qPrintable(QStringLiteral("n %1 f %2: bin %3 is %4").arg(n).arg(f).arg(k).arg(re[int(k)])));
            }
    }

    // Every bin of small transforms, and both ends, the middle and random
    // bins of large ones, where the reordering is most likely to go wrong.
    void agreesWithDirectTransform()
    {
        const std::pair<unsigned, unsigned> rows[] = {{2, 2}, {4, 4}, {16, 16}, {32, 32}, {256, 256}, {2048, 2048},
                                                      {4096, 16}, {8192, 16}, {32768, 16}, {262144, 16}, {1048576, 6}};
        for (auto [n, checked] : rows) {
            testutil::Rec src(n, n);
            QVector<double> re(src->I, src->I + n), im(src->Q, src->Q + n);
            const QVector<double> r0 = re, i0 = im;
            IQSignal::fft(&re, &im, n);
            const Direct ref(n);
            std::mt19937 gen(3);
            double err = 0, big = 0;
            for (unsigned c = 0; c < checked; ++c) {
                const unsigned k = checked == n ? c : c == 0 ? 0 : c == 1 ? n - 1 : c == 2 ? n / 2 : gen() % n;
                const cd want = ref.bin(r0, i0, k);
                err = std::max(err, std::abs(cd(re[int(k)], im[int(k)]) - want));
                big = std::max(big, std::abs(want));
            }
            QVERIFY2(err <= 1e-9 * big, qPrintable(QStringLiteral("n %1: %2 vs %3").arg(n).arg(err).arg(big)));
        }
    }

    void polar()
    {
        // The angle keeps its quadrant, 0+0j has phase 0 rather than NaN, and
        // -180 is given as 180.
        struct Row { double re, im, mag, deg; };
        const Row rows[] = {
            {0, 1, 1, 90}, {-1, 0, 1, 180}, {1, 0, 1, 0}, {0, -2, 2, -90}, {1, 1, std::sqrt(2.0), 45},
            {-1, -1, std::sqrt(2.0), -135}, {-3, 4, 5, 180 - std::atan(4.0 / 3) * 180 / pi}, {0, 0, 0, 0},
            {-0.0, -0.0, 0, 0}, {-2, -0.0, 2, 180},
        };
        const int n = int(std::size(rows));
        QVector<double> re, im;
        for (const Row& r : rows) {
            double m = -1, p = -1;
            ToPolarSgl(r.re, r.im, &m, &p);
            QVERIFY2(std::fabs(m - r.mag) < 1e-12 && std::fabs(p - r.deg) < 1e-9, qPrintable(QString::number(p)));
            re << r.re;
            im << r.im;
        }
        std::vector<double> mag(n + 1, -7), ph(n + 1, -7);
        ToPolarArr(re, im, 0, mag.data(), ph.data());
        QCOMPARE(mag[0], -7.0);
        ToPolarArr(re, im, n, mag.data(), ph.data());
        for (int k = 0; k < n; ++k)
            QVERIFY(std::fabs(mag[k] - rows[k].mag) < 1e-12 && std::fabs(ph[k] - rows[k].deg) < 1e-9);
        QCOMPARE(mag[n], -7.0);   // nothing written past n
        // A count beyond the vectors stops at their end; one output may be left out.
        std::fill(ph.begin(), ph.end(), -7);
        ToPolarArr(re, im, n + 100, nullptr, ph.data());
        QVERIFY(ph[n] == -7.0 && ph[1] == 180.0);
    }

    void windows()
    {
        // Periodic Hann (zero first point, w[i] = w[n-i]), the symmetric form
        // without zero ends; one point keeps the sample; nothing past n.
        const struct { unsigned long n; int type; std::vector<float> want; } hann[] = {
            {4, 1, {0, 0.5f, 1, 0.5f, 9}}, {3, 0, {0.5f, 1, 0.5f, 9}}, {1, 1, {1, 9}}, {0, 1, {9}}};
        for (const auto& h : hann) {
            std::vector<float> w(h.want.size(), 9);
            HanWin(w.data(), h.n, h.type);
            QVERIFY(w == h.want);
        }
        std::vector<float> v(1000);
        HanWin(v.data(), 1000, 1);
        for (int i = 1; i < 1000; ++i)
            QCOMPARE(v[size_t(i)], v[size_t(1000 - i)]);
        QCOMPARE(v[500], 1.0f);
        // Hamming weights the samples: 0.08 at both ends, 1 in the middle;
        // one sample would divide by zero and is left as it is.
        for (unsigned long n : {1ul, 2ul, 3ul, 10ul, 1001ul}) {
            std::vector<float> x(n + 1, 2.0f);
            HamWin(x.data(), n);
            QVERIFY(n == 1 ? x[0] == 2.0f : std::fabs(x[0] - 0.16f) < 1e-6f && std::fabs(x[n - 1] - 0.16f) < 1e-6f);
            QVERIFY(n % 2 == 0 || std::fabs(x[n / 2] - 2.0f) < 1e-6f);
            QCOMPARE(x[n], 2.0f);
        }
    }

    // The record's type selects the window (2 Hann, 3 Hamming, others none)
    // for the I (0) or Q (any other) samples.
    void cnvWinSelectsByType()
    {
        for (int typ : {0, 1, 2, 3, 4, 24})
            for (int which : {0, 1, 5})
                for (int n : {1, 2, 9, 64}) {
                    testutil::Rec d{uint64_t(n)};
                    d->Typ = typ;
                    std::vector<float> wantI(d->I, d->I + n), wantQ(d->Q, d->Q + n);
                    std::vector<float>& hit = which == 0 ? wantI : wantQ;
                    if (typ == 2) {
                        std::vector<float> w(static_cast<size_t>(n));
                        HanWin(w.data(), (unsigned long)n, 1);
                        for (int k = 0; k < n; ++k)
                            hit[size_t(k)] *= w[size_t(k)];
                    } else if (typ == 3) {
                        HamWin(hit.data(), (unsigned long)n);
                    }
                    CnvWin(which, &d.r);
                    QVERIFY(std::equal(wantI.begin(), wantI.end(), d->I) && std::equal(wantQ.begin(), wantQ.end(), d->Q));
                    FreeArr(&d.r);
                    CnvWin(which, &d.r);   // no arrays: nothing to weight
                }
    }
};

QTEST_GUILESS_MAIN(TstSpectral)
#include "tst_spectral.moc"
