#include "aiq.h"
#include "ui_aiq.h"

#include "instrument/devlimits.h"

#include <cmath>
#include <iterator>

namespace {
// What the list texts say, in volts.
constexpr double kRanges[] = {0.0316, 0.0562, 0.1, 0.178, 0.316, 0.562, 1, 1.78, 3.16, 5.62};
constexpr int kCount = int(std::size(kRanges));
} // namespace

double Aiq::RangeOf(int position)
{
    return kRanges[position < 0 ? 0 : position >= kCount ? kCount - 1 : position];
}

int Aiq::PositionOf(double volts)
{
    // The steps are even on a log scale, so the nearest entry is nearest in
    // ratio; a value that is no voltage at all shows the first entry.
    int best = 0;
    for (int k = 1; k < kCount; ++k)
        if (std::fabs(std::log(volts / kRanges[k])) < std::fabs(std::log(volts / kRanges[best])))
            best = k;
    return best;
}

Aiq::Aiq(AnaStr* settings, QWidget* parent) : QDialog(parent), ui(new Ui::Aiq), a(settings)
{
    ui->setupUi(this);
    ui->IQRng->blockSignals(true);
    ui->IQRng->setCurrentIndex(PositionOf(a->AnaRange));
    ui->IQRng->blockSignals(false);
    ui->IQOfs->setValue(a->AnaOfs);
}

Aiq::~Aiq() { delete ui; }

void Aiq::on_IQRng_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    double v = RangeOf(index);
    // A high-impedance input takes no more than 1.78 V; the list then shows
    // the range really stored.
    if (a->HighImp && v > kAnaRangeHighImp) {
        v = kAnaRangeHighImp;
        ui->IQRng->blockSignals(true);
        ui->IQRng->setCurrentIndex(PositionOf(v));
        ui->IQRng->blockSignals(false);
    }
    a->AnaRange = v;
}

void Aiq::on_IQOfs_valueChanged(double value) { a->AnaOfs = value; }
