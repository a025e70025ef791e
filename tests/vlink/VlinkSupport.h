#pragma once

#include "engine/VirtualLink.h"
#include "support/JobRig.h"
#include "support/TempDir.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
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

// lodestrum-vcalc as a child process, its standard input a pipe from the test.
// It gets SIGTERM should the test process die first.
class VcalcProcess {
public:
    explicit VcalcProcess(std::vector<std::string> args);
    ~VcalcProcess(); // SIGTERM, then SIGKILL if it lingers
    VcalcProcess(const VcalcProcess&) = delete;
    VcalcProcess& operator=(const VcalcProcess&) = delete;
    // A line on its standard input ("send ABC", "backup", "on", ...).
    bool Command(const std::string& line);
    pid_t Pid() const { return Child; }
    void Signal(int number);
    // Waits for the process to end; its exit status, or -1 on time-out.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool Running() const { return Child > 0; }

private:
    pid_t Child = -1;
    int Input = -1;
};

// Waits until the emulator's endpoint answers in folder.
bool WaitForEmulator(const std::filesystem::path& folder,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Serves link's messages as a window's event loop would, until done() or time-out.
bool Pump(engine::VirtualLink& link, const std::function<bool()>& done,
          std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Passes the job's ring operations on to a link and keeps every byte that
// crossed: what the program put and what it took.
class RecordingCable : public engine::VirtualCable {
public:
    explicit RecordingCable(engine::VirtualCable& link) : Link(link) {}
    bool RingHasData() override { return Link.RingHasData(); }
    uint8_t RingGetByte() override;
    bool RingHasRoom() override { return Link.RingHasRoom(); }
    bool RingPutByte(uint8_t value) override;
    std::vector<uint8_t> Put() const;
    std::vector<uint8_t> Got() const;

private:
    engine::VirtualCable& Link;
    mutable std::mutex Mutex;
    std::vector<uint8_t> PutBytes, GotBytes;
};

// The command bytes of the packets in a byte stream, in order; a packet cut
// short at the end counts.
std::vector<uint8_t> PacketCommands(const std::vector<uint8_t>& stream);

// The program's side of the virtual link against lodestrum-vcalc in a
// process of its own: the link under the program's own ring names, a job rig
// on it through a RecordingCable, and the emulator with its memory folder.
// Jobs run in Work, made the current folder, where received files land.
class EmulatorRig {
public:
    // Starts the link, then the emulator with these options and --dir Memory
    // holding copies of memoryFiles, and serves messages until both rings are announced.
    explicit EmulatorRig(std::vector<std::string> vcalcArgs,
                         const std::vector<std::filesystem::path>& memoryFiles = {});
    // The emulator ends first, its Goodbye served; then the jobs.
    ~EmulatorRig();
    EmulatorRig(const EmulatorRig&) = delete;
    EmulatorRig& operator=(const EmulatorRig&) = delete;

    bool Linked() const { return Ready; }
    engine::TTransThread* Start(uint8_t op, const std::string& fileName = "");
    // Serves messages, as the window's loop does, until the jobs started so far have ended.
    bool WaitEnded(std::chrono::milliseconds timeout = std::chrono::seconds(60));

    IsolatedRuntime Runtime;
    TempDir Memory;
    TempDir Work;
    engine::VirtualLink Link;
    RecordingCable Cable{Link};
    JobRig Rig;
    std::unique_ptr<VcalcProcess> Vcalc;

private:
    std::filesystem::path Previous;
    int Jobs = 0;
    bool Ready = false;
};

// What every test gives lodestrum-vcalc, and --log when LODESTRUM_SIM_LOG=1.
std::vector<std::string> VcalcArgs(const std::string& model, std::vector<std::string> more = {});

} // namespace lodestrum::testkit
