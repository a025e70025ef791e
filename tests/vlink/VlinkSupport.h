#pragma once

#include "engine/VirtualLink.h"
#include "support/TempDir.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lodestrum::testkit {

// Points XDG_RUNTIME_DIR at a fresh folder for the test's life, so the
// endpoints and the mutex of one test never meet another's (children inherit it).
class IsolatedRuntime {
public:
    IsolatedRuntime();
    ~IsolatedRuntime();
    const std::filesystem::path& Path() const { return Dir.Path(); }
    std::filesystem::path Endpoints() const { return Dir.Path() / "lodestrum"; }

private:
    TempDir Dir;
    std::string Saved;
    bool HadValue = false;
};

// A ring-name prefix no other process uses.
std::string UniquePrefix(const std::string& tag);

// lodestrum-vcalc as a child process.
class VcalcProcess {
public:
    explicit VcalcProcess(std::vector<std::string> args);
    ~VcalcProcess(); // SIGTERM, then SIGKILL if it lingers
    pid_t Pid() const { return Child; }
    void Signal(int number);
    // Waits for the process to end; its exit status, or -1 on time-out.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool Running() const { return Child > 0; }

private:
    pid_t Child = -1;
};

// Waits until the emulator's endpoint answers in folder.
bool WaitForEmulator(const std::filesystem::path& folder,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Serves link's messages as a window's event loop would, until done() or time-out.
bool Pump(engine::VirtualLink& link, const std::function<bool()>& done,
          std::chrono::milliseconds timeout = std::chrono::seconds(5));

} // namespace lodestrum::testkit
