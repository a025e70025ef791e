#pragma once

#include "drivers/SimSettings.h"
#include "platform/MessageEndpoint.h"
#include "platform/NamedMutex.h"
#include "platform/RingLink.h"
#include "platform/SharedRing.h"
#include "vcalc/SimCalculator.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace lodestrum::vcalc {

// The emulator's side of the virtual link, around the simulated calculator:
// its own ring, the "TEmuWnd" endpoint, the mutex "Virtual TI", and the
// programs it has greeted or heard from. Everything but the calculator runs
// on the thread that calls these methods.
class EmulatorPeer {
public:
    // Its ring is ringPrefix followed by the first free number.
    EmulatorPeer(const drivers::SimSettings& settings, std::string ringPrefix);
    static constexpr const char* DefaultRingPrefix = "Emulator Link ";
    ~EmulatorPeer();

    bool Start(std::string& error);
    // Hello and SendBuffer to every program window that listens now.
    void GreetPrograms();
    // Switches the cable and tells the programs (EnableLink / DisableLink).
    void SetLink(bool on);
    // The user pressing send on the calculator: the named variables (all when
    // empty), or a backup. They go once a program's ring is attached.
    void SendVariables(std::vector<std::string> names);
    void SendBackup();
    // Goodbye to every program; then the calculator stops.
    void Shutdown();

    int MessageFd() const { return Endpoint ? Endpoint->Fd() : -1; }
    void ServeMessages() { Endpoint->ServePending(); }
    const std::string& RingName() const { return Own->Name(); }

private:
    void Handle(const platform::Message& message);
    void AnnounceRing(const std::string& window);
    void Say(const std::string& line) const;

    drivers::SimSettings Settings;
    std::string RingPrefix;
    std::shared_ptr<platform::SharedRing> Own;
    std::unique_ptr<platform::NamedMutex> Mutex;
    std::unique_ptr<platform::MessageEndpoint> Endpoint;
    std::unique_ptr<platform::RingLink> Link;
    std::unique_ptr<SimCalculator> Calc;
    std::set<std::string> Programs;
    // The window whose ring the calculator reads.
    std::string PeerOwner;
    bool Down = false;
};

} // namespace lodestrum::vcalc
