// The parameters of the digital baseband input, edited in place on the
// acquisition settings while the dialog is open.
#pragma once

#include "instrument/anastr.h"

#include <QDialog>

namespace Ui {
class Diq;
}

class Diq : public QDialog {
    Q_OBJECT
public:
    Diq(AnaStr* settings, QWidget* parent = nullptr);
    ~Diq() override;

private slots:
    void on_IQRng_valueChanged(double value);
    void on_InpSRat_valueChanged(double value);

private:
    Ui::Diq* ui;
    AnaStr* a;
};
