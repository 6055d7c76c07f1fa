#include "progressdialog.h"
#include "formats/iqdata.h"

#include <QCoreApplication>
#include <algorithm>
#include <QProgressDialog>

namespace {
constexpr int kSteps = 1000;
// Short work finishes without a dialog flashing up.
constexpr int kShowAfterMs = 300;
// How often the event loop runs while the work goes on.
constexpr qint64 kPumpMs = 40;
} // namespace

DialogProgress::~DialogProgress() { delete dlg_; }

QProgressDialog* DialogProgress::dialog() const { return dlg_; }

void DialogProgress::begin(const QString& label, uint64_t total)
{
    delete dlg_;
    total_ = total;
    dlg_ = new QProgressDialog(label, QStringLiteral("Cancel"), 0, kSteps, owner_);
    dlg_->setWindowModality(Qt::WindowModal);
    dlg_->setMinimumDuration(kShowAfterMs);
    dlg_->setAutoClose(false);
    dlg_->setAutoReset(false);
    // Cancel emits canceled(); Escape rejects the dialog. Either stops the work.
    QObject::connect(dlg_, &QProgressDialog::canceled, [] { EscFlg = 1; });
    QObject::connect(dlg_, &QDialog::rejected, [] { EscFlg = 1; });
    dlg_->setValue(0);
    pump_.start();
}

void DialogProgress::step(uint64_t done)
{
    if (!dlg_)
        return;
    int v = total_ ? int(std::min<uint64_t>(done, total_) * kSteps / total_) : 0;
    if (v >= kSteps)
        v = kSteps - 1;
    // A visible window-modal dialog processes events itself when its value
    // changes; the pump covers the time before it shows and slow stretches.
    if (v != dlg_->value())
        dlg_->setValue(v);
    if (pump_.elapsed() >= kPumpMs) {
        pump_.restart();
        // Until the dialog is up nothing blocks the window, so only
        // non-input events (its show timer, painting) are handled then.
        QCoreApplication::processEvents(dlg_->isVisible() ? QEventLoop::AllEvents
                                                          : QEventLoop::ExcludeUserInputEvents);
    }
}

void DialogProgress::end()
{
    delete dlg_;
}
