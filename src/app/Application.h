#pragma once

#include <QApplication>

#include <memory>

namespace lodestrum::app {

class Dialogs;

// Shows an error that escapes an event handler in the standard error box;
// the program goes on.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    void SetPrompts(std::shared_ptr<Dialogs> prompts) { Prompts = std::move(prompts); }
    // How many errors were shown this way.
    int ErrorsShown() const { return Shown; }

private:
    void Report(const QString& text);
    std::shared_ptr<Dialogs> Prompts;
    int Shown = 0;
};

// The command line after the program's name: the arguments joined by single
// spaces, blanks before the first kept out, trailing ones kept.
std::string CommandLinePath(int argc, char** argv);

} // namespace lodestrum::app
