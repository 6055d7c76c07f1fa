#include "spectral.h"

#include <algorithm>
#include <cmath>
#include <vector>

const double pi = 3.141592653589793;

namespace {

// Stages whose span exceeds this many points run over the whole array; the
// rest run block by block, so each block stays in the cache for all of its
// remaining stages (2^12 points of re and im: 64 KiB).
constexpr unsigned kBlock = 1u << 12;

// One decimation-in-frequency butterfly row: a = a + b, b = (a - b) * w^j.
inline void butterflies(double* __restrict ar, double* __restrict ai,
                        double* __restrict br, double* __restrict bi,
                        const double* __restrict c, const double* __restrict s, unsigned h)
{
    for (unsigned j = 0; j < h; ++j) {
        const double tr = ar[j] - br[j], ti = ai[j] - bi[j];
        ar[j] += br[j];
        ai[j] += bi[j];
        br[j] = tr * c[j] - ti * s[j];
        bi[j] = tr * s[j] + ti * c[j];
    }
}

unsigned log2of(unsigned n)
{
    unsigned m = 0;
    while ((1u << m) < n)
        ++m;
    return m;
}

unsigned reverseBits(unsigned v, unsigned bits)
{
    unsigned r = 0;
    for (unsigned k = 0; k < bits; ++k, v >>= 1)
        r = (r << 1) | (v & 1);
    return r;
}

// The stages of span greater than kBlock, each over the whole array. Their
// twiddles exp(+j*2*pi*j/span) are built chunk by chunk as the product of a
// coarse and a fine factor: about 2*sqrt(span) sines and cosines per stage,
// every twiddle within a few ulps, and no table of the array's size.
void wideStages(double* xr, double* xi, unsigned n, unsigned stop)
{
    std::vector<double> buf;
    for (unsigned span = n; span > stop; span /= 2) {
        const unsigned h = span / 2;
        const unsigned fine = 1u << ((log2of(h) + 1) / 2);
        buf.resize(4 * size_t(fine));
        double* fc = buf.data();
        double* fs = fc + fine;
        double* wc = fs + fine;
        double* ws = wc + fine;
        for (unsigned b = 0; b < fine; ++b) {
            fc[b] = std::cos(2 * pi * b / span);
            fs[b] = std::sin(2 * pi * b / span);
        }
        for (unsigned a = 0; a < h; a += fine) {
            const double cc = std::cos(2 * pi * a / span), cs = std::sin(2 * pi * a / span);
            for (unsigned b = 0; b < fine; ++b) {
                wc[b] = cc * fc[b] - cs * fs[b];
                ws[b] = cc * fs[b] + cs * fc[b];
            }
            for (unsigned base = a; base < n; base += span)
                butterflies(xr + base, xi + base, xr + base + h, xi + base + h, wc, ws, fine);
        }
    }
}

// The stages of span up to `span`, block by block, the last one (twiddle 1)
// carrying the 1/sqrt(n) scaling. Twiddles of the stage of half-span h sit
// at c[h + j], s[h + j].
void blockStages(double* xr, double* xi, unsigned n, unsigned span)
{
    std::vector<double> tab(2 * size_t(span));
    double* c = tab.data();
    double* s = c + span;
    for (unsigned j = 0, h = span / 2; j < h; ++j) {
        c[h + j] = std::cos(pi * j / h);
        s[h + j] = std::sin(pi * j / h);
    }
    for (unsigned h = span / 4; h >= 1; h /= 2)
        for (unsigned j = 0; j < h; ++j) {
            c[h + j] = c[2 * h + 2 * j];
            s[h + j] = s[2 * h + 2 * j];
        }
    const double scale = 1.0 / std::sqrt(double(n));
    for (unsigned blk = 0; blk < n; blk += span) {
        for (unsigned sp = span; sp > 2; sp /= 2) {
            const unsigned h = sp / 2;
            for (unsigned base = blk; base < blk + span; base += sp)
                butterflies(xr + base, xi + base, xr + base + h, xi + base + h, c + h, s + h, h);
        }
        for (unsigned a = blk; a < blk + span; a += 2) {
            const double r0 = xr[a], r1 = xr[a + 1], i0 = xi[a], i1 = xi[a + 1];
            xr[a] = (r0 + r1) * scale;
            xi[a] = (i0 + i1) * scale;
            xr[a + 1] = (r0 - r1) * scale;
            xi[a + 1] = (i0 - i1) * scale;
        }
    }
}

// Reorders x from bit-reversed to natural order, tile by tile: an index is
// split into q high bits, the middle bits and q low bits, and the tile of all
// high and low bits for one middle value swaps with the tile of the reversed
// middle value. Each tile is 2^q runs of 2^q neighbours, so whole cache lines
// move instead of single values at random places.
void bitReverse(double* re, double* im, unsigned n)
{
    const unsigned m = log2of(n);
    const unsigned q = std::min(5u, m / 2);
    const unsigned mid = m - 2 * q;
    const unsigned side = 1u << q;
    unsigned rq[32];
    for (unsigned v = 0; v < side; ++v)
        rq[v] = reverseBits(v, q);
    for (unsigned b = 0; b < (1u << mid); ++b) {
        const unsigned br = reverseBits(b, mid);
        if (br < b)
            continue;
        for (unsigned a = 0; a < side; ++a)
            for (unsigned c = 0; c < side; ++c) {
                const unsigned i = (a << (mid + q)) | (b << q) | c;
                const unsigned j = (rq[c] << (mid + q)) | (br << q) | rq[a];
                // Tiles b < br meet once (br's own turn is skipped); a
                // self-reversed tile holds both ends of its pairs.
                if (b != br || i < j) {
                    std::swap(re[i], re[j]);
                    std::swap(im[i], im[j]);
                }
            }
    }
}

} // namespace

void IQSignal::fft(QVector<double>* re, QVector<double>* im, unsigned int n)
{
    // A length that is not a power of two or that the vectors do not hold
    // would write outside them; such a call changes nothing.
    if (n < 2 || (n & (n - 1)) || unsigned(re->size()) < n || unsigned(im->size()) < n)
        return;
    double* xr = re->data();
    double* xi = im->data();
    const unsigned span = std::min(n, kBlock);
    wideStages(xr, xi, n, span);
    blockStages(xr, xi, n, span);
    bitReverse(xr, xi, n);
}

void ToPolarSgl(double re, double im, double* mag, double* phase)
{
    if (mag)
        *mag = std::sqrt(re * re + im * im);
    if (!phase)
        return;
    // 0+0j has no angle: 0 rather than the NaN of 0/0. A negative zero
    // imaginary part would give -180; the range is kept (-180, 180].
    const double p = (re == 0 && im == 0) ? 0.0 : std::atan2(im, re) * (180 / pi);
    *phase = p == -180 ? 180 : p;
}

void ToPolarArr(const QVector<double>& re, const QVector<double>& im, unsigned long n,
                double* mag, double* phase)
{
    n = std::min<unsigned long>(n, std::min(re.size(), im.size()));
    const double* r = re.constData();
    const double* i = im.constData();
    if (mag)
        for (unsigned long k = 0; k < n; ++k)
            mag[k] = std::sqrt(r[k] * r[k] + i[k] * i[k]);
    if (phase)
        for (unsigned long k = 0; k < n; ++k)
            ToPolarSgl(r[k], i[k], nullptr, &phase[k]);
}

void HanWin(float* w, unsigned long n, int itype)
{
    if (n == 0)
        return;
    // One point: a window of one sample keeps it (the periodic formula would
    // zero the only sample of a one-sample trace).
    if (n == 1) {
        w[0] = 1;
        return;
    }
    if (itype == 1) {
        w[0] = 0;
        for (unsigned long i = 1; i < n; ++i)
            w[i] = float(0.5 * (1 - std::cos(2 * pi * double(i) / double(n))));
    } else {
        for (unsigned long k = 0; k < n; ++k)
            w[k] = float(0.5 * (1 - std::cos(2 * pi * double(k + 1) / double(n + 1))));
    }
}

void HamWin(float* x, unsigned long n)
{
    // The weight divides by n - 1; one sample is left as it is.
    if (n < 2)
        return;
    for (unsigned long k = 0; k < n; ++k)
        x[k] = float(double(x[k]) * (0.54 - 0.46 * std::cos(2 * pi * double(k) / double(n - 1))));
}

void CnvWin(int which, IQDatStr* d)
{
    float* x = which == 0 ? d->I : d->Q;
    const unsigned long n = d->N;
    if (!x || n < 2)
        return;
    if (d->Typ == 3) {
        HamWin(x, n);
    } else if (d->Typ == 2) {
        // The weights HanWin writes for this length, applied without a
        // second array of n floats.
        for (unsigned long i = 1; i < n; ++i)
            x[i] *= float(0.5 * (1 - std::cos(2 * pi * double(i) / double(n))));
        x[0] = 0;
    }
}
