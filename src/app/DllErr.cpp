#include "app/DllErr.h"

#include "app/Controls.h"
#include "app/Messages.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace lodestrum::app {

TDllErrDlg::TDllErrDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(QString::fromUtf8(text::DriverCaption));
    setFixedSize(371, 107);
    setModal(true);
    QFont f = font();
    f.setPointSize(8);
    setFont(f);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(6, 6, 272, 95);
    Label1 = new QLabel(QString::fromUtf8(text::DriverText), this);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setGeometry(14, 12, 258, 62);
    ProUrlLabel1 = new UrlLabel(QString::fromUtf8(text::DriverUrl), this);
    ProUrlLabel1->setGeometry(14, 76, 258, 18);
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setGeometry(288, 8, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

} // namespace lodestrum::app
