// The window's side of the core's progress reports: a window-modal progress
// dialog whose Cancel button (or Escape) raises EscFlg.
#pragma once

#include "formats/progress.h"

#include <QElapsedTimer>
#include <QPointer>

class QProgressDialog;
class QWidget;

class DialogProgress : public Progress {
public:
    explicit DialogProgress(QWidget* owner) : owner_(owner) {}
    ~DialogProgress() override;
    void begin(const QString& label, uint64_t total) override;
    void step(uint64_t done) override;
    void end() override;
    // The dialog of the work in progress, null between reports.
    QProgressDialog* dialog() const;

private:
    QWidget* owner_;
    QPointer<QProgressDialog> dlg_;
    uint64_t total_ = 0;
    QElapsedTimer pump_;
};
