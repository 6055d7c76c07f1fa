// Every modal question the window asks goes through one object, so tests can
// answer it without a person; the default implementation is the plain Qt
// message boxes and file dialogs.
#pragma once

#include <QString>

class QDialog;
class QWidget;

class Prompts {
public:
    virtual ~Prompts() = default;
    // A warning box with one OK button; info, when not empty, is shown as
    // the box's informative text.
    virtual void warning(QWidget* parent, const QString& title, const QString& text,
                         const QString& info = QString());
    virtual void critical(QWidget* parent, const QString& title, const QString& text);
    virtual void about(QWidget* parent, const QString& title, const QString& text);
    // The chosen path, or empty when the dialog was cancelled.
    virtual QString openFile(QWidget* parent, const QString& caption, const QString& dir,
                             const QString& filter);
    // askOverwrite: the dialog itself asks before an existing file is
    // chosen; without it the caller asks when it is about to write.
    virtual QString saveFile(QWidget* parent, const QString& caption, const QString& dir,
                             const QString& filter, bool askOverwrite);
    // A question with Yes and No; true for Yes. No is the default answer.
    virtual bool question(QWidget* parent, const QString& title, const QString& text);
    // Runs a dialog of the window modally; its QDialog::DialogCode.
    virtual int exec(QDialog* dialog);
};

Prompts& Ask();
// Installs another answerer; null restores the Qt dialogs.
void SetPrompts(Prompts* p);
