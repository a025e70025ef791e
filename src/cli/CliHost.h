#pragma once

#include "cli/Console.h"
#include "cli/Options.h"
#include "engine/TTransT.h"

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace lodestrum::cli {

// The command-line front end's host: the main thread is "the window's
// thread", running what jobs marshal onto it from a queue, so jobs run as
// they do under the window. Questions and save dialogs are answered by the
// flags, or on the terminal.
class CliHost : public engine::JobHost {
public:
    // signalFd: a signalfd whose signals stop the run, or -1.
    CliHost(Console& console, AnswerMode answers, ExistingMode existing, int signalFd = -1);
    ~CliHost() override;
    CliHost(const CliHost&) = delete;
    CliHost& operator=(const CliHost&) = delete;

    void Synchronize(const std::function<void()>& fn) override;
    void Post(std::function<void()> fn) override;

    void ShowStatus(const std::string& text) override;
    void ShowCalcType(uint8_t calcType, const std::string& name) override;
    void ShowProgress(int percent) override;
    void RefreshFileList() override {}
    void ShowError(const std::string& title, const std::string& text) override;
    bool AskYesNo(const std::string& title, const std::string& text,
                  engine::MessageIcon icon) override;
    std::optional<std::string> AskSaveFileName(const engine::SaveDialogRequest& request) override;
    void ShowScreenImage(const engine::MonoImage& image) override;
    void SelectLinkPort(int index) override;
    void JobEnded(engine::JobOutcome outcome, int code) override;

    // Main thread: creates a job and runs the queue until the job has ended
    // and deleted itself. Returns how it ended.
    engine::JobOutcome RunJob(const std::string& path, uint8_t op, const engine::JobSettings& settings,
                              const engine::LinkEnvironment& environment,
                              std::atomic<uint8_t>& calcType);

    // Main thread: serve runs whenever fd is readable while jobs run or a
    // question waits (the virtual cable's messages).
    void Watch(int fd, std::function<void()> serve);

    // Any thread: the running job, and every job after it, is stopped.
    void RequestStop();
    bool StopRequested() const { return Stop.load(); }

    // Whether an existing file may be written over; asks when the flags do
    // not say. The tool's own question for names the user gave it.
    bool MayReplace(const std::string& path);

    // What the jobs told.
    int LastCode() const { return Code; }
    bool ErrorShown() const { return ErrorReported; }
    bool QuestionRefused() const { return Refused; }
    int PortsDetected() const { return Detected; }
    const std::optional<engine::MonoImage>& Image() const { return Screen; }

private:
    void RunQueueUntil(const std::function<bool()>& finished);
    void Wait();
    bool DrainWakeUps();
    void ServeIfReadable();
    Interruption ForQuestions();
    std::optional<bool> Decide(const std::string& title, const std::string& question);
    std::optional<std::string> FreeNameBeside(const std::string& path);

    Console& Out;
    AnswerMode Answers;
    ExistingMode Existing;
    int SignalFd;
    int WakeFd;
    int WatchedFd = -1;
    std::function<void()> ServeWatched;
    std::thread::id MainThread;
    std::mutex Mutex;
    std::deque<std::function<void()>> Queue;
    std::atomic<bool> Stop{false};
    bool StopTold = false;
    engine::TTransThread* Current = nullptr;

    engine::JobOutcome Outcome = engine::JobOutcome::Done;
    int Code = 0;
    bool ErrorReported = false;
    bool Refused = false;
    int Detected = 0;
    std::optional<engine::MonoImage> Screen;
};

// Whether a path names something that exists (a dangling link counts too).
bool PathExists(const std::string& path);

} // namespace lodestrum::cli
