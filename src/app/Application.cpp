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
