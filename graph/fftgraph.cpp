#include "fftgraph.h"
#include "spectral.h"
#include "ui_fftgraph.h"

#include <QPen>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_textlabel.h>
#include <qwt_text.h>

#include <algorithm>
#include <cmath>

namespace {

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
    curve->setPen(QPen(Qt::lightGray, 0, Qt::SolidLine));
    grid = new QwtPlotGrid;
    grid->enableX(true);
    grid->enableY(true);
    grid->setPen(QPen(Qt::yellow, 0, Qt::SolidLine));
    // Light-gray trace and yellow grid are made for a dark canvas.
    ui->plt->setCanvasBackground(Qt::black);
    ui->plt2->setCanvasBackground(Qt::black);

    if (data->GrfMode == 1)
        iqView(data, n);
    else
        frequencyView(data, n, fs, data->GrfMode == 2 ? 2 : 0);
    curve->setVisible(true);
}

FftGraph::~FftGraph()
{
    delete ui;
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
