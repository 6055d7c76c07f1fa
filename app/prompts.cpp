#include "prompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace {
Prompts qtPrompts;
Prompts* current = &qtPrompts;
}

Prompts& Ask() { return *current; }
void SetPrompts(Prompts* p) { current = p ? p : &qtPrompts; }

void Prompts::warning(QWidget* parent, const QString& title, const QString& text, const QString& info)
{
    if (info.isEmpty()) {
        QMessageBox::warning(parent, title, text, QMessageBox::Ok);
        return;
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.setInformativeText(info);
    box.exec();
}

void Prompts::critical(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}

void Prompts::about(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::about(parent, title, text);
}

QString Prompts::openFile(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString Prompts::saveFile(QWidget* parent, const QString& caption, const QString& dir, const QString& filter,
                          bool askOverwrite)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, nullptr,
                                        askOverwrite ? QFileDialog::Options() : QFileDialog::DontConfirmOverwrite);
}

bool Prompts::question(QWidget* parent, const QString& title, const QString& text)
{
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
           == QMessageBox::Yes;
}

int Prompts::exec(QDialog* dialog) { return dialog->exec(); }
