#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace lodestrum::app {

class UrlLabel;

// The dialog shown instead of the window when the port driver cannot be loaded.
class TDllErrDlg : public QDialog {
public:
    explicit TDllErrDlg(QWidget* parent = nullptr);

    QFrame* Bevel1 = nullptr;
    QLabel* Label1 = nullptr;
    UrlLabel* ProUrlLabel1 = nullptr;
    QPushButton* OKBtn = nullptr;
};

} // namespace lodestrum::app
