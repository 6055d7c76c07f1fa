// The parameters of the analog baseband input, edited in place on the
// acquisition settings while the dialog is open.
#pragma once

#include "instrument/anastr.h"

#include <QDialog>

namespace Ui {
class Aiq;
}

class Aiq : public QDialog {
    Q_OBJECT
public:
    Aiq(AnaStr* settings, QWidget* parent = nullptr);
    ~Aiq() override;

    // The voltage of each entry of the range list, in list order.
    static double RangeOf(int position);
    // The entry nearest a stored voltage.
    static int PositionOf(double volts);

private slots:
    void on_IQRng_currentIndexChanged(int index);
    void on_IQOfs_valueChanged(double value);

private:
    Ui::Aiq* ui;
    AnaStr* a;
};
