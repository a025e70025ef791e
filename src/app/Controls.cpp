#include "app/Controls.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QStorageInfo>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace lodestrum::app {

namespace {

bool MatchOne(const QString& name, qsizetype n, const QString& mask, qsizetype m) {
    while (m < mask.size()) {
        const QChar c = mask[m];
        if (c == '*') {
            while (m < mask.size() && mask[m] == '*') ++m;
            if (m == mask.size()) return true;
            for (qsizetype k = n; k <= name.size(); ++k)
                if (MatchOne(name, k, mask, m)) return true;
            return false;
        }
        if (n >= name.size()) return false;
        if (c != '?' && c.toCaseFolded() != name[n].toCaseFolded()) return false;
        ++n;
        ++m;
    }
    return n == name.size();
}

bool IsReturn(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

} // namespace

bool MatchesMask(const QString& name, const QString& masks) {
    for (QString mask : masks.split(';', Qt::SkipEmptyParts)) {
        mask = mask.trimmed();
        if (mask == "*.*" || mask == "*") return true;
        // Runs of '*' are one star, so the backtracking stays polynomial.
        if (MatchOne(name, 0, mask, 0)) return true;
    }
    return false;
}

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    SetDirectory(QDir::currentPath());
}

bool TDirectoryListBox::SetDirectory(const QString& path) {
    QFileInfo info(path);
    if (path.isEmpty() || !info.isDir() || !info.isReadable() || !info.isExecutable())
        return false;
    const QString clean = QDir::cleanPath(info.absoluteFilePath());
    if (clean == Current) return true;
    Current = clean;
    Rebuild();
    emit DirectoryChanged(Current);
    return true;
}

QString TDirectoryListBox::ItemDirectory() const {
    const QListWidgetItem* item = currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

void TDirectoryListBox::Rebuild() {
    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QStringList chain;
    for (QDir d(Current);; ) {
        chain.prepend(d.absolutePath());
        if (d.isRoot() || !d.cdUp()) break;
    }
    int depth = 0;
    QListWidgetItem* currentLine = nullptr;
    for (const QString& p : chain) {
        const QString name = p == "/" ? QStringLiteral("/") : QFileInfo(p).fileName();
        auto* item = new QListWidgetItem(openIcon, QString(depth * 2, ' ') + name, this);
        item->setData(Qt::UserRole, p);
        currentLine = item;
        ++depth;
    }
    const QStringList subs =
        QDir(Current).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& s : subs) {
        auto* item = new QListWidgetItem(closedIcon, QString(depth * 2, ' ') + s, this);
        item->setData(Qt::UserRole, QDir(Current).filePath(s));
    }
    setCurrentItem(currentLine);
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
    if (IsReturn(event->key())) {
        SetDirectory(ItemDirectory());
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    emit DoubleClicked();
}

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) { Reload(); }

void TDriveComboBox::Reload() {
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && volume.isReady()) roots << volume.rootPath();
    roots.removeDuplicates();
    std::sort(roots.begin(), roots.end());
    if (!roots.contains("/")) roots.prepend("/");
    clear();
    addItems(roots);
}

void TDriveComboBox::SetDirList(TDirectoryListBox* list) {
    DirList = list;
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (DirList && !DirList->SetDirectory(itemText(index))) FollowDirectory(DirList->Directory());
    });
    connect(list, &TDirectoryListBox::DirectoryChanged, this, &TDriveComboBox::FollowDirectory);
    FollowDirectory(list->Directory());
}

void TDriveComboBox::FollowDirectory(const QString& path) {
    const QString root = QStorageInfo(path).rootPath();
    int index = findText(root);
    if (index < 0 && !root.isEmpty()) {
        addItem(root);
        index = count() - 1;
    }
    setCurrentIndex(index);
}

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(this, &QListWidget::itemSelectionChanged, this, &TFileListBox::Change);
}

void TFileListBox::SetDirectory(const QString& path) {
    Dir = path;
    Update();
}

void TFileListBox::SetMask(const QString& mask) {
    CurrentMask = mask;
    Update();
}

void TFileListBox::Update() {
    {
        const QSignalBlocker block(this);
        clear();
        QDir d(Dir);
        QStringList names;
        if (!Dir.isEmpty()) {
            for (const QFileInfo& info : d.entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
                if (!info.isFile() || info.isHidden()) continue;
                if (MatchesMask(info.fileName(), CurrentMask)) names << info.fileName();
            }
        }
        std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
            const int c = a.compare(b, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a < b;
        });
        addItems(names);
        if (count() > 0) setCurrentRow(0, QItemSelectionModel::NoUpdate);
    }
    emit Change();
}

QString TFileListBox::FileName() const {
    const QListWidgetItem* item = currentItem();
    if (!item) return {};
    return QDir(Dir).filePath(item->text());
}

int TFileListBox::SelCount() const { return static_cast<int>(selectedItems().size()); }

bool TFileListBox::SelectFile(const QString& name) {
    QList<QListWidgetItem*> found = findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found.isEmpty()) found = findItems(name, Qt::MatchFixedString);
    if (found.isEmpty()) return false;
    setCurrentItem(found.first(), QItemSelectionModel::ClearAndSelect);
    return true;
}

void TFileListBox::keyPressEvent(QKeyEvent* event) {
    if (IsReturn(event->key())) {
        emit KeyPress(event->key());
        return;
    }
    QListWidget::keyPressEvent(event);
}

void KeyLineEdit::keyPressEvent(QKeyEvent* event) {
    if (IsReturn(event->key())) {
        emit KeyPress(event->key());
        return;
    }
    QLineEdit::keyPressEvent(event);
}

UpDown::UpDown(int minimum, int maximum, int increment, QWidget* parent)
    : QWidget(parent), Minimum(minimum), Maximum(maximum), Increment(increment), Pos(minimum) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    UpButton = new QToolButton(this);
    UpButton->setArrowType(Qt::UpArrow);
    DownButton = new QToolButton(this);
    DownButton->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {UpButton, DownButton}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(b);
    }
    connect(UpButton, &QToolButton::clicked, this, [this] { Step(1); });
    connect(DownButton, &QToolButton::clicked, this, [this] { Step(-1); });
}

void UpDown::SetPosition(int position) { Pos = std::clamp(position, Minimum, Maximum); }

void UpDown::Step(int direction) {
    SetPosition(Pos + direction * Increment);
    emit Clicked(Pos);
}

StatusBar::StatusBar(std::array<int, 2> widths, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (size_t i = 0; i < Panels.size(); ++i) {
        auto* panel = new QLabel(this);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setFixedWidth(widths[i]);
        panel->setContentsMargins(2, 0, 2, 0);
        layout->addWidget(panel);
        Panels[i] = panel;
    }
    layout->addStretch();
}

QString StatusBar::PanelText(int index) const { return Panel(index)->text(); }
void StatusBar::SetPanelText(int index, const QString& text) { Panel(index)->setText(text); }

UrlLabel::UrlLabel(const QString& url, QWidget* parent) : QLabel(url, parent), Address(url) {
    setCursor(Qt::PointingHandCursor);
    setTextFormat(Qt::PlainText);
    Paint();
}

void UrlLabel::Paint() {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Hover ? Qt::red : Qt::blue);
    setPalette(p);
}

void UrlLabel::enterEvent(QEnterEvent* event) {
    Hover = true;
    Paint();
    QLabel::enterEvent(event);
}

void UrlLabel::leaveEvent(QEvent* event) {
    Hover = false;
    Paint();
    QLabel::leaveEvent(event);
}

void UrlLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        QDesktopServices::openUrl(Address);
    QLabel::mouseReleaseEvent(event);
}

void ClickImage::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked();
    QLabel::mouseReleaseEvent(event);
}

} // namespace lodestrum::app
