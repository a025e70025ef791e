#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lodestrum::cli {

// What a question on the terminal must not outwait: readable descriptors
// wake it, and Stopped (which drains them) says whether to give up.
struct Interruption {
    std::vector<int> Fds;
    std::function<bool()> Stopped;
};

// The tool's output and its terminal. Status lines, message boxes and errors
// go to stderr as lines; progress is one redrawn line, and only when stderr is
// a terminal; questions go to the controlling terminal. Used from one thread.
class Console {
public:
    // ttyFd -1: there is no terminal to ask. Takes ownership of ttyFd.
    Console(int errFd, int ttyFd, bool quiet, bool progressBar);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    static std::unique_ptr<Console> ForProcess(bool quiet);

    bool CanAsk() const { return TtyFd >= 0; }
    bool Quiet() const { return IsQuiet; }

    void Status(const std::string& text);
    void Progress(int percent);
    // A line the user may do without (hidden by --quiet).
    void Note(const std::string& text);
    // A message box: title and text.
    void Box(const std::string& title, const std::string& text);
    // The tool's own error.
    void Error(const std::string& text);

    // nullopt when no answer could be had: no terminal, end of input, or a stop.
    std::optional<std::string> AskLine(const std::string& prompt, const Interruption& interruption);
    std::optional<bool> AskYesNo(const std::string& question, const Interruption& interruption);

private:
    void Line(const std::string& text);
    void ClearBar();
    void DrawBar();

    int ErrFd;
    int TtyFd;
    bool IsQuiet;
    bool BarWanted;
    bool BarShown = false;
    int Percent = 0;
};

} // namespace lodestrum::cli
