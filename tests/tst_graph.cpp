// The transform, the polar conversion and the time windows; the "IQ Graph"
// dialog, built and inspected without running it, and the window's graph
// buttons.
#include "app/mainwindow.h"
#include "graph/fftgraph.h"
#include "graph/spectral.h"
#include "guitest.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <complex>
#include <functional>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_textlabel.h>
#include <qwt_scale_div.h>

namespace {

using cd = std::complex<double>;

// A record of n samples of a signal at sample rate fs.
struct Sig : testutil::Rec {
    Sig(uint64_t n, double fs, const std::function<cd(uint64_t)>& sample, int mode = 0)
    {
        if (n)
            MakeIQArr(&r, n);
        for (uint64_t k = 0; k < n; ++k) {
            r.I[k] = float(sample(k).real());
            r.Q[k] = float(sample(k).imag());
        }
        r.N = n;
        r.Clock = fs;
        r.GrfMode = mode;
    }
};

std::function<cd(uint64_t)> tone(double f, double fs, double amp = 1, double phase = 0)
{
    return [=](uint64_t k) { return std::polar(amp, 2 * pi * f * double(k) / fs + phase); };
}

std::function<cd(uint64_t)> noise(unsigned seed)
{
    auto gen = std::make_shared<std::mt19937>(seed);
    auto g = std::make_shared<std::normal_distribution<double>>();
    return [=](uint64_t) { return cd((*g)(*gen), (*g)(*gen)); };
}

QwtPlot* plot(FftGraph& g, const char* name) { return g.findChild<QwtPlot*>(name); }

QwtPlotCurve* curveOf(QwtPlot* p)
{
    const QwtPlotItemList items = p->itemList(QwtPlotItem::Rtti_PlotCurve);
    return items.isEmpty() ? nullptr : static_cast<QwtPlotCurve*>(items.first());
}

QString noticeOf(QwtPlot* p)
{
    const QwtPlotItemList items = p->itemList(QwtPlotItem::Rtti_PlotTextLabel);
    return items.isEmpty() ? QString() : static_cast<QwtPlotTextLabel*>(items.first())->text().text();
}

// The highest point of the curve.
QPointF peak(const QwtPlotCurve* c)
{
    size_t best = 0;
    for (size_t i = 1; i < c->dataSize(); ++i)
        if (c->sample(i).y() > c->sample(best).y())
            best = i;
    return c->sample(best);
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

class TstGraph : public QObject {
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

    void okCloses()
    {
        Sig r(64, 1e6, noise(1));
        AnaStr s;
        FftGraph g(&r.r, &s);
        QCOMPARE(g.windowTitle(), QString("IQ Graph"));
        // Pressed here without a modal loop.
        g.show();
        g.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        QVERIFY(g.result() == QDialog::Accepted && !g.isVisible());
    }

    void titlesByMode()
    {
        const struct { int mode; const char* plot; const char* titles; } rows[] = {
            {0, "plt", "Spectrum|Frequency/MHz|Level/dB"}, {1, "plt2", "I vs. Q|I|Q"},
            {2, "plt", "Phase|Frequency/MHz|Phase/rad"}, {7, "plt", "Spectrum|Frequency/MHz|Level/dB"}};
        for (const auto& row : rows) {
            Sig r(100, 1e6, noise(2), row.mode);
            AnaStr s;
            FftGraph g(&r.r, &s);
            QwtPlot* shown = plot(g, row.plot);
            QwtPlot* other = plot(g, row.mode == 1 ? "plt" : "plt2");
            QVERIFY(!shown->isHidden() && other->isHidden() && curveOf(shown) && !curveOf(other));
            QCOMPARE(shown->title().text() + "|" + shown->axisTitle(QwtPlot::xBottom).text() + "|"
                         + shown->axisTitle(QwtPlot::yLeft).text(), QString(row.titles));
            QVERIFY(noticeOf(shown).isEmpty());
        }
    }

    // The largest power of two of the samples, over the band: bin i at
    // (i - N/2 + 1) * fs/N, zero at N/2 - 1, +fs/2 last.
    void binCountAndFrequencies()
    {
        const int rows[][2] = {{1, 1}, {2, 2}, {3, 2}, {1000, 512}, {1023, 512},
                               {1024, 1024}, {1025, 1024}, {8191, 4096}, {8192, 8192}};
        for (int mode : {0, 2})
            for (auto [n, bins] : rows) {
                const double fs = 3e6;
                Sig r(uint64_t(n), fs, noise(uint32_t(n)), mode);
                AnaStr s;
                FftGraph g(&r.r, &s);
                QwtPlot* plt = plot(g, "plt");
                QwtPlotCurve* c = curveOf(plt);
                QCOMPARE(int(c->dataSize()), bins);
                QVERIFY(plt->axisScaleDiv(QwtPlot::xBottom).lowerBound() == -1.5
                        && plt->axisScaleDiv(QwtPlot::xBottom).upperBound() == 1.5);
                for (int i = 0; i < bins; ++i) {
                    const QPointF p = c->sample(size_t(i));
                    QVERIFY(std::fabs(p.x() - (bins == 1 ? 0 : (i - bins / 2 + 1) * fs / bins / 1e6)) < 1e-12);
                    QVERIFY(mode == 0 ? p.y() <= 0 && p.y() >= FftGraph::FloorDb : std::fabs(p.y()) <= pi + 1e-12);
                }
                QVERIFY(mode != 0 || peak(c).y() == 0.0);
            }
    }

    void longRecordShowsItsFirst2p20()
    {
        // The first 2^20 samples hold a weak tone; what follows a strong one
        // at another frequency, which must not show.
        const double fs = 1 << 20;
        auto first = tone(1000, fs, 0.01), tail = tone(-5000, fs, 100);
        Sig r(FftGraph::MaxPoints + 4097, fs, [&](uint64_t k) { return k < FftGraph::MaxPoints ? first(k) : tail(k); });
        AnaStr s;
        FftGraph g(&r.r, &s);
        QwtPlotCurve* c = curveOf(plot(g, "plt"));
        QCOMPARE(c->dataSize(), size_t(FftGraph::MaxPoints));
        QVERIFY(std::fabs(peak(c).x() - 1000 / 1e6) < 1e-12);
    }

    // On a bin, between bins, near both band edges, both signs.
    void toneLandsOnItsSide()
    {
        QList<std::tuple<int, double, double>> rows = {{1000, 1e8, 12.5e6}, {1000, 1e8, -30e6}};
        for (double f : {1000.0, 137000.0, 137500.0, 511000.0, 250.0, 3333.3})
            rows << std::tuple{1024, 1.024e6, f} << std::tuple{1024, 1.024e6, -f};
        for (auto [n, fs, f] : rows) {
            Sig r(uint64_t(n), fs, tone(f, fs, 0.5));
            AnaStr s;
            FftGraph g(&r.r, &s);
            QwtPlotCurve* c = curveOf(plot(g, "plt"));
            const double bin = fs / double(c->dataSize()) / 1e6;
            const QPointF top = peak(c);
            QVERIFY2(std::fabs(top.x() - f / 1e6) <= bin, qPrintable(QStringLiteral("%1 for %2").arg(top.x()).arg(f)));
            QVERIFY(std::fabs(f / 1e6) < bin || (f > 0) == (top.x() > 0));
            QCOMPARE(top.y(), 0.0);
        }
    }

    // Beyond +-pi/2 too: the angle keeps its quadrant.
    void phaseOfATone()
    {
        const double fs = 1e6, f = 37 * fs / 256;
        for (double phase : {0.0, 0.3, 1.2, 2.5, -2.0, -0.1, 3.0}) {
            Sig r(256, fs, tone(f, fs, 1, phase), 2);
            AnaStr s;
            FftGraph g(&r.r, &s);
            QwtPlotCurve* c = curveOf(plot(g, "plt"));
            QCOMPARE(c->dataSize(), size_t(256));
            const size_t at = 37 + 256 / 2 - 1;
            QVERIFY(std::fabs(c->sample(at).x() - f / 1e6) < 1e-9);
            QVERIFY2(std::fabs(c->sample(at).y() - phase) < 1e-5, qPrintable(QString::number(c->sample(at).y())));
        }
    }

    // An empty plot with a short message, never a NaN in the axes; I vs. Q
    // of zeros is a legitimate point at the origin.
    void nothingToDraw()
    {
        const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
        const std::pair<int, float> rows[] = {{0, 0}, {1, 0}, {1000, 0}, {64, nan}, {64, inf}};
        for (int mode : {0, 1, 2})
            for (auto [n, value] : rows) {
                Sig r(uint64_t(n), 1e6, [](uint64_t) { return cd(0, 0); }, mode);
                if (n)
                    r->Q[n / 2] = value;
                AnaStr s;
                FftGraph g(&r.r, &s);
                QwtPlot* p = plot(g, mode == 1 ? "plt2" : "plt");
                const bool zeroIq = mode == 1 && n > 0 && value == 0;
                QCOMPARE(int(curveOf(p)->dataSize()), zeroIq ? n : 0);
                QVERIFY(zeroIq || !noticeOf(p).isEmpty());
                for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft})
                    QVERIFY(std::isfinite(p->axisScaleDiv(axis).lowerBound())
                            && std::isfinite(p->axisScaleDiv(axis).upperBound()));
            }
    }

    // A square frame from the larger component, whatever its sign; all 1000
    // points (the constellation is not cut to a power of two).
    void iqSquareFromLargerComponent()
    {
        const std::tuple<double, double, double> rows[] = {{0.5, 2.0, 1}, {3.0, 0.25, 1}, {0.5, 2.0, -1}, {1.5, 1.25, -1}};
        for (auto [maxI, maxQ, sign] : rows) {
            Sig r(1000, 1e6, [&](uint64_t k) { return cd(maxI * 0.9 * std::cos(k / 40.0), maxQ * 0.9 * std::sin(k / 40.0)); }, 1);
            r->I[17] = float(sign * maxI);
            r->Q[503] = float(sign * maxQ);
            AnaStr s;
            FftGraph g(&r.r, &s);
            QwtPlot* p = plot(g, "plt2");
            const double m = std::max(maxI, maxQ);
            for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft})
                QVERIFY(p->axisScaleDiv(axis).lowerBound() == -m && p->axisScaleDiv(axis).upperBound() == m);
            QwtPlotCurve* c = curveOf(p);
            QCOMPARE(int(c->dataSize()), 1000);
            QVERIFY(c->sample(17).x() == double(r->I[17]) && c->sample(503).y() == double(r->Q[503]));
        }
    }

    // Trace data takes its count and rate from the settings, never more
    // samples than the record holds. The tone sits at +0.25 MHz at the
    // settings' rate of 2 MHz, so at 1 MHz at the record's own 8 MHz.
    void traceTakesCountAndRateFromSettings()
    {
        const struct { int srcTab, count, points, pointsIq; double half; } rows[] = {
            {1, 256, 256, 256, 1}, {1, 300, 256, 300, 1}, {1, 5000, 1024, 1024, 1}, {1, 0, 0, 0, 1}, {0, 256, 1024, 1024, 4}};
        for (int mode : {0, 1})
            for (const auto& row : rows) {
                Sig r(1024, 8e6, tone(0.25e6, 2e6), mode);
                r->SrcTab = row.srcTab;
                AnaStr s;
                s.Count = uint64_t(row.count);
                s.SRate = 2e6;
                FftGraph g(&r.r, &s);
                QwtPlot* p = plot(g, mode == 1 ? "plt2" : "plt");
                QwtPlotCurve* c = curveOf(p);
                const int points = mode ? row.pointsIq : row.points;
                QCOMPARE(int(c->dataSize()), points);
                if (mode == 0) {
                    QCOMPARE(p->axisScaleDiv(QwtPlot::xBottom).upperBound(), row.half);
                    QVERIFY(!points || std::fabs(peak(c).x() - 0.25 * row.half) <= 2 * row.half / points);
                }
            }
    }

    void recordIsNotChanged()
    {
        for (int mode : {0, 1, 2}) {
            Sig r(1000, 1e6, noise(9), mode);
            const std::vector<float> i(r->I, r->I + 1000), q(r->Q, r->Q + 1000);
            AnaStr s;
            { FftGraph g(&r.r, &s); }
            QVERIFY(testutil::holds(r.r, i, q) && r->GrfMode == mode);
        }
    }

    void windowButtonsOpenTheirView()
    {
        QTemporaryDir home, work;
        UseSettingsHome(home.path());
        FakePrompts ask;
        SetPrompts(&ask);
        // 1000 samples of a +0.25 MHz tone at 2 MHz as interleaved float32.
        QByteArray b;
        auto t = tone(0.25e6, 2e6, 0.5);
        for (uint64_t k = 0; k < 1000; ++k)
            b += testutil::le(io::bits32(float(t(k).real()))) + testutil::le(io::bits32(float(t(k).imag())));
        QVERIFY(testutil::writeFile(work.filePath("tone.iqw"), b));
        MainWindow w;
        auto* type = w.findChild<QComboBox*>("Load_Typ");
        type->setCurrentIndex(type->findText("IQW mixed, iqiqiq", Qt::MatchStartsWith));
        ask.answers << work.filePath("tone.iqw");
        w.findChild<QPushButton*>("Load_I")->click();
        w.findChild<QDoubleSpinBox*>("Load_SRat")->setValue(2e6);
        w.findChild<QPushButton*>("Load_Lod")->click();
        QVERIFY(ask.boxes.isEmpty());
        const struct { const char* button; const char* plot; const char* title; int points; } rows[] = {
            {"Spec", "plt", "Spectrum", 512}, {"IvsQ", "plt2", "I vs. Q", 1000}, {"GDel", "plt", "Phase", 512}};
        for (const auto& r : rows) {
            // Inspected and closed from inside the dialog's own loop, so the
            // modal run ends as soon as it has started.
            QString seen;
            QTimer::singleShot(0, [&] {
                if (auto* g = qobject_cast<FftGraph*>(QApplication::activeModalWidget())) {
                    QwtPlot* p = plot(*g, r.plot);
                    seen = QStringLiteral("%1 %2").arg(p->title().text()).arg(curveOf(p)->dataSize());
                    // +fs/2 in MHz, from the rate given at load.
                    if (p->objectName() == "plt")
                        seen += QStringLiteral(" %1").arg(p->axisScaleDiv(QwtPlot::xBottom).upperBound());
                    g->accept();
                }
            });
            w.findChild<QPushButton*>(r.button)->click();
            QCoreApplication::processEvents();
            QCOMPARE(seen, QStringLiteral("%1 %2").arg(r.title).arg(r.points) + (r.plot == QString("plt") ? " 1" : ""));
            QVERIFY(!QApplication::activeModalWidget());
        }
        SetPrompts(nullptr);
    }
};

ORVEX_GUI_TEST_MAIN(TstGraph)
#include "tst_graph.moc"
