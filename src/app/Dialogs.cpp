#include "app/Dialogs.h"

#include "app/Messages.h"

#include <QFileDialog>
#include <QMessageBox>

namespace lodestrum::app {

void QtDialogs::Error(QWidget* parent, const QString& title, const QString& text,
                      const QString& detail) {
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    if (!detail.isEmpty()) box.setInformativeText(detail);
    box.exec();
}

bool QtDialogs::YesNo(QWidget* parent, const QString& title, const QString& text,
                      engine::MessageIcon icon) {
    QMessageBox box(icon == engine::MessageIcon::Stop ? QMessageBox::Critical
                                                      : QMessageBox::Information,
                    title, text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

bool QtDialogs::RunSaveDialog(QFileDialog& dialog) { return dialog.exec() == QDialog::Accepted; }

void QtDialogs::StandardError(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QString::fromUtf8(text::ApplicationTitle), text);
}

} // namespace lodestrum::app
