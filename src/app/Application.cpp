#include "app/Application.h"

#include "app/Dialogs.h"
#include "app/Messages.h"

#include <exception>
#include <string>

namespace lodestrum::app {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(text::ApplicationTitle));
    setDesktopFileName(QStringLiteral("lodestrum"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        Report(QString::fromUtf8(e.what()));
    } catch (...) {
        Report(QString::fromUtf8(text::UnknownError));
    }
    return false;
}

void Application::Report(const QString& text) {
    ++Shown;
    if (!Prompts) Prompts = std::make_shared<QtDialogs>();
    Prompts->StandardError(activeWindow(), text);
}

void ShowingErrors(const std::function<void()>& handler) {
    QString error;
    try {
        handler();
        return;
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    } catch (...) {
        error = QString::fromUtf8(text::UnknownError);
    }
    if (auto* application = dynamic_cast<Application*>(QCoreApplication::instance()))
        application->Report(error);
    else
        QtDialogs().StandardError(nullptr, error);
}

std::string CommandLinePath(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    const auto first = line.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : line.substr(first);
}

} // namespace lodestrum::app
