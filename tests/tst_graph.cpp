// The transform, the polar conversion and the time windows; the "IQ Graph"
// dialog, built and inspected without running it (tst_window opens it from
// the window's buttons).
#include "graph/fftgraph.h"
#include "graph/spectral.h"
#include "guitest.h"

#include <complex>
#include <functional>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_textlabel.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>
#include <QMouseEvent>
#include <QRegularExpression>

namespace {

using cd = std::complex<double>;

// A record of n samples of a signal at sample rate fs, shown in a mode.
struct Sig : testutil::Rec {
    Sig(uint64_t n, double fs, const std::function<cd(uint64_t)>& sample, int mode = 0) : testutil::Rec(n)
    {
        for (uint64_t k = 0; k < n; ++k)
            r.I[k] = float(sample(k).real()), r.Q[k] = float(sample(k).imag());
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

// The first plot item of a kind, or null.
template <class T>
T* firstOf(QwtPlot* p, int rtti)
{
    const QwtPlotItemList items = p->itemList(rtti);
    return items.isEmpty() ? nullptr : static_cast<T*>(items.first());
}
QwtPlotCurve* curveOf(QwtPlot* p) { return firstOf<QwtPlotCurve>(p, QwtPlotItem::Rtti_PlotCurve); }
QString noticeOf(QwtPlot* p)
{
    auto* label = firstOf<QwtPlotTextLabel>(p, QwtPlotItem::Rtti_PlotTextLabel);
    return label ? label->text().text() : QString();
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

// The dialog built on a record, the plot its mode shows and that plot's curve.
struct View {
    AnaStr s;
    FftGraph g;
    QwtPlot* p;
    QwtPlotCurve* c;
    explicit View(IQDatStr* r, const AnaStr& set = AnaStr())
        : s(set), g(r, &s), p(plot(g, r->GrfMode == 1 ? "plt2" : "plt")), c(curveOf(p)) {}
    double bound(int axis, bool upper) const
    {
        return upper ? p->axisScaleDiv(axis).upperBound() : p->axisScaleDiv(axis).lowerBound();
    }
};

// The reference transform, 1/sqrt(n) * sum x[i] e^(+j 2 pi k i / n), of one
// bin; k*i is reduced modulo n (a power of two) so every angle is exact.
cd directBin(const QVector<double>& re, const QVector<double>& im, unsigned k)
{
    const unsigned n = unsigned(re.size());
    cd sum = 0;
    for (unsigned i = 0; i < n; ++i)
        sum += cd(re[int(i)], im[int(i)]) * std::polar(1.0, 2 * pi * double((uint64_t(k) * i) % n) / n);
    return sum / std::sqrt(double(n));
}

} // namespace

class TstGraph : public QObject {
    Q_OBJECT
private slots:
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
            std::mt19937 gen(3);
            double err = 0, big = 0;
            for (unsigned c = 0; c < checked; ++c) {
                const unsigned k = checked == n ? c : c == 0 ? 0 : c == 1 ? n - 1 : c == 2 ? n / 2 : gen() % n;
                const cd want = directBin(r0, i0, k);
                err = std::max(err, std::abs(cd(re[int(k)], im[int(k)]) - want));
                big = std::max(big, std::abs(want));
            }
            QVERIFY2(err <= 1e-9 * big, qPrintable(QStringLiteral("n %1: %2 vs %3").arg(n).arg(err).arg(big)));
        }
        // One point is its own transform; a length that is not a power of
        // two, zero, or longer than the vectors changes nothing.
        const QVector<double> r0{1, 2, 3}, i0{0, -1.25, 0};
        for (unsigned n : {0u, 1u, 3u, 4u}) {
            QVector<double> re = r0, im = i0;
            IQSignal::fft(&re, &im, n);
            QVERIFY(re == r0 && im == i0);
        }
    }


    // Periodic Hann (zero first point, w[i] = w[n-i]), the symmetric form
    // without zero ends, one point keeping the sample; Hamming weighting the
    // samples, 0.08 at both ends and 1 in the middle, a single sample left as
    // it is (it would divide by zero); nothing written past n. The record's
    // type selects the window (2 Hann, 3 Hamming, others none) for the I (0)
    // or Q (any other) samples.
    void polarAndWindows()
    {
        const std::pair<int, std::vector<float>> hann[] = {{4, {0, 0.5f, 1, 0.5f, 9}}, {-3, {0.5f, 1, 0.5f, 9}}, {1, {1, 9}}, {0, {9}}};
        for (const auto& [n, want] : hann) {
            std::vector<float> w(want.size(), 9);
            HanWin(w.data(), (unsigned long)std::abs(n), n >= 0);   // negative: the symmetric form
            QVERIFY(w == want);
        }
        std::vector<float> v(1000);
        HanWin(v.data(), 1000, 1);
        for (int i = 1; i < 1000; ++i)
            QVERIFY(v[size_t(i)] == v[size_t(1000 - i)] && v[500] == 1.0f);
        for (unsigned long n : {1ul, 2ul, 3ul, 10ul, 1001ul}) {
            std::vector<float> x(n + 1, 2.0f);
            HamWin(x.data(), n);
            QVERIFY(n == 1 ? x[0] == 2.0f : std::fabs(x[0] - 0.16f) < 1e-6f && std::fabs(x[n - 1] - 0.16f) < 1e-6f);
            QVERIFY((n % 2 == 0 || std::fabs(x[n / 2] - 2.0f) < 1e-6f) && x[n] == 2.0f);
        }
        for (int typ : {0, 1, 2, 3, 4, 24})
            for (int which : {0, 1, 5})
                for (int n : {1, 2, 9, 64}) {
                    testutil::Rec d{uint64_t(n)};
                    d->Typ = typ;
                    std::vector<float> wantI(d->I, d->I + n), wantQ(d->Q, d->Q + n), w(size_t(n), 1.0f);
                    std::vector<float>& hit = which == 0 ? wantI : wantQ;
                    if (typ == 2)
                        HanWin(w.data(), (unsigned long)n, 1);
                    for (int k = 0; k < n; ++k)
                        hit[size_t(k)] *= w[size_t(k)];
                    if (typ == 3)
                        HamWin(hit.data(), (unsigned long)n);
                    CnvWin(which, &d.r);
                    QVERIFY(std::equal(wantI.begin(), wantI.end(), d->I) && std::equal(wantQ.begin(), wantQ.end(), d->Q));
                    FreeArr(&d.r);
                    CnvWin(which, &d.r);   // no arrays: nothing to weight
                }
        // The angle keeps its quadrant, 0+0j has phase 0 rather than NaN, -180
        // is given as 180; the arrays stop at n and at the vectors' end, and
        // take one output only.
        const double rows[][4] = {{0, 1, 1, 90}, {-1, 0, 1, 180}, {1, 0, 1, 0}, {0, -2, 2, -90}, {1, 1, std::sqrt(2.0), 45},
                                  {-1, -1, std::sqrt(2.0), -135}, {-3, 4, 5, 180 - std::atan(4.0 / 3) * 180 / pi}, {0, 0, 0, 0},
                                  {-0.0, -0.0, 0, 0}, {-2, -0.0, 2, 180}};
        const int n = int(std::size(rows));
        QVector<double> re, im;
        std::vector<double> mag(n + 1, -7), ph(n + 1, -7), ph2(n + 1, -7);
        for (auto [r, i, m, deg] : rows) {
            double gm = -1, gp = -1;
            ToPolarSgl(r, i, &gm, &gp);
            QVERIFY2(std::fabs(gm - m) < 1e-12 && std::fabs(gp - deg) < 1e-9, qPrintable(QString::number(gp)));
            re << r;
            im << i;
        }
        ToPolarArr(re, im, 0, mag.data(), ph.data());
        QCOMPARE(mag[0], -7.0);
        ToPolarArr(re, im, n, mag.data(), ph.data());
        ToPolarArr(re, im, n + 100, nullptr, ph2.data());
        for (int k = 0; k < n; ++k)
            QVERIFY(std::fabs(mag[k] - rows[k][2]) < 1e-12 && std::fabs(ph[k] - rows[k][3]) < 1e-9 && ph2[k] == ph[k]);
        QVERIFY(mag[n] == -7.0 && ph2[n] == -7.0);
    }

    // The largest power of two of the samples, over the band: bin i at
    // (i - N/2 + 1) * fs/N, zero at N/2 - 1, +fs/2 last; the strongest bin
    // at 0 dB, none below the floor.
    void binCountAndFrequencies()
    {
        const int rows[][2] = {{1, 1}, {2, 2}, {3, 2}, {1000, 512}, {1023, 512}, {1024, 1024}, {1025, 1024}, {8191, 4096}, {8192, 8192}};
        for (int mode : {0, 2})
            for (auto [n, bins] : rows) {
                Sig r(uint64_t(n), 3e6, noise(uint32_t(n)), mode);
                View v(&r.r);
                QCOMPARE(int(v.c->dataSize()), bins);
                QVERIFY(v.bound(QwtPlot::xBottom, false) == -1.5 && v.bound(QwtPlot::xBottom, true) == 1.5);
                for (int i = 0; i < bins; ++i) {
                    const QPointF p = v.c->sample(size_t(i));
                    QVERIFY(std::fabs(p.x() - (bins == 1 ? 0 : (i - bins / 2 + 1) * 3.0 / bins)) < 1e-12);
                    QVERIFY(mode == 0 ? p.y() <= 0 && p.y() >= FftGraph::FloorDb : std::fabs(p.y()) <= pi + 1e-12);
                }
                QVERIFY(mode != 0 || peak(v.c).y() == 0.0);
            }
        // Of a longer record only the first 2^20 samples are shown: a weak
        // tone there, not the strong one after them.
        auto first = tone(1000, 1 << 20, 0.01), tail = tone(-5000, 1 << 20, 100);
        Sig r(FftGraph::MaxPoints + 4097, 1 << 20, [&](uint64_t k) { return k < FftGraph::MaxPoints ? first(k) : tail(k); });
        View v(&r.r);
        QVERIFY(v.c->dataSize() == FftGraph::MaxPoints && std::fabs(peak(v.c).x() - 1000 / 1e6) < 1e-12);
    }

    // An empty plot with a short message, never a NaN in the axes; I vs. Q
    // of zeros is a legitimate point at the origin.
    void nothingToDrawAndIqFrame()
    {
        const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
        const std::pair<int, float> rows[] = {{0, 0}, {1, 0}, {1000, 0}, {64, nan}, {64, inf}};
        for (int mode : {0, 1, 2})
            for (auto [n, value] : rows) {
                Sig r(uint64_t(n), 1e6, [](uint64_t) { return cd(0, 0); }, mode);
                n ? void(r->Q[n / 2] = value) : FreeArr(&r.r);   // no samples: no arrays either
                View v(&r.r);
                const bool zeroIq = mode == 1 && n > 0 && value == 0;
                QVERIFY(int(v.c->dataSize()) == (zeroIq ? n : 0) && (zeroIq || !noticeOf(v.p).isEmpty()));
                for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft})
                    QVERIFY(std::isfinite(v.bound(axis, false)) && std::isfinite(v.bound(axis, true)));
            }
        // The I vs. Q frame is a square from the larger component, whatever its
        // sign, over all 1000 points (the constellation is not cut to a power
        // of two).
        const std::tuple<double, double, double> frames[] = {{0.5, 2.0, 1}, {3.0, 0.25, 1}, {0.5, 2.0, -1}, {1.5, 1.25, -1}};
        for (auto [maxI, maxQ, sign] : frames) {
            Sig r(1000, 1e6, [&](uint64_t k) { return cd(maxI * 0.9 * std::cos(k / 40.0), maxQ * 0.9 * std::sin(k / 40.0)); }, 1);
            r->I[17] = float(sign * maxI);
            r->Q[503] = float(sign * maxQ);
            View v(&r.r);
            const double m = std::max(maxI, maxQ);
            for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft})
                QVERIFY(v.bound(axis, false) == -m && v.bound(axis, true) == m);
            QVERIFY(v.c->dataSize() == 1000 && v.c->sample(17).x() == double(r->I[17]) && v.c->sample(503).y() == double(r->Q[503]));
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
                View v(&r.r, s);
                const int points = mode ? row.pointsIq : row.points;
                QCOMPARE(int(v.c->dataSize()), points);
                QVERIFY(mode || (v.bound(QwtPlot::xBottom, true) == row.half
                                 && (!points || std::fabs(peak(v.c).x() - 0.25 * row.half) <= 2 * row.half / points)));
            }
    }

    // A rectangle dragged with the left button zooms in, the wheel zooms
    // out, and the right button or Home brings back exactly the first axes;
    // the readout at a tone's pixel names the tone's frequency and its 0 dB
    // (or I and Q at that point), and so does the peak marker.
    void zoomResetAndReadout()
    {
        for (int mode : {0, 1, 2}) {
            Sig r(4096, 8e6, tone(1.25e6, 8e6), mode);
            View v(&r.r);
            v.g.resize(600, 420);
            v.g.show();
            QVERIFY(QTest::qWaitForWindowExposed(&v.g));
            const QSize small = v.p->size();
            // The plot grows with the dialog; I vs. Q stays square.
            v.g.resize(780, 580);
            QApplication::processEvents();
            const QSize big = v.p->size();
            QVERIFY(big.height() - small.height() > 150 && (mode == 1 ? big.width() == big.height() : big.width() - small.width() > 150));
            QWidget* canvas = v.p->canvas();
            const auto bounds = [&] { return QVector<double>{v.bound(QwtPlot::xBottom, false), v.bound(QwtPlot::xBottom, true),
                                                             v.bound(QwtPlot::yLeft, false), v.bound(QwtPlot::yLeft, true)}; };
            const QVector<double> base = bounds();
            const auto mouse = [&](QEvent::Type t, Qt::MouseButton b, QPoint at) {
                QMouseEvent e(t, at, canvas->mapToGlobal(at), t == QEvent::MouseMove ? Qt::NoButton : b, t == QEvent::MouseButtonRelease ? Qt::NoButton : b, {});
                QApplication::sendEvent(canvas, &e);
            };
            // Right-click after a drag and a wheel turn, Home after a wheel turn alone.
            for (int reset : {0, 1}) {
                if (!reset)
                    mouse(QEvent::MouseButtonPress, Qt::LeftButton, {40, 40}), mouse(QEvent::MouseMove, Qt::LeftButton, {120, 100}),
                        mouse(QEvent::MouseButtonRelease, Qt::LeftButton, {160, 140});
                const QVector<double> zoomed = bounds();
                QWheelEvent wheel(QPointF(80, 80), QPointF(canvas->mapToGlobal(QPoint(80, 80))), {}, {0, -120}, {}, {}, Qt::NoScrollPhase, false);
                QApplication::sendEvent(canvas, &wheel);
                QVERIFY((reset || zoomed[1] - zoomed[0] < (base[1] - base[0]) / 2) && bounds()[1] - bounds()[0] > zoomed[1] - zoomed[0]);
                reset ? QTest::keyClick(canvas, Qt::Key_Home)
                      : (mouse(QEvent::MouseButtonPress, Qt::RightButton, {50, 50}), mouse(QEvent::MouseButtonRelease, Qt::RightButton, {50, 50}));
                QCOMPARE(bounds(), base);
            }
            // Readout words: "1.2500 MHz", "0.00 dB" or "I 1.0012", "Q -0.0021".
            const double x = mode == 1 ? 1 : 1.25, px = 8.0 / canvas->width();
            const QPoint at(int(std::lround(v.p->transform(QwtPlot::xBottom, x))), int(std::lround(v.p->transform(QwtPlot::yLeft, 0))));
            const QStringList text = v.g.readout(at).split(QRegularExpression("[ \n]"));
            QVERIFY2(std::fabs(text[mode == 1].toDouble() - x) <= px && (mode != 1 || std::fabs(text[3].toDouble()) <= px), qPrintable(text.join(' ')));
            QVERIFY(mode != 0 || text.join(' ') == "1.2500 MHz 0.00 dB");
            const auto* mark = firstOf<QwtPlotMarker>(v.p, QwtPlotItem::Rtti_PlotMarker);
            QVERIFY(mode == 0 ? mark && mark->label().text() == "Peak 1.2500 MHz, 0.00 dB" : !mark);
        }
    }
};

ORVEX_GUI_TEST_MAIN(TstGraph)
#include "tst_graph.moc"
