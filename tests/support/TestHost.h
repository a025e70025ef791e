#pragma once

#include "engine/JobHost.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lodestrum::testkit {

// A front end for tests: it runs its own "window thread" that executes what
// jobs marshal onto it, records every display call in order, and answers
// questions and save dialogs from a script.
class TestHost : public engine::JobHost {
public:
    TestHost();
    ~TestHost() override;

    void Synchronize(const std::function<void()>& fn) override;
    void Post(std::function<void()> fn) override;

    void ShowStatus(const std::string& text) override;
    void ShowCalcType(uint8_t calcType, const std::string& name) override;
    void ShowProgress(int percent) override;
    void RefreshFileList() override;
    void ShowError(const std::string& title, const std::string& text) override;
    bool AskYesNo(const std::string& title, const std::string& text,
                  engine::MessageIcon icon) override;
    std::optional<std::string> AskSaveFileName(const engine::SaveDialogRequest& request) override;
    void ShowScreenImage(const engine::MonoImage& image) override;
    void SelectLinkPort(int index) override;
    void JobEnded(engine::JobOutcome outcome, int code) override;

    // Runs fn on the window thread and waits for it (for tests that create jobs
    // from "the window", as the real front ends do).
    void RunOnWindowThread(const std::function<void()>& fn);
    // Waits until `count` jobs have run their completion; false on time-out.
    bool WaitForJobsEnded(int count, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool OnWindowThread() const { return std::this_thread::get_id() == Window.get_id(); }

    // Script: answers for AskYesNo and AskSaveFileName, taken in order; when
    // the script runs out, questions are answered No and dialogs cancelled.
    void QueueYesNo(bool answer);
    void QueueSaveAnswer(std::optional<std::string> answer);

    // What the window saw, in order: "status:TEXT", "calctype:N:NAME",
    // "progress:N", "refresh", "error:TITLE:TEXT", "ask:TITLE:TEXT",
    // "save:TITLE:NAME:INDEX", "image:WxH", "port:N".
    std::vector<std::string> Events() const;
    std::vector<int> ProgressValues() const;
    std::vector<std::string> Statuses() const;
    int Count(const std::string& prefix) const;
    void ClearEvents();
    int JobsEnded() const;
    std::vector<engine::JobOutcome> Outcomes() const;
    std::optional<engine::MonoImage> LastImage() const;
    // True when every host call arrived on the window thread.
    bool AllCallsOnWindowThread() const { return !OffThreadCall; }

private:
    void Record(std::string event);
    void Loop();

    mutable std::mutex Mutex;
    std::condition_variable Wake;
    std::deque<std::function<void()>> Queue;
    bool Quit = false;
    bool Busy = false;
    std::vector<std::string> Log;
    std::deque<bool> YesNo;
    std::deque<std::optional<std::string>> SaveAnswers;
    std::vector<engine::JobOutcome> Ended;
    std::optional<engine::MonoImage> Image;
    bool OffThreadCall = false;
    std::thread Window;
};

} // namespace lodestrum::testkit
