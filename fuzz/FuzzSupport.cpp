#include "FuzzSupport.h"

#include "transfers/Transfers.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace lodestrum::fuzz {

bool ScriptedLink::RingHasData() {
    if (Position < Incoming.size()) return true;
    if (auto* job = Job.load()) job->Terminate();
    return false;
}

void FuzzHost::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(Mutex);
        Queue.push_back(std::move(fn));
    }
    Posted.notify_all();
}

std::optional<std::string> FuzzHost::AskSaveFileName(const engine::SaveDialogRequest&) {
    if (SaveName.empty()) return std::nullopt;
    return SaveName;
}

void FuzzHost::ShowScreenImage(const engine::MonoImage& image) {
    // Touch every byte, so a size that disagrees with the bits shows up.
    volatile uint8_t sink = 0;
    for (uint8_t b : image.Bits)
        sink = sink ^ b;
    (void)sink;
}

void FuzzHost::RunCompletion() {
    std::vector<std::function<void()>> work;
    {
        std::unique_lock lock(Mutex);
        Posted.wait(lock, [&] { return !Queue.empty(); });
        work.swap(Queue);
    }
    for (auto& fn : work)
        fn();
}

namespace {
void NoPause(int) {}
const std::string* LeftAtExit = nullptr;
} // namespace

void RunJob(uint8_t op, const std::string& fileName, const engine::JobSettings& settings,
            uint8_t calcType, std::span<const uint8_t> incoming, FuzzHost& host) {
    ScriptedLink link(incoming);
    engine::LinkEnvironment env;
    env.Virtual = &link;
    env.Transfers = &transfers::DefaultTransfers();
    env.Sleep = &NoPause;
    engine::JobSettings s = settings;
    s.UseVirtualLink = true;
    std::atomic<uint8_t> type{calcType};
    // Until the link knows the job it cannot stop it; the worker spins on
    // an empty link for that moment.
    auto* job = engine::TTransThread::Create(fileName, op, s, env, host, type);
    link.Attach(job);
    host.RunCompletion();
}

const std::string& WorkFolder() {
    static const std::string folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lodestrum-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        if (::chdir(pattern.c_str()) != 0) throw std::runtime_error("chdir failed");
        // Gone at the end of a run; a crash leaves it for a look. A copy
        // that outlives the static, which goes first.
        LeftAtExit = new std::string(pattern);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*LeftAtExit, ec);
        });
        return pattern;
    }();
    return folder;
}

void EmptyWorkFolder() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(WorkFolder(), ec))
        std::filesystem::remove_all(entry.path(), ec);
}

} // namespace lodestrum::fuzz
