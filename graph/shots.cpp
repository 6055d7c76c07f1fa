// Renders the three graph views of a two-tone test signal with noise into
// PNG files: orvex-graphshots OUTDIR. Run it under a display (or xvfb-run).
#include "fftgraph.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cmath>
#include <cstdio>
#include <random>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    // 10 MHz sampling: a tone on bin +1075 (+1.312 MHz) and a weaker one on
    // bin -2231 (-2.723 MHz, -10 dB), over white noise.
    IQDatStr rec;
    const uint64_t n = 8192;
    MakeIQArr(&rec, n);
    rec.N = n;
    rec.Clock = 10e6;
    std::mt19937 gen(7);
    std::normal_distribution<double> noise(0.0, 0.002);
    const double twoPi = 2 * 3.141592653589793;
    for (uint64_t k = 0; k < n; ++k) {
        const double a = twoPi * 1075 * k / n, b = -twoPi * 2231 * k / n;
        rec.I[k] = float(0.7 * std::cos(a) + 0.22 * std::cos(b) + noise(gen));
        rec.Q[k] = float(0.7 * std::sin(a) + 0.22 * std::sin(b) + noise(gen));
    }
    AnaStr settings;
    const char* names[] = {"graph-spectrum.png", "graph-iq.png", "graph-phase.png"};
    int rc = 0;
    for (int mode = 0; mode < 3; ++mode) {
        rec.GrfMode = mode;
        FftGraph g(&rec, &settings);
        g.show();
        app.processEvents();
        const QString file = out + QLatin1Char('/') + QLatin1String(names[mode]);
        if (!g.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            rc = 1;
        }
    }
    FreeArr(&rec);
    return rc;
}
