#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <array>

class QToolButton;

namespace lodestrum::app {

// True when name matches one of the ';'-separated masks ('*', '?'), without
// regard to case; "*.*" matches every name, with or without a dot.
bool MatchesMask(const QString& name, const QString& masks);

// The folder of `path` and its ancestors, then its subfolders, one per line;
// a double-click on a line is handled by the window, Enter opens it here.
class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget* parent = nullptr);

    QString Directory() const { return Current; }
    // False, and nothing changes, when the folder cannot be listed.
    bool SetDirectory(const QString& path);
    // The folder on the line under the cursor; empty when there is none.
    QString ItemDirectory() const;

signals:
    void DirectoryChanged(const QString& path);
    void DoubleClicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void Rebuild();
    QString Current;
};

// The mounted volumes; choosing one opens its root in the linked tree.
class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget* parent = nullptr);
    void SetDirList(TDirectoryListBox* list);

private:
    void Reload();
    void FollowDirectory(const QString& path);
    TDirectoryListBox* DirList = nullptr;
};

// The normal files of a folder that match the mask, sorted, several selectable.
class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget* parent = nullptr);

    QString Directory() const { return Dir; }
    void SetDirectory(const QString& path);
    QString Mask() const { return CurrentMask; }
    void SetMask(const QString& mask);
    // Re-reads the folder; selections are lost.
    void Update();
    // The folder and the file under the cursor; empty when there is none.
    QString FileName() const;
    int SelCount() const;
    // Makes the named file the current one; false when there is none.
    bool SelectFile(const QString& name);

signals:
    void Change();
    void KeyPress(int key);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString Dir;
    QString CurrentMask;
};

// Up and down arrows that step a position and write it into an edit.
class UpDown : public QWidget {
    Q_OBJECT
public:
    UpDown(int minimum, int maximum, int increment, QWidget* parent = nullptr);
    int Position() const { return Pos; }
    void SetPosition(int position);
    int Min() const { return Minimum; }
    int Max() const { return Maximum; }
    QToolButton* Up() const { return UpButton; }
    QToolButton* Down() const { return DownButton; }

signals:
    void Clicked(int position);

private:
    void Step(int direction);
    int Minimum, Maximum, Increment;
    int Pos;
    QToolButton* UpButton;
    QToolButton* DownButton;
};

// A status bar of sunken text panels of fixed widths.
class StatusBar : public QWidget {
public:
    StatusBar(std::array<int, 2> widths, QWidget* parent = nullptr);
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    QLabel* Panel(int index) const { return Panels.at(static_cast<size_t>(index)); }

private:
    std::array<QLabel*, 2> Panels{};
};

// A web address that opens in the browser; blue, red under the mouse.
class UrlLabel : public QLabel {
public:
    UrlLabel(const QString& url, QWidget* parent = nullptr);
    QUrl Url() const { return Address; }
    bool Hovered() const { return Hover; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Paint();
    QUrl Address;
    bool Hover = false;
};

// A picture that reports clicks.
class ClickImage : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void Clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// An edit that reports Enter instead of passing it on.
class KeyLineEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

signals:
    void KeyPress(int key);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace lodestrum::app
