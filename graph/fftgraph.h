// The "IQ Graph" dialog: spectrum, phase over frequency or I against Q of
// the samples in memory, built completely in the constructor. Drag a
// rectangle to zoom, turn the wheel to zoom, drag with the middle button to
// pan, right-click or press Home to see everything again; the cursor's
// position is read out beside it.
#pragma once

#include "formats/iqdata.h"
#include "instrument/anastr.h"

#include <QDialog>

namespace Ui { class FftGraph; }
class QwtPlot;
class QwtPlotCurve;
class QwtPlotGrid;
class QwtPlotMarker;
class GraphZoomer;

class FftGraph : public QDialog {
    Q_OBJECT
public:
    // The view follows data->GrfMode: 0 spectrum, 1 I vs. Q, 2 phase (the
    // group-delay button). Trace data (SrcTab != 0) takes its sample count
    // and rate from settings. Neither record is changed.
    FftGraph(IQDatStr* data, AnaStr* settings, QWidget* parent = nullptr);
    ~FftGraph() override;

    // Most points any view draws.
    static constexpr uint64_t MaxPoints = 0x100000;
    // Floor of the level axis, dB below the strongest bin.
    static constexpr double FloorDb = -200;
    // Curves of at most this many points are drawn with a wide pen.
    static constexpr size_t WidePenPoints = 16384;

    // What the cursor readout says at a point of the shown plot's canvas:
    // for the frequency views the frequency there and the curve's value at
    // that frequency, for I vs. Q the point's I and Q.
    QString readout(const QPoint& canvasPos) const;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void frequencyView(const IQDatStr* data, uint64_t n, double fs, int mode);
    void iqView(const IQDatStr* data, uint64_t n);
    void notice(QwtPlot* plot, const QString& text);
    void markPeak(double f, double level);
    QwtPlot* shown() const;

    Ui::FftGraph* ui;
    QwtPlotCurve* curve;
    QwtPlotGrid* grid;
    QwtPlotMarker* peak = nullptr;
    GraphZoomer* zoomer = nullptr;
    int mode = 0;
    // Decimals that tell neighbouring bins apart, in MHz.
    int freqDecimals = 3;
};
