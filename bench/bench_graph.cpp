// Time to build the graph dialog for a record of n samples (default 2^20):
// the transform alone (in place), then the spectrum and phase dialogs
// (copy, transform, polar conversion, curve). Writes the samples as float32
// I then Q to FILE so that the comparison runs on the same data.
// Prints the median time of each in ms.
// Usage: bench_graph [n] [FILE] [repeats]
#include "graph/fftgraph.h"
#include "graph/spectral.h"

#include <QApplication>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

template <class F>
double medianMs(int repeats, F f)
{
    std::vector<double> t;
    for (int r = 0; r < std::max(repeats, 1); ++r) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        auto t1 = std::chrono::steady_clock::now();
        t.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const uint64_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : (1u << 20);
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 5;
    IQDatStr rec;
    if (MakeIQArr(&rec, n) != ST_OK)
        return 1;
    rec.N = n;
    rec.Clock = 1e8;
    std::mt19937 gen(1);
    std::normal_distribution<float> g(0.f, 1.f);
    for (uint64_t k = 0; k < n; ++k) {
        rec.I[k] = g(gen);
        rec.Q[k] = g(gen);
    }
    if (argc > 2) {
        QFile f(QString::fromLocal8Bit(argv[2]));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(reinterpret_cast<const char*>(rec.I), qint64(n * 4));
        f.write(reinterpret_cast<const char*>(rec.Q), qint64(n * 4));
    }
    AnaStr settings;
    const unsigned N = unsigned(std::min<uint64_t>(n, FftGraph::MaxPoints));

    // The transform alone, in place on vectors allocated once: the dialog
    // figures add the allocation (page faults of fresh memory), copy, polar
    // conversion and curve.
    QVector<double> re(static_cast<int>(N)), im(static_cast<int>(N));
    const double fft = medianMs(repeats, [&] {
        std::copy(rec.I, rec.I + N, re.begin());
        std::copy(rec.Q, rec.Q + N, im.begin());
        IQSignal::fft(&re, &im, N);
    });
    rec.GrfMode = 0;
    const double spectrum = medianMs(repeats, [&] { FftGraph d(&rec, &settings); });
    rec.GrfMode = 2;
    const double phase = medianMs(repeats, [&] { FftGraph d(&rec, &settings); });
    std::printf("transform %.2f\nspectrum %.2f\nphase %.2f\n", fft, spectrum, phase);
    FreeArr(&rec);
    return 0;
}
