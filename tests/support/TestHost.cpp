#include "support/TestHost.h"

#include <future>

namespace lodestrum::testkit {

TestHost::TestHost() : Window([this] { Loop(); }) {}

TestHost::~TestHost() {
    {
        std::lock_guard lock(Mutex);
        Quit = true;
    }
    Wake.notify_all();
    Window.join();
}

void TestHost::Loop() {
    for (;;) {
        std::function<void()> fn;
        {
            std::unique_lock lock(Mutex);
            Wake.wait(lock, [&] { return Quit || !Queue.empty(); });
            if (Queue.empty()) return;
            fn = std::move(Queue.front());
            Queue.pop_front();
            Busy = true;
        }
        fn();
        {
            std::lock_guard lock(Mutex);
            Busy = false;
        }
        Wake.notify_all();
    }
}

void TestHost::Synchronize(const std::function<void()>& fn) {
    std::promise<void> done;
    auto finished = done.get_future();
    Post([&] {
        fn();
        done.set_value();
    });
    finished.wait();
}

void TestHost::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(Mutex);
        Queue.push_back(std::move(fn));
    }
    Wake.notify_all();
}

void TestHost::RunOnWindowThread(const std::function<void()>& fn) { Synchronize(fn); }

void TestHost::Record(std::string event) {
    std::lock_guard lock(Mutex);
    if (std::this_thread::get_id() != Window.get_id()) OffThreadCall = true;
    Log.push_back(std::move(event));
}

void TestHost::ShowStatus(const std::string& text) { Record("status:" + text); }
void TestHost::ShowCalcType(uint8_t calcType, const std::string& name) {
    Record("calctype:" + std::to_string(calcType) + ":" + name);
}
void TestHost::ShowProgress(int percent) { Record("progress:" + std::to_string(percent)); }
void TestHost::RefreshFileList() { Record("refresh"); }
void TestHost::ShowError(const std::string& title, const std::string& text) {
    Record("error:" + title + ":" + text);
}

bool TestHost::AskYesNo(const std::string& title, const std::string& text, engine::MessageIcon) {
    Record("ask:" + title + ":" + text);
    std::lock_guard lock(Mutex);
    if (YesNo.empty()) return false;
    const bool answer = YesNo.front();
    YesNo.pop_front();
    return answer;
}

std::optional<std::string> TestHost::AskSaveFileName(const engine::SaveDialogRequest& request) {
    Record("save:" + request.Title + ":" + request.FileName + ":" +
           std::to_string(request.FilterIndex));
    std::lock_guard lock(Mutex);
    if (SaveAnswers.empty()) return std::nullopt;
    auto answer = SaveAnswers.front();
    SaveAnswers.pop_front();
    return answer;
}

void TestHost::ShowScreenImage(const engine::MonoImage& image) {
    Record("image:" + std::to_string(image.Width) + "x" + std::to_string(image.Height));
    std::lock_guard lock(Mutex);
    Image = image;
}

void TestHost::SelectLinkPort(int index) { Record("port:" + std::to_string(index)); }

void TestHost::JobEnded(engine::JobOutcome outcome, int) {
    {
        std::lock_guard lock(Mutex);
        if (std::this_thread::get_id() != Window.get_id()) OffThreadCall = true;
        Ended.push_back(outcome);
    }
    Wake.notify_all();
}

bool TestHost::WaitForJobsEnded(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(Mutex);
    // The completion handler runs after JobEnded; wait until the queue has
    // drained too, so the job has deleted itself.
    return Wake.wait_for(lock, timeout, [&] {
        return static_cast<int>(Ended.size()) >= count && Queue.empty() && !Busy;
    });
}

void TestHost::QueueYesNo(bool answer) {
    std::lock_guard lock(Mutex);
    YesNo.push_back(answer);
}

void TestHost::QueueSaveAnswer(std::optional<std::string> answer) {
    std::lock_guard lock(Mutex);
    SaveAnswers.push_back(std::move(answer));
}

std::vector<std::string> TestHost::Events() const {
    std::lock_guard lock(Mutex);
    return Log;
}

std::vector<int> TestHost::ProgressValues() const {
    std::vector<int> values;
    for (const auto& e : Events())
        if (e.rfind("progress:", 0) == 0) values.push_back(std::stoi(e.substr(9)));
    return values;
}

std::vector<std::string> TestHost::Statuses() const {
    std::vector<std::string> values;
    for (const auto& e : Events())
        if (e.rfind("status:", 0) == 0) values.push_back(e.substr(7));
    return values;
}

int TestHost::Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& e : Events())
        if (e.rfind(prefix, 0) == 0) ++n;
    return n;
}

void TestHost::ClearEvents() {
    std::lock_guard lock(Mutex);
    Log.clear();
}

int TestHost::JobsEnded() const {
    std::lock_guard lock(Mutex);
    return static_cast<int>(Ended.size());
}

std::vector<engine::JobOutcome> TestHost::Outcomes() const {
    std::lock_guard lock(Mutex);
    return Ended;
}

std::optional<engine::MonoImage> TestHost::LastImage() const {
    std::lock_guard lock(Mutex);
    return Image;
}

} // namespace lodestrum::testkit
