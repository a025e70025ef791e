#pragma once

#include <QApplication>

#include <functional>
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

    // The standard error box, counted.
    void Report(const QString& text);

private:
    std::shared_ptr<Dialogs> Prompts;
    int Shown = 0;
};

// Runs an event handler and shows what it throws in the standard error box
// right there: an exception must not unwind through Qt's event delivery, which
// is not exception safe (it leaks the event and may leave the widget's state).
void ShowingErrors(const std::function<void()>& handler);

// The command line after the program's name: the arguments joined by single
// spaces, blanks before the first kept out, trailing ones kept.
std::string CommandLinePath(int argc, char** argv);

} // namespace lodestrum::app
