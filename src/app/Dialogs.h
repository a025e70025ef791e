#pragma once

#include "engine/JobHost.h"

#include <QString>

class QFileDialog;
class QWidget;

namespace lodestrum::app {

// The modal boxes and dialogs the program shows. Tests install a scripted
// implementation; the program uses QtDialogs.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // An error box with a stop icon and OK; detail, when given, is shown
    // below the text (a file name and line, a system reason).
    virtual void Error(QWidget* parent, const QString& title, const QString& text,
                       const QString& detail = {}) = 0;
    virtual bool YesNo(QWidget* parent, const QString& title, const QString& text,
                       engine::MessageIcon icon) = 0;
    // Runs a prepared save dialog; true when the user confirmed a name.
    virtual bool RunSaveDialog(QFileDialog& dialog) = 0;
    // The standard error box: captioned with the application title, showing
    // the error's own text.
    virtual void StandardError(QWidget* parent, const QString& text) = 0;
};

// Message boxes and QFileDialog. With AutoAnswer every box is answered at
// once (OK, No, Cancel) and its text goes to standard error, for scripted runs.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(bool autoAnswer = false) : AutoAnswer(autoAnswer) {}

    void Error(QWidget* parent, const QString& title, const QString& text,
               const QString& detail) override;
    bool YesNo(QWidget* parent, const QString& title, const QString& text,
               engine::MessageIcon icon) override;
    bool RunSaveDialog(QFileDialog& dialog) override;
    void StandardError(QWidget* parent, const QString& text) override;

private:
    bool AutoAnswer;
};

} // namespace lodestrum::app
