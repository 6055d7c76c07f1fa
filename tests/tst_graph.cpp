// The "IQ Graph" dialog, built and inspected without running it, and the
// window's graph buttons.
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

} // namespace

class TstGraph : public QObject {
    Q_OBJECT
private slots:
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
