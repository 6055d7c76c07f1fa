// The "IQ Graph" dialog: spectrum, phase over frequency or I against Q of
// the samples in memory, built completely in the constructor.
#pragma once

#include "formats/iqdata.h"
#include "instrument/anastr.h"

#include <QDialog>

namespace Ui { class FftGraph; }
class QwtPlot;
class QwtPlotCurve;
class QwtPlotGrid;

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

private:
    void frequencyView(const IQDatStr* data, uint64_t n, double fs, int mode);
    void iqView(const IQDatStr* data, uint64_t n);
    void notice(QwtPlot* plot, const QString& text);

    Ui::FftGraph* ui;
    QwtPlotCurve* curve;
    QwtPlotGrid* grid;
};
