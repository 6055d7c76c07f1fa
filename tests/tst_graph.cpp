// The "IQ Graph" dialog, built and inspected without running it.
#include "app/mainwindow.h"
#include "app/prompts.h"
#include "formats/fileio.h"
#include "graph/fftgraph.h"
#include "graph/spectral.h"
#include "guitest.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QComboBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QPushButton>
#include <QtTest>
#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_textlabel.h>
#include <qwt_scale_div.h>
#include <random>

namespace {

using cd = std::complex<double>;

// A record that owns its arrays for the length of one test.
struct Rec {
    IQDatStr d;
    Rec(uint64_t n, double fs, const std::function<cd(uint64_t)>& sample)
    {
        if (n) {
            MakeIQArr(&d, n);
            for (uint64_t k = 0; k < n; ++k) {
                const cd v = sample(k);
                d.I[k] = float(v.real());
                d.Q[k] = float(v.imag());
            }
        }
        d.N = n;
        d.Clock = fs;
    }
    ~Rec() { FreeArr(&d); }
};

std::function<cd(uint64_t)> tone(double f, double fs, double amp = 1, double phase = 0)
{
    return [=](uint64_t k) { return std::polar(amp, 2 * pi * f * double(k) / fs + phase); };
}

std::function<cd(uint64_t)> noise(unsigned seed)
{
    auto gen = std::make_shared<std::mt19937>(seed);
    return [gen](uint64_t) {
        std::normal_distribution<double> g;
        return cd(g(*gen), g(*gen));
    };
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

// Index of the highest point of the curve.
size_t peak(const QwtPlotCurve* c)
{
    size_t best = 0;
    for (size_t i = 1; i < c->dataSize(); ++i)
        if (c->sample(i).y() > c->sample(best).y())
            best = i;
    return best;
}

} // namespace

class TstGraph : public QObject {
    Q_OBJECT
private slots:
    void form();
    void titlesByMode_data();
    void titlesByMode();
    void binCountAndFrequencies_data();
    void binCountAndFrequencies();
    void longRecordShowsItsFirst2p20();
    void toneLandsOnItsSide_data();
    void toneLandsOnItsSide();
    void phaseOfATone_data();
    void phaseOfATone();
    void nothingToDraw_data();
    void nothingToDraw();
    void iqSquareFromLargerComponent_data();
    void iqSquareFromLargerComponent();
    void traceTakesCountAndRateFromSettings_data();
    void traceTakesCountAndRateFromSettings();
    void recordIsNotChanged();
    void windowButtonsOpenTheirView();
};

void TstGraph::form()
{
    Rec r(64, 1e6, noise(1));
    AnaStr s;
    FftGraph g(&r.d, &s);
    QCOMPARE(g.objectName(), QString("FftGraph"));
    QCOMPARE(g.windowTitle(), QString("IQ Graph"));
    QCOMPARE(g.size(), QSize(728, 512));
    QVERIFY(!g.styleSheet().isEmpty());
    QCOMPARE(plot(g, "plt")->geometry(), QRect(10, 10, 711, 461));
    QCOMPARE(plot(g, "plt2")->geometry(), QRect(150, 10, 461, 461));
    auto* box = g.findChild<QDialogButtonBox*>("buttonBox");
    QVERIFY(box);
    QCOMPARE(box->geometry(), QRect(640, 480, 81, 32));
    QCOMPARE(box->orientation(), Qt::Horizontal);
    QCOMPARE(box->standardButtons(), QDialogButtonBox::Ok);

    QwtPlotCurve* c = curveOf(plot(g, "plt"));
    QVERIFY(c && c->isVisible());
    QCOMPARE(c->pen().color(), QColor(Qt::lightGray));
    QCOMPARE(c->pen().width(), 0);
    QCOMPARE(c->pen().style(), Qt::SolidLine);
    const QwtPlotItemList grids = plot(g, "plt")->itemList(QwtPlotItem::Rtti_PlotGrid);
    QCOMPARE(grids.size(), 1);
    auto* grid = static_cast<QwtPlotGrid*>(grids.first());
    QVERIFY(grid->xEnabled() && grid->yEnabled());
    QCOMPARE(grid->majorPen().color(), QColor(Qt::yellow));
    QCOMPARE(grid->majorPen().width(), 0);

    // OK closes the dialog; pressed here without a modal loop.
    g.show();
    box->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(g.result(), int(QDialog::Accepted));
    QVERIFY(!g.isVisible());
}

void TstGraph::titlesByMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("plotName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("xTitle");
    QTest::addColumn<QString>("yTitle");
    QTest::newRow("spectrum") << 0 << "plt" << "Spectrum" << "Frequency/MHz" << "Level/dB";
    QTest::newRow("i vs q") << 1 << "plt2" << "I vs. Q" << "I" << "Q";
    QTest::newRow("group delay") << 2 << "plt" << "Phase" << "Frequency/MHz" << "Phase/rad";
    QTest::newRow("unknown mode") << 7 << "plt" << "Spectrum" << "Frequency/MHz" << "Level/dB";
}

void TstGraph::titlesByMode()
{
    QFETCH(int, mode);
    QFETCH(QString, plotName);
    QFETCH(QString, title);
    QFETCH(QString, xTitle);
    QFETCH(QString, yTitle);
    Rec r(100, 1e6, noise(2));
    r.d.GrfMode = mode;
    AnaStr s;
    FftGraph g(&r.d, &s);
    QwtPlot* shown = plot(g, qPrintable(plotName));
    QwtPlot* other = plot(g, plotName == "plt" ? "plt2" : "plt");
    QVERIFY(!shown->isHidden());
    QVERIFY(other->isHidden());
    QCOMPARE(shown->title().text(), title);
    QCOMPARE(shown->axisTitle(QwtPlot::xBottom).text(), xTitle);
    QCOMPARE(shown->axisTitle(QwtPlot::yLeft).text(), yTitle);
    QVERIFY(curveOf(shown));
    QVERIFY(!curveOf(other));
    QVERIFY(noticeOf(shown).isEmpty());
}

void TstGraph::binCountAndFrequencies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("bins");
    for (int mode : {0, 2}) {
        const int rows[][2] = {{1, 1}, {2, 2}, {3, 2}, {1000, 512}, {1023, 512},
                               {1024, 1024}, {1025, 1024}, {8191, 4096}, {8192, 8192}};
        for (auto& row : rows)
            QTest::newRow(qPrintable(QStringLiteral("mode%1 n%2").arg(mode).arg(row[0])))
                << mode << row[0] << row[1];
    }
}

void TstGraph::binCountAndFrequencies()
{
    QFETCH(int, mode);
    QFETCH(int, n);
    QFETCH(int, bins);
    const double fs = 3e6;
    Rec r(uint64_t(n), fs, noise(uint64_t(n)));
    r.d.GrfMode = mode;
    AnaStr s;
    FftGraph g(&r.d, &s);
    QwtPlot* plt = plot(g, "plt");
    QwtPlotCurve* c = curveOf(plt);
    QCOMPARE(int(c->dataSize()), bins);
    // The bottom axis spans the band; bin i sits at (i - N/2 + 1) * fs/N with
    // zero frequency at N/2 - 1 and +fs/2 last.
    QCOMPARE(plt->axisScaleDiv(QwtPlot::xBottom).lowerBound(), -1.5);
    QCOMPARE(plt->axisScaleDiv(QwtPlot::xBottom).upperBound(), 1.5);
    const double step = fs / bins / 1e6;
    for (int i = 0; i < bins; ++i) {
        const double want = bins == 1 ? 0 : (i - bins / 2 + 1) * step;
        QVERIFY(std::fabs(c->sample(size_t(i)).x() - want) < 1e-12);
        QVERIFY(std::isfinite(c->sample(size_t(i)).y()));
        if (mode == 0)
            QVERIFY(c->sample(size_t(i)).y() <= 0 && c->sample(size_t(i)).y() >= FftGraph::FloorDb);
        else
            QVERIFY(std::fabs(c->sample(size_t(i)).y()) <= pi + 1e-12);
    }
    if (mode == 0)
        QCOMPARE(c->sample(peak(c)).y(), 0.0);
}

void TstGraph::longRecordShowsItsFirst2p20()
{
    // The first 2^20 samples hold a weak tone; what follows a strong one at
    // another frequency, which must not show.
    const uint64_t n = FftGraph::MaxPoints + 4097;
    const double fs = 1 << 20;
    auto first = tone(1000, fs, 0.01), tail = tone(-5000, fs, 100);
    Rec r(n, fs, [&](uint64_t k) { return k < FftGraph::MaxPoints ? first(k) : tail(k); });
    AnaStr s;
    FftGraph g(&r.d, &s);
    QwtPlotCurve* c = curveOf(plot(g, "plt"));
    QCOMPARE(c->dataSize(), size_t(FftGraph::MaxPoints));
    QVERIFY(std::fabs(c->sample(peak(c)).x() - 1000 / 1e6) < 1e-12);
}

void TstGraph::toneLandsOnItsSide_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<double>("fs");
    QTest::addColumn<double>("f");
    // On a bin, between bins, near both band edges, both signs.
    const double fs = 1.024e6;
    for (double f : {1000.0, 137000.0, 137500.0, 511000.0, 250.0, 3333.3})
        for (double sign : {1.0, -1.0})
            QTest::newRow(qPrintable(QStringLiteral("%1").arg(sign * f))) << 1024 << fs << sign * f;
    QTest::newRow("1000 samples") << 1000 << 1e8 << 12.5e6;
    QTest::newRow("1000 samples neg") << 1000 << 1e8 << -30e6;
}

void TstGraph::toneLandsOnItsSide()
{
    QFETCH(int, n);
    QFETCH(double, fs);
    QFETCH(double, f);
    Rec r(uint64_t(n), fs, tone(f, fs, 0.5));
    AnaStr s;
    FftGraph g(&r.d, &s);
    QwtPlotCurve* c = curveOf(plot(g, "plt"));
    const size_t p = peak(c);
    const double bin = fs / double(c->dataSize()) / 1e6;
    const QPointF top = c->sample(p);
    QVERIFY2(std::fabs(top.x() - f / 1e6) <= bin,
             qPrintable(QStringLiteral("peak at %1 MHz, tone at %2 MHz").arg(top.x()).arg(f / 1e6)));
    if (std::fabs(f / 1e6) >= bin)
        QVERIFY(f > 0 ? top.x() > 0 : top.x() < 0);
    QCOMPARE(top.y(), 0.0);
}

void TstGraph::phaseOfATone_data()
{
    QTest::addColumn<double>("phase");
    // Beyond +-pi/2 too: the angle keeps its quadrant.
    for (double ph : {0.0, 0.3, 1.2, 2.5, -2.0, -0.1, 3.0})
        QTest::newRow(qPrintable(QString::number(ph))) << ph;
}

void TstGraph::phaseOfATone()
{
    QFETCH(double, phase);
    const double fs = 1e6;
    const double f = 37 * fs / 256;
    Rec r(256, fs, tone(f, fs, 1, phase));
    r.d.GrfMode = 2;
    AnaStr s;
    FftGraph g(&r.d, &s);
    QwtPlotCurve* c = curveOf(plot(g, "plt"));
    QCOMPARE(c->dataSize(), size_t(256));
    for (size_t i = 0; i < c->dataSize(); ++i)
        if (std::fabs(c->sample(i).x() - f / 1e6) < 1e-9)
            QVERIFY2(std::fabs(c->sample(i).y() - phase) < 1e-5, qPrintable(QString::number(c->sample(i).y())));
}

void TstGraph::nothingToDraw_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("n");
    QTest::addColumn<float>("value");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (int mode : {0, 1, 2}) {
        const QString m = QStringLiteral("mode%1 ").arg(mode);
        QTest::newRow(qPrintable(m + "empty")) << mode << 0 << 0.0f;
        QTest::newRow(qPrintable(m + "one zero")) << mode << 1 << 0.0f;
        QTest::newRow(qPrintable(m + "zeros")) << mode << 1000 << 0.0f;
        QTest::newRow(qPrintable(m + "nan")) << mode << 64 << nan;
        QTest::newRow(qPrintable(m + "inf")) << mode << 64 << inf;
    }
}

void TstGraph::nothingToDraw()
{
    // An empty plot with a short message, and never a NaN in the axes.
    QFETCH(int, mode);
    QFETCH(int, n);
    QFETCH(float, value);
    Rec r(uint64_t(n), 1e6, [](uint64_t) { return cd(0, 0); });
    if (n)
        r.d.Q[n / 2] = value;
    r.d.GrfMode = mode;
    AnaStr s;
    FftGraph g(&r.d, &s);
    QwtPlot* p = plot(g, mode == 1 ? "plt2" : "plt");
    QwtPlotCurve* c = curveOf(p);
    const bool zeroIq = mode == 1 && n > 0 && value == 0;
    if (zeroIq) {
        // I vs. Q of zeros is a legitimate point at the origin.
        QCOMPARE(int(c->dataSize()), n);
    } else {
        QCOMPARE(c->dataSize(), size_t(0));
        QVERIFY(!noticeOf(p).isEmpty());
    }
    for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
        const QwtScaleDiv& d = p->axisScaleDiv(axis);
        QVERIFY(std::isfinite(d.lowerBound()) && std::isfinite(d.upperBound()));
    }
}

void TstGraph::iqSquareFromLargerComponent_data()
{
    QTest::addColumn<double>("maxI");
    QTest::addColumn<double>("maxQ");
    QTest::addColumn<bool>("negativePeak");
    QTest::newRow("Q larger") << 0.5 << 2.0 << false;
    QTest::newRow("I larger") << 3.0 << 0.25 << false;
    QTest::newRow("Q larger, negative") << 0.5 << 2.0 << true;
    QTest::newRow("I larger, negative") << 1.5 << 1.25 << true;
}

void TstGraph::iqSquareFromLargerComponent()
{
    QFETCH(double, maxI);
    QFETCH(double, maxQ);
    QFETCH(bool, negativePeak);
    // 1000 samples: the constellation is not cut to a power of two.
    const int n = 1000;
    Rec r(n, 1e6, [&](uint64_t k) {
        const double a = 2 * pi * double(k) / 250;
        return cd(maxI * 0.9 * std::cos(a), maxQ * 0.9 * std::sin(a));
    });
    const double sign = negativePeak ? -1 : 1;
    r.d.I[17] = float(sign * maxI);
    r.d.Q[503] = float(sign * maxQ);
    r.d.GrfMode = 1;
    AnaStr s;
    FftGraph g(&r.d, &s);
    QwtPlot* p = plot(g, "plt2");
    const double m = std::max(maxI, maxQ);
    for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
        QCOMPARE(p->axisScaleDiv(axis).lowerBound(), -m);
        QCOMPARE(p->axisScaleDiv(axis).upperBound(), m);
    }
    QwtPlotCurve* c = curveOf(p);
    QCOMPARE(int(c->dataSize()), n);
    QCOMPARE(c->sample(17).x(), double(r.d.I[17]));
    QCOMPARE(c->sample(503).y(), double(r.d.Q[503]));
}

void TstGraph::traceTakesCountAndRateFromSettings_data()
{
    QTest::addColumn<int>("srcTab");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("count");      // settings' sample count
    QTest::addColumn<int>("points");     // what the curve must hold
    QTest::addColumn<double>("half");    // half the band, MHz
    for (int mode : {0, 1}) {
        const QString m = QStringLiteral("mode%1 ").arg(mode);
        QTest::newRow(qPrintable(m + "trace")) << 1 << mode << 256 << 256 << 1.0;
        QTest::newRow(qPrintable(m + "trace, 300")) << 1 << mode << 300 << (mode ? 300 : 256) << 1.0;
        // More than the record holds: only what is there is read.
        QTest::newRow(qPrintable(m + "trace, too many")) << 1 << mode << 5000 << 1024 << 1.0;
        QTest::newRow(qPrintable(m + "trace, none")) << 1 << mode << 0 << 0 << 1.0;
        QTest::newRow(qPrintable(m + "file")) << 0 << mode << 256 << 1024 << 4.0;
    }
}

void TstGraph::traceTakesCountAndRateFromSettings()
{
    QFETCH(int, srcTab);
    QFETCH(int, mode);
    QFETCH(int, count);
    QFETCH(int, points);
    QFETCH(double, half);
    // The tone sits at +0.25 MHz at the settings' rate of 2 MHz, so at 1 MHz
    // at the record's own 8 MHz.
    Rec r(1024, 8e6, tone(0.25e6, 2e6));
    r.d.SrcTab = srcTab;
    r.d.GrfMode = mode;
    AnaStr s;
    s.Count = uint64_t(count);
    s.SRate = 2e6;
    FftGraph g(&r.d, &s);
    QwtPlot* p = plot(g, mode == 1 ? "plt2" : "plt");
    QwtPlotCurve* c = curveOf(p);
    QCOMPARE(int(c->dataSize()), points);
    if (mode == 0) {
        QCOMPARE(p->axisScaleDiv(QwtPlot::xBottom).upperBound(), half);
        if (points)
            QVERIFY(std::fabs(c->sample(peak(c)).x() - 0.25 * half) <= 2 * half / points);
    }
}

void TstGraph::recordIsNotChanged()
{
    for (int mode : {0, 1, 2}) {
        Rec r(1000, 1e6, noise(9));
        r.d.GrfMode = mode;
        const std::vector<float> i(r.d.I, r.d.I + 1000), q(r.d.Q, r.d.Q + 1000);
        AnaStr s;
        { FftGraph g(&r.d, &s); }
        QVERIFY(std::equal(i.begin(), i.end(), r.d.I));
        QVERIFY(std::equal(q.begin(), q.end(), r.d.Q));
        QCOMPARE(r.d.N, uint64_t(1000));
        QCOMPARE(r.d.GrfMode, mode);
    }
}

namespace {

// Hands the window the prepared file names and swallows its messages.
class Answers : public Prompts {
public:
    QStringList files;
    QStringList shown;
    QString openFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return files.isEmpty() ? QString() : files.takeFirst();
    }
    void warning(QWidget*, const QString& title, const QString& text, const QString&) override
    {
        shown << title + QStringLiteral(": ") + text;
    }
};

} // namespace

void TstGraph::windowButtonsOpenTheirView()
{
    QTemporaryDir home, work;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    Answers ask;
    SetPrompts(&ask);
    // 1000 samples of a +0.25 MHz tone at 2 MHz as interleaved float32.
    const QString path = work.filePath(QStringLiteral("tone.iqw"));
    {
        QByteArray b(1000 * 8, 0);
        auto t = tone(0.25e6, 2e6, 0.5);
        for (int k = 0; k < 1000; ++k) {
            io::putf32(reinterpret_cast<uint8_t*>(b.data()) + 8 * k, float(t(uint64_t(k)).real()));
            io::putf32(reinterpret_cast<uint8_t*>(b.data()) + 8 * k + 4, float(t(uint64_t(k)).imag()));
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(b);
    }
    MainWindow w;
    auto* type = w.findChild<QComboBox*>(QStringLiteral("Load_Typ"));
    type->setCurrentIndex(type->findText(QStringLiteral("IQW mixed, iqiqiq"), Qt::MatchStartsWith));
    ask.files << path;
    w.findChild<QPushButton*>(QStringLiteral("Load_I"))->click();
    w.findChild<QDoubleSpinBox*>(QStringLiteral("Load_SRat"))->setValue(2e6);
    w.findChild<QPushButton*>(QStringLiteral("Load_Lod"))->click();
    QVERIFY2(ask.shown.isEmpty(), qPrintable(ask.shown.join('\n')));

    struct Row { const char* button; const char* plot; const char* title; int points; };
    const Row rows[] = {{"Spec", "plt", "Spectrum", 512}, {"IvsQ", "plt2", "I vs. Q", 1000},
                        {"GDel", "plt", "Phase", 512}};
    for (const Row& r : rows) {
        auto* button = w.findChild<QPushButton*>(QLatin1String(r.button));
        QVERIFY(button->isEnabled());
        // Inspected and closed from inside the dialog's own loop, so the
        // modal run ends as soon as it has started.
        QString title;
        int points = -1;
        double top = 0;
        QTimer::singleShot(0, [&] {
            auto* g = qobject_cast<FftGraph*>(QApplication::activeModalWidget());
            if (!g)
                return;
            QwtPlot* p = plot(*g, r.plot);
            title = p->title().text();
            points = int(curveOf(p)->dataSize());
            top = p->axisScaleDiv(QwtPlot::xBottom).upperBound();
            g->accept();
        });
        button->click();
        QCoreApplication::processEvents();
        QCOMPARE(title, QString(r.title));
        QCOMPARE(points, r.points);
        if (QByteArray(r.plot) == "plt")
            QCOMPARE(top, 1.0);   // +fs/2 in MHz, from the rate given at load
        QVERIFY(!QApplication::activeModalWidget());
    }
    SetPrompts(nullptr);
}

ORVEX_GUI_TEST_MAIN(TstGraph)
#include "tst_graph.moc"
