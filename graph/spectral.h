// Fourier transform, polar conversion and the time windows applied to
// acquired traces. Core library: no widgets.
#pragma once

#include "formats/iqdata.h"

#include <QVector>

extern const double pi;

class IQSignal {
public:
    // In place on the first n values (n a power of two, at least 1):
    // X[k] = 1/sqrt(n) * sum x[i] * exp(+j*2*pi*k*i/n). The positive kernel
    // puts the component at frequency -k*fs/n into bin k; the graph window
    // depends on that orientation when it orders the bins.
    static void fft(QVector<double>* re, QVector<double>* im, unsigned int n);
};

// mag = |re + j*im|, phase = its angle in degrees in (-180, 180]; 0 for 0+0j.
// Either output may be null when the caller needs only the other one, and
// either may be re's own storage: each value is read before it is written.
void ToPolarArr(const QVector<double>& re, const QVector<double>& im, unsigned long n,
                double* mag, double* phase);
void ToPolarSgl(double re, double im, double* mag, double* phase);

// itype 1: periodic Hann window, w[i] = 0.5*(1 - cos(2*pi*i/n)); otherwise
// the symmetric form without zero ends, 0.5*(1 - cos(2*pi*(i+1)/(n+1))).
void HanWin(float* w, unsigned long n, int itype);
// Multiplies x by the symmetric Hamming window 0.54 - 0.46*cos(2*pi*k/(n-1)).
void HamWin(float* x, unsigned long n);
// Weights the I array (which 0) or the Q array (otherwise) of d by the window
// its type index selects: 2 periodic Hann, 3 Hamming, anything else none.
void CnvWin(int which, IQDatStr* d);
