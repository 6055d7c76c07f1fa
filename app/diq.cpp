#include "diq.h"
#include "ui_diq.h"

#include "instrument/devlimits.h"

Diq::Diq(AnaStr* settings, QWidget* parent) : QDialog(parent), ui(new Ui::Diq), a(settings)
{
    ui->setupUi(this);
    // Half the range is the scale divisor of digital samples, so it must not
    // reach 0; the rate is what the instrument's digital interface runs at.
    ui->IQRng->setRange(kDigRangeMin, kDigRangeMax);
    ui->InpSRat->setRange(kDigSRateMin, kDigSRateMax);
    // Shown as stored; a stored value outside the limits is brought within
    // them by the spin box, and that is what the settings then hold.
    ui->IQRng->setValue(a->DigRange);
    ui->InpSRat->setValue(a->DigSRate);
    a->DigRange = ui->IQRng->value();
    a->DigSRate = ui->InpSRat->value();
}

Diq::~Diq() { delete ui; }

void Diq::on_IQRng_valueChanged(double value) { a->DigRange = value; }
void Diq::on_InpSRat_valueChanged(double value) { a->DigSRate = value; }
