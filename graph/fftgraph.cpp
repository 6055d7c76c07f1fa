#include "fftgraph.h"
#include "spectral.h"
#include "ui_fftgraph.h"

#include <QGuiApplication>
#include <QPen>
#include <QResizeEvent>
#include <QScreen>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_magnifier.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_panner.h>
#include <qwt_plot_textlabel.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_map.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

#include <algorithm>
#include <cmath>

// Rectangle zoom with the left button, everything again with the right
// button or Home (which also undoes the wheel and the panner); its tracker
// is the cursor readout.
class GraphZoomer : public QwtPlotZoomer {
public:
    GraphZoomer(QWidget* canvas, const FftGraph* g) : QwtPlotZoomer(canvas), graph(g)
    {
        setTrackerMode(AlwaysOn);
        setRubberBandPen(QPen(Qt::white, 0, Qt::DashLine));
        setTrackerPen(QPen(Qt::white));
        // Right button alone: back to the whole view (as Home); the middle
        // button is the panner's.
        setMousePattern(MouseSelect2, Qt::RightButton);
        setMousePattern(MouseSelect3, Qt::NoButton);
        setMousePattern(MouseSelect6, Qt::NoButton);
        // Escape, the zoomer's own choice, closes the dialog first.
        setKeyPattern(KeyHome, Qt::Key_Home);
    }

protected:
    QwtText trackerText(const QPoint& pos) const override
    {
        QwtText t(graph->readout(pos));
        t.setColor(Qt::white);
        t.setBackgroundBrush(QColor(0, 0, 0, 170));
        return t;
    }

private:
    const FftGraph* graph;
};

namespace {

// Keeps its one child square and centred, as large as it fits: the I vs. Q
// plot's two axes have the same range and should look it.
class SquareBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void resizeEvent(QResizeEvent* e) override
    {
        const int side = std::min(e->size().width(), e->size().height());
        for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            w->setGeometry((e->size().width() - side) / 2, (e->size().height() - side) / 2, side, side);
    }
};

// True when any of the first n samples is NaN or infinite: one such value
// spreads into every bin of the transform and breaks the axis scaling.
bool anyNonFinite(const float* v, uint64_t n)
{
    for (uint64_t k = 0; k < n; ++k)
        if (!std::isfinite(v[k]))
            return true;
    return false;
}

} // namespace

FftGraph::FftGraph(IQDatStr* data, AnaStr* settings, QWidget* parent)
    : QDialog(parent), ui(new Ui::FftGraph)
{
    ui->setupUi(this);
    mode = data->GrfMode == 1 ? 1 : data->GrfMode == 2 ? 2 : 0;
    // The I vs. Q plot sits in a box that keeps it square at any size.
    auto* box = new SquareBox(this);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    delete ui->plotRow->replaceWidget(ui->plt2, box);
    ui->plt2->setParent(box);
    box->setVisible(mode == 1);

    // Instrument data carries its count and rate in the acquisition
    // settings. The count never exceeds what the arrays really hold.
    const bool trace = data->SrcTab != 0;
    uint64_t n = trace ? settings->Count : data->N;
    double fs = trace ? settings->SRate : data->Clock;
    n = std::min({n, data->N, MaxPoints});
    if (!data->I || !data->Q)
        n = 0;
    if (!std::isfinite(fs) || fs <= 0)
        fs = 1;

    curve = new QwtPlotCurve;
    // A bright, wider trace over a subdued grid: the data is what the eye
    // should find first on the dark canvas.
    curve->setPen(QPen(QColor(255, 214, 10), 1, Qt::SolidLine));
    grid = new QwtPlotGrid;
    grid->enableX(true);
    grid->enableY(true);
    grid->setPen(QPen(QColor(90, 90, 90), 0, Qt::DotLine));
    ui->plt->setCanvasBackground(Qt::black);
    ui->plt2->setCanvasBackground(Qt::black);

    if (mode == 1)
        iqView(data, n);
    else
        frequencyView(data, n, fs, mode);
    curve->setVisible(true);
    // Wide lines cost the painter several times as much per point: a long
    // record keeps the thin pen so the dialog opens without a wait.
    if (curve->dataSize() <= WidePenPoints) {
        QPen pen = curve->pen();
        pen.setWidthF(2);
        curve->setPen(pen);
    }

    // The zoom base is what the view shows now, autoscaled axes included.
    QwtPlot* plt = shown();
    plt->replot();
    zoomer = new GraphZoomer(plt->canvas(), this);
    zoomer->setZoomBase(false);
    auto* panner = new QwtPlotPanner(plt->canvas());
    panner->setMouseButton(Qt::MiddleButton);
    auto* magnifier = new QwtPlotMagnifier(plt->canvas());
    // The right button belongs to the zoomer.
    magnifier->setMouseButton(Qt::NoButton);
    // Turning the wheel away from the user zooms in, as in a map.
    magnifier->setWheelFactor(1 / 0.9);
}

FftGraph::~FftGraph()
{
    delete ui;
}

QwtPlot* FftGraph::shown() const
{
    return mode == 1 ? ui->plt2 : ui->plt;
}

void FftGraph::showEvent(QShowEvent* e)
{
    // The form's size may not fit a small or highly scaled screen: keep the
    // whole dialog, frame and OK button included, on the screen it opens on.
    QScreen* screen = QGuiApplication::screenAt(frameGeometry().center());
    if (!screen)
        screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect avail = screen->availableGeometry();
        const QSize frame = frameGeometry().size() - geometry().size();
        const QSize fit = size().boundedTo(avail.size() - frame);
        if (fit != size())
            resize(fit);
        QRect f = frameGeometry();
        f.moveLeft(std::clamp(f.left(), avail.left(), std::max(avail.left(), avail.right() - f.width() + 1)));
        f.moveTop(std::clamp(f.top(), avail.top(), std::max(avail.top(), avail.bottom() - f.height() + 1)));
        move(f.topLeft());
    }
    QDialog::showEvent(e);
}

QString FftGraph::readout(const QPoint& pos) const
{
    const QwtPlot* p = shown();
    const QwtScaleMap mx = p->canvasMap(QwtPlot::xBottom);
    const double x = mx.invTransform(pos.x());
    const double y = p->canvasMap(QwtPlot::yLeft).invTransform(pos.y());
    if (mode == 1)
        return QStringLiteral("I %1\nQ %2").arg(x, 0, 'g', 5).arg(y, 0, 'g', 5);
    const QString cursorF = QStringLiteral("%1 MHz").arg(x, 0, 'f', freqDecimals);
    const size_t n = curve->dataSize();
    if (n == 0)
        return cursorF;
    // Index of the first bin at or above a frequency; the bins ascend.
    const auto from = [&](double at) {
        size_t lo = 0, hi = n;
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            (curve->sample(mid).x() < at ? lo = mid + 1 : hi = mid);
        }
        return lo;
    };
    // A pixel spans many bins of a long record: the spectrum reads the
    // strongest of them, the line's top there, so a peak reads exactly;
    // the phase the bin nearest to the cursor.
    const double halfPx = std::fabs(mx.invTransform(pos.x() + 0.5) - x);
    size_t best = std::min(from(x), n - 1);
    if (best > 0 && std::fabs(curve->sample(best - 1).x() - x) < std::fabs(curve->sample(best).x() - x))
        --best;
    if (mode == 0)
        for (size_t k = from(x - halfPx), end = std::min(from(x + halfPx), n); k < end; ++k)
            if (curve->sample(k).y() > curve->sample(best).y())
                best = k;
    const QPointF s = curve->sample(best);
    const QString f = QStringLiteral("%1 MHz").arg(s.x(), 0, 'f', freqDecimals);
    return mode == 2 ? f + QStringLiteral("\n%1 rad").arg(s.y(), 0, 'f', 3)
                     : f + QStringLiteral("\n%1 dB").arg(s.y(), 0, 'f', 2);
}

void FftGraph::markPeak(double f, double level)
{
    peak = new QwtPlotMarker;
    peak->setSymbol(new QwtSymbol(QwtSymbol::Diamond, QBrush(QColor(255, 80, 80)), QPen(Qt::white), QSize(9, 9)));
    peak->setValue(f, level);
    QwtText t(QStringLiteral("Peak %1 MHz, %2 dB").arg(f, 0, 'f', freqDecimals).arg(level, 0, 'f', 2));
    t.setColor(Qt::white);
    t.setBackgroundBrush(QColor(0, 0, 0, 170));
    peak->setLabel(t);
    // The label on the side of the marker with more room.
    const double mid = (ui->plt->axisScaleDiv(QwtPlot::xBottom).lowerBound()
                        + ui->plt->axisScaleDiv(QwtPlot::xBottom).upperBound()) / 2;
    peak->setLabelAlignment((f > mid ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignBottom);
    peak->attach(ui->plt);
}

void FftGraph::notice(QwtPlot* plot, const QString& text)
{
    QwtText t(text);
    t.setRenderFlags(Qt::AlignCenter);
    t.setColor(Qt::white);
    auto* label = new QwtPlotTextLabel;
    label->setText(t);
    label->attach(plot);
}

void FftGraph::frequencyView(const IQDatStr* data, uint64_t n, double fs, int mode)
{
    QwtPlot* plt = ui->plt;
    plt->setTitle(mode == 2 ? QStringLiteral("Phase") : QStringLiteral("Spectrum"));
    curve->attach(plt);
    grid->attach(plt);
    ui->plt2->hide();
    plt->show();
    plt->setAxisTitle(QwtPlot::xBottom, QStringLiteral("Frequency/MHz"));
    plt->setAxisTitle(QwtPlot::yLeft, mode == 2 ? QStringLiteral("Phase/rad") : QStringLiteral("Level/dB"));
    // The range is the band; the tick step is left to the scale engine so
    // that any sample rate gets round labels.
    const double half = fs / 2 / 1e6;
    plt->setAxisScale(QwtPlot::xBottom, -half, half);
    plt->setAxisAutoScale(QwtPlot::yLeft);
    // Nothing to draw: a short message over empty axes of a sensible range.
    auto empty = [&](const QString& text) {
        if (mode == 2)
            plt->setAxisScale(QwtPlot::yLeft, -pi, pi);
        else
            plt->setAxisScale(QwtPlot::yLeft, -100, 0);
        notice(plt, text);
        plt->replot();
    };

    if (n == 0)
        return empty(QStringLiteral("No samples to show."));
    const unsigned N = 1u << unsigned(std::floor(std::log2(double(n))));
    if (anyNonFinite(data->I, N) || anyNonFinite(data->Q, N))
        return empty(QStringLiteral("The samples contain values that are not numbers."));
    // Zero data has no level and no phase to speak of.
    if (std::all_of(data->I, data->I + N, [](float v) { return v == 0; })
        && std::all_of(data->Q, data->Q + N, [](float v) { return v == 0; }))
        return empty(QStringLiteral("All magnitudes are zero."));

    // Every fresh megabyte costs page faults, so the transform's two
    // vectors become the curve: magnitude or phase in place of the real
    // part, the frequencies in place of the imaginary part.
    QVector<double> y(static_cast<int>(N)), f(static_cast<int>(N));
    std::copy(data->I, data->I + N, y.begin());
    std::copy(data->Q, data->Q + N, f.begin());
    IQSignal::fft(&y, &f, N);
    if (mode == 2)
        ToPolarArr(y, f, N, nullptr, y.data());
    else
        ToPolarArr(y, f, N, y.data(), nullptr);
    // Bin k holds frequency -k*fs/N (positive kernel): reversing each half
    // puts the bins in ascending order, so that index i is (i - N/2 + 1)*fs/N,
    // from one bin above -fs/2 up to +fs/2.
    std::reverse(y.begin(), y.begin() + N / 2);
    std::reverse(y.begin() + N / 2, y.end());
    const double step = fs / N / 1e6;
    freqDecimals = std::clamp(int(std::ceil(-std::log10(step))) + 1, 0, 9);
    const double zero = N > 1 ? double(N / 2) - 1 : 0;
    for (unsigned i = 0; i < N; ++i)
        f[int(i)] = (double(i) - zero) * step;

    if (mode == 2) {
        for (double& v : y)
            v *= pi / 180;
    } else {
        double mmax = 0;
        for (double v : y)
            mmax = std::max(mmax, v);
        if (!(mmax > 0))
            return empty(QStringLiteral("All magnitudes are zero."));
        // Amplitude ratio in dB, the strongest bin at 0 dB.
        const double floorRatio = std::pow(10.0, FloorDb / 20);
        for (double& v : y) {
            const double r = v / mmax;
            v = r > floorRatio ? 20 * std::log10(r) : FloorDb;
        }
    }
    if (mode == 0) {
        const int top = int(std::max_element(y.begin(), y.end()) - y.begin());
        markPeak(f[top], y[top]);
    }
    curve->setSamples(f, y);
    plt->replot();
}

void FftGraph::iqView(const IQDatStr* data, uint64_t n)
{
    QwtPlot* plt2 = ui->plt2;
    plt2->setTitle(QStringLiteral("I vs. Q"));
    curve->attach(plt2);
    grid->attach(plt2);
    ui->plt->hide();
    plt2->show();
    plt2->setAxisTitle(QwtPlot::xBottom, QStringLiteral("I"));
    plt2->setAxisTitle(QwtPlot::yLeft, QStringLiteral("Q"));

    double m = 0;
    bool finite = true;
    for (uint64_t k = 0; k < n; ++k) {
        const double i = std::fabs(data->I[k]), q = std::fabs(data->Q[k]);
        if (!std::isfinite(i) || !std::isfinite(q)) {
            finite = false;
            break;
        }
        m = std::max({m, i, q});
    }
    // All-zero data still gets a square frame around the origin.
    if (m == 0 || !finite)
        m = 1;
    plt2->setAxisScale(QwtPlot::xBottom, -m, m);
    plt2->setAxisScale(QwtPlot::yLeft, -m, m);

    if (n == 0) {
        notice(plt2, QStringLiteral("No samples to show."));
    } else if (!finite) {
        notice(plt2, QStringLiteral("The samples contain values that are not numbers."));
    } else {
        QVector<double> x(static_cast<int>(n)), y(static_cast<int>(n));
        std::copy(data->I, data->I + n, x.begin());
        std::copy(data->Q, data->Q + n, y.begin());
        curve->setSamples(x, y);
    }
    plt2->replot();
}
