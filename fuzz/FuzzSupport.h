#pragma once

#include "engine/TTransT.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace lodestrum::fuzz {

// The calculator's side of a job's link, played by the fuzzer: what the PC
// sends is thrown away, what it reads comes from `incoming` until that runs
// out, and then the job is stopped, as a user would stop a silent calculator.
class ScriptedLink : public engine::VirtualCable {
  public:
    explicit ScriptedLink(std::span<const uint8_t> incoming) : Incoming(incoming) {}
    void Attach(engine::TTransThread* job) { Job.store(job); }

    bool RingHasData() override;
    uint8_t RingGetByte() override { return Incoming[Position++]; }
    bool RingHasRoom() override { return true; }
    bool RingPutByte(uint8_t value) override {
        ++Sent;
        (void)value;
        return true;
    }
    std::size_t BytesSent() const { return Sent; }

  private:
    std::span<const uint8_t> Incoming;
    std::size_t Position = 0;
    std::size_t Sent = 0;
    std::atomic<engine::TTransThread*> Job{nullptr};
};

// A front end that answers everything at once, from the caller's thread.
class FuzzHost : public engine::JobHost {
  public:
    void Synchronize(const std::function<void()>& fn) override { fn(); }
    void Post(std::function<void()> fn) override;
    void ShowStatus(const std::string&) override {}
    void ShowCalcType(uint8_t, const std::string&) override {}
    void ShowProgress(int) override {}
    void RefreshFileList() override {}
    void ShowError(const std::string&, const std::string&) override {}
    bool AskYesNo(const std::string&, const std::string&, engine::MessageIcon) override {
        return Answer;
    }
    std::optional<std::string> AskSaveFileName(const engine::SaveDialogRequest& request) override;
    void ShowScreenImage(const engine::MonoImage& image) override;

    // Waits for the job's completion and runs it (the job deletes itself).
    void RunCompletion();

    bool Answer = true;
    std::string SaveName; // empty: the dialog is cancelled

  private:
    std::mutex Mutex;
    std::condition_variable Posted;
    std::vector<std::function<void()>> Queue;
};

// Runs one job of `op` over the scripted link to its end, with the pauses
// skipped. `settings` as the window would fill them.
void RunJob(uint8_t op, const std::string& fileName, const engine::JobSettings& settings,
            uint8_t calcType, std::span<const uint8_t> incoming, FuzzHost& host);

// A fresh private folder the harness works in (files a job writes land there).
const std::string& WorkFolder();
void EmptyWorkFolder();

} // namespace lodestrum::fuzz
