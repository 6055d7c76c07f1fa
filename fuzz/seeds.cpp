// Writes the seed inputs of every fuzz target: a short tone saved by each
// writable type of the family, laid out as the target splits its input.
// Usage: orvex-fuzz-seeds FOLDER (one subfolder per family).
#include "harness.h"

#include <QDir>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <zlib.h>

namespace {

constexpr int32_t kMatMixed = 3;

// The same MAT-file with every top-level element deflated into a compressed
// one, as other programs write them by default; Orvex writes none itself.
QByteArray compressMat(const QByteArray& plain)
{
    QByteArray out = plain.left(128);
    for (int pos = 128; pos + 8 <= plain.size();) {
        const int len = 8 + int(io::le32(reinterpret_cast<const uint8_t*>(plain.constData()) + pos + 4));
        uLongf zlen = compressBound(uLong(len));
        QByteArray z(int(zlen), 0);
        if (compress2(reinterpret_cast<Bytef*>(z.data()), &zlen, reinterpret_cast<const Bytef*>(plain.constData()) + pos,
                      uLong(len), 9) != Z_OK)
            return {};
        uint8_t tag[8];
        io::put32(tag, 15); // compressed element
        io::put32(tag + 4, uint32_t(zlen));
        out += QByteArray(reinterpret_cast<const char*>(tag), 8) + z.left(int(zlen));
        pos += len;
    }
    return out;
}

QByteArray contents(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    QTemporaryDir tmp;
    const QString out = QString::fromLocal8Bit(argv[1]);
    int written = 0;
    for (const fuzz::Family& fam : fuzz::kFamilies) {
        QDir().mkpath(out + QLatin1Char('/') + QLatin1String(fam.name));
        for (int32_t code : fam.codes) {
            const FmtFn* f = FmtOf(code);
            if (!f->save)
                continue; // read-only types start from the mutations of the others
            for (uint64_t n : {1, 64}) {
                IQDatStr rec;
                if (MakeIQArr(&rec, n) != ST_OK)
                    return 1;
                rec.N = n;
                rec.Clock = 1e6;
                for (uint64_t k = 0; k < n; ++k) {
                    rec.I[k] = float(std::cos(0.3 * double(k)));
                    rec.Q[k] = float(std::sin(0.3 * double(k)));
                }
                const QString fi = tmp.filePath(QStringLiteral("i.dat")), fq = tmp.filePath(QStringLiteral("q.dat"));
                if (f->save(rec, code, fi, fq) != ST_OK) {
                    std::fprintf(stderr, "%s: code %d: %s\n", fam.name, code, qPrintable(LastDetail()));
                    return 1;
                }
                const int32_t row = fuzz::rowOf(code);
                QByteArray a = contents(fi), b;
                if (fuzz::splits(fam, row)) {
                    b = contents(fam.side ? fam.side(fi) : fq);
                    // The target splits at the middle: pad the shorter part.
                    const int len = std::max(a.size(), b.size());
                    a.append(QByteArray(len - a.size(), '\n'));
                    b.append(QByteArray(len - b.size(), '\n'));
                }
                const QString name = QStringLiteral("%1/%2/code%3-n%4").arg(out, QLatin1String(fam.name)).arg(code).arg(n);
                QList<QPair<QString, QByteArray>> files{{name, a + b}};
                if (code == kMatMixed)
                    files.append({name + "-compressed", compressMat(a)});
                for (const auto& [file, bytes] : files) {
                    QFile s(file);
                    if (bytes.isEmpty() || !s.open(QIODevice::WriteOnly) || s.write(bytes) != bytes.size())
                        return 1;
                    ++written;
                }
            }
        }
    }
    std::printf("%d seeds written\n", written);
    return 0;
}
