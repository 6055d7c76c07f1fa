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

// Cosine and sine of every stage's twiddles, stage after stage: for the
// stage of half-span h, entry h + j holds exp(+j*2*pi*j/(2h)), j < h. The
// largest stage is the product of a coarse and a fine table, so only about
// 2*sqrt(n) sines and cosines are evaluated and every entry stays within a
// few ulps; the smaller stages are subsamples of it.
void twiddles(std::vector<double>& c, std::vector<double>& s, unsigned n)
{
    c.resize(n);
    s.resize(n);
    const unsigned h = n / 2;
    unsigned fine = 1;
    while (uint64_t(fine) * fine < h)
        fine <<= 1;
    std::vector<double> fc(fine), fs(fine);
    for (unsigned b = 0; b < fine; ++b) {
        fc[b] = std::cos(2 * pi * b / n);
        fs[b] = std::sin(2 * pi * b / n);
    }
    for (unsigned a = 0; a < h; a += fine) {
        const double cc = std::cos(2 * pi * a / n), cs = std::sin(2 * pi * a / n);
        double* cr = &c[h + a];
        double* sr = &s[h + a];
        for (unsigned b = 0; b < fine; ++b) {
            cr[b] = cc * fc[b] - cs * fs[b];
            sr[b] = cc * fs[b] + cs * fc[b];
        }
    }
    for (unsigned k = h / 2; k >= 1; k /= 2)
        for (unsigned j = 0; j < k; ++j) {
            c[k + j] = c[2 * k + 2 * j];
            s[k + j] = s[2 * k + 2 * j];
        }
}

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

// Reorders x from bit-reversed to natural order.
void bitReverse(double* re, double* im, unsigned n)
{
    unsigned j = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        unsigned m = n >> 1;
        while (m && (j & m)) {
            j ^= m;
            m >>= 1;
        }
        j |= m;
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
    std::vector<double> c, s;
    twiddles(c, s, n);

    unsigned span = n;
    for (; span > kBlock; span /= 2) {
        const unsigned h = span / 2;
        for (unsigned base = 0; base < n; base += span)
            butterflies(xr + base, xi + base, xr + base + h, xi + base + h, &c[h], &s[h], h);
    }
    // The last stage has the twiddle 1 and carries the 1/sqrt(n) scaling.
    const double scale = 1.0 / std::sqrt(double(n));
    for (unsigned blk = 0; blk < n; blk += span) {
        for (unsigned sp = span; sp > 2; sp /= 2) {
            const unsigned h = sp / 2;
            for (unsigned base = blk; base < blk + span; base += sp)
                butterflies(xr + base, xi + base, xr + base + h, xi + base + h, &c[h], &s[h], h);
        }
        for (unsigned a = blk; a < blk + span; a += 2) {
            const double r0 = xr[a], r1 = xr[a + 1], i0 = xi[a], i1 = xi[a + 1];
            xr[a] = (r0 + r1) * scale;
            xi[a] = (i0 + i1) * scale;
            xr[a + 1] = (r0 - r1) * scale;
            xi[a + 1] = (i0 - i1) * scale;
        }
    }
    bitReverse(xr, xi, n);
}

void ToPolarSgl(double re, double im, double* mag, double* phase)
{
    if (mag)
        *mag = std::sqrt(re * re + im * im);
    if (phase)
        *phase = (re == 0 && im == 0) ? 0.0 : std::atan2(im, re) * (180 / pi);
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
