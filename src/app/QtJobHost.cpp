#include "app/QtJobHost.h"

#include "app/MainDlg.h"

#include <QCoreApplication>
#include <QThread>

namespace lodestrum::app {

QtJobHost::QtJobHost(TTranDlg& window, std::shared_ptr<Dialogs> prompts)
    : Window(&window), Prompts(std::move(prompts)) {}

void QtJobHost::Synchronize(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void QtJobHost::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

void QtJobHost::ShowStatus(const std::string& text) {
    if (Window) Window->ShowStatusText(QString::fromStdString(text));
}

void QtJobHost::ShowCalcType(uint8_t calcType, const std::string& name) {
    if (Window) Window->ShowCalcTypeOf(calcType, QString::fromStdString(name));
}

void QtJobHost::ShowProgress(int percent) {
    if (Window) Window->ShowProgressOf(percent);
}

void QtJobHost::RefreshFileList() {
    if (Window) Window->RefreshFiles();
}

void QtJobHost::ShowError(const std::string& title, const std::string& text) {
    Prompts->Error(Window, QString::fromStdString(title), QString::fromStdString(text));
}

bool QtJobHost::AskYesNo(const std::string& title, const std::string& text,
                         engine::MessageIcon icon) {
    return Prompts->YesNo(Window, QString::fromStdString(title), QString::fromStdString(text),
                          icon);
}

std::optional<std::string> QtJobHost::AskSaveFileName(const engine::SaveDialogRequest& request) {
    if (!Window) return std::nullopt;
    return Window->AskSaveFileName(request);
}

void QtJobHost::ShowScreenImage(const engine::MonoImage& image) {
    if (Window) Window->ShowScreenImage(image);
}

void QtJobHost::SelectLinkPort(int index) {
    if (Window) Window->SelectLinkPort(index);
}

} // namespace lodestrum::app
