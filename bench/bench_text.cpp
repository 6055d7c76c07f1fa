// Text benchmark driver: "gen N RAW" writes N random float32 I/Q pairs
// (interleaved, little-endian), "save RAW OUT" writes them as Matlab ASCII
// mixed, "load IN" reads such a file back. Each prints its own wall time,
// so process start-up is not part of the figure.
#include "formats/catalogue.h"
#include "formats/iqdata.h"
#include "formats/save.h"
#include "formats/text.h"

#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <sys/resource.h>
#include <vector>

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int typeIndex(const char* name)
{
    for (int i = 0; i < TL_COUNT; ++i)
        if (tl[i].Name == QLatin1String(name))
            return i;
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && !std::strcmp(argv[1], "gen")) {
        const uint64_t n = std::strtoull(argv[2], nullptr, 10);
        std::mt19937 rng(12345);
        // Mostly unit-scale values with a spread of magnitudes and signs, as
        // measured signals have.
        std::normal_distribution<float> g(0.0f, 0.3f);
        std::vector<float> v(2 * n);
        for (auto& x : v)
            x = g(rng);
        QFile f(QString::fromLocal8Bit(argv[3]));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(reinterpret_cast<const char*>(v.data()), qint64(v.size() * 4));
        return 0;
    }
    if (argc == 4 && !std::strcmp(argv[1], "save")) {
        QFile f(QString::fromLocal8Bit(argv[2]));
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray raw = f.readAll();
        IQDatStr rec;
        const uint64_t n = uint64_t(raw.size()) / 8;
        MakeIQArr(&rec, n);
        rec.N = n;
        for (uint64_t i = 0; i < n; ++i) {
            std::memcpy(rec.I + i, raw.constData() + 8 * i, 4);
            std::memcpy(rec.Q + i, raw.constData() + 8 * i + 4, 4);
        }
        const double t0 = now();
        const int32_t st = SaveAscii(rec, 1, QString::fromLocal8Bit(argv[3]), QString());
        const double t1 = now();
        FreeArr(&rec);
        std::printf("%.3f\n", t1 - t0);
        return st == ST_OK ? 0 : 1;
    }
    if (argc == 3 && !std::strcmp(argv[1], "load")) {
        IQDatStr rec;
        rec.Typ = typeIndex("Matlab ASCII mixed");
        rec.FileI = QString::fromLocal8Bit(argv[2]);
        const double t0 = now();
        const int32_t st = LoadDatFile(&rec);
        const double t1 = now();
        rusage ru;
        getrusage(RUSAGE_SELF, &ru);
        const double size = double(QFileInfo(rec.FileI).size());
        const double bound = 8.0 * double(rec.N) + size + 64.0 * 1048576;
        std::printf("%.3f %llu %.1f %.1f\n", t1 - t0, static_cast<unsigned long long>(rec.N),
                    double(ru.ru_maxrss) / 1024, bound / 1048576);
        FreeArr(&rec);
        return st == ST_OK ? 0 : 1;
    }
    std::fprintf(stderr, "usage: bench_text gen N RAW | save RAW OUT | load IN\n");
    return 2;
}
