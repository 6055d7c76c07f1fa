// Renders the graph views of a test signal for the documentation:
//   orvex-graphshots SCENE OUT.png
// Scenes: graph-spectrum, graph-phase, graph-iq, graph-empty. Runs under any display
// (docs/graph-shots.sh uses Xvfb).
#include "graph/fftgraph.h"

#include <QApplication>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <random>

namespace {

// 8192 samples at 10 MHz: a tone on bin +1075 (+1.312 MHz) and one 10 dB
// weaker on bin -2231 (-2.723 MHz), over white noise.
void TwoToneRecord(IQDatStr* rec)
{
    const uint64_t n = 8192;
    MakeIQArr(rec, n);
    rec->N = n;
    rec->Clock = 10e6;
    std::mt19937 gen(7);
    std::normal_distribution<double> noise(0.0, 0.002);
    const double twoPi = 2 * 3.141592653589793;
    for (uint64_t k = 0; k < n; ++k) {
        const double a = twoPi * 1075 * double(k) / n, b = -twoPi * 2231 * double(k) / n;
        rec->I[k] = float(0.7 * std::cos(a) + 0.22 * std::cos(b) + noise(gen));
        rec->Q[k] = float(0.7 * std::sin(a) + 0.22 * std::sin(b) + noise(gen));
    }
}

// The dialog as a graph button opens it, on the test record.
QWidget* SceneGraph(int mode)
{
    static IQDatStr rec;
    static AnaStr ana;
    if (!rec.I)
        TwoToneRecord(&rec);
    rec.GrfMode = mode;
    auto* g = new FftGraph(&rec, &ana);
    g->move(0, 0);
    g->show();
    return g;
}

const std::map<QString, std::function<QWidget*()>> kScenes = {
    {QStringLiteral("graph-spectrum"), [] { return SceneGraph(0); }},
    {QStringLiteral("graph-iq"), [] { return SceneGraph(1); }},
    {QStringLiteral("graph-phase"), [] { return SceneGraph(2); }},
    // Not in the documentation: what a record without samples shows.
    {QStringLiteral("graph-empty"), [] {
         static IQDatStr none;
         static AnaStr ana;
         auto* g = new FftGraph(&none, &ana);
         g->show();
         return static_cast<QWidget*>(g);
     }},
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3 || !kScenes.count(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: orvex-graphshots SCENE OUT.png; scenes:");
        for (const auto& s : kScenes)
            std::fprintf(stderr, " %s", qPrintable(s.first));
        std::fprintf(stderr, "\n");
        return 2;
    }
    QWidget* target = kScenes.at(QString::fromLocal8Bit(argv[1]))();
    int rc = 1;
    // Grab once the dialog has been laid out and painted.
    QTimer::singleShot(300, [&] {
        rc = target->grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
        app.quit();
    });
    app.exec();
    delete target;
    return rc;
}
