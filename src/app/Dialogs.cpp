#include "app/Dialogs.h"

#include "app/Messages.h"

#include <QFileDialog>
#include <QMessageBox>

#include <cstdio>

namespace lodestrum::app {

namespace {

void Tell(const QString& title, const QString& text, const QString& detail = {}) {
    QString line = title + ": " + text;
    if (!detail.isEmpty()) line += " (" + detail + ")";
    std::fprintf(stderr, "lodestrum: %s\n", line.toLocal8Bit().constData());
}

} // namespace

void QtDialogs::Error(QWidget* parent, const QString& title, const QString& text,
                      const QString& detail) {
    if (AutoAnswer) return Tell(title, text, detail);
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    if (!detail.isEmpty()) box.setInformativeText(detail);
    box.exec();
}

bool QtDialogs::YesNo(QWidget* parent, const QString& title, const QString& text,
                      engine::MessageIcon icon) {
    if (AutoAnswer) {
        Tell(title, text);
        return false;
    }
    QMessageBox box(icon == engine::MessageIcon::Stop ? QMessageBox::Critical
                                                      : QMessageBox::Information,
                    title, text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

bool QtDialogs::RunSaveDialog(QFileDialog& dialog) {
    if (AutoAnswer) {
        Tell(dialog.windowTitle(), QStringLiteral("cancelled"));
        return false;
    }
    return dialog.exec() == QDialog::Accepted;
}

void QtDialogs::StandardError(QWidget* parent, const QString& text) {
    const QString title = QString::fromUtf8(text::ApplicationTitle);
    if (AutoAnswer) return Tell(title, text);
    QMessageBox::critical(parent, title, text);
}

} // namespace lodestrum::app
