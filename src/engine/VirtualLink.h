#pragma once

#include "engine/VirtualCable.h"
#include "platform/MessageEndpoint.h"
#include "platform/NamedMutex.h"
#include "platform/SharedRing.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace lodestrum::engine {

struct VirtualLinkOptions {
    // OwnRing is this followed by the first free number.
    std::string RingPrefix = "Virtual Link ";
    std::string MutexName = "Virtual TI";
    // The window's endpoint; "TTranDlg-<pid>" when empty.
    std::string WindowName;
    // Where the endpoints and the mutex live; the runtime dir when empty.
    std::filesystem::path EndpointFolder;
    std::filesystem::path MutexFolder;
    std::chrono::milliseconds SendTimeout = platform::MessageEndpoint::DefaultTimeout;
};

// The program's side of the virtual link: OwnRing, PeerRing, EmuWindow, the
// mutex "Virtual TI" and the window's message endpoint. Everything but the
// four ring operations belongs to the window's thread; the ring operations
// belong to the running job's worker and never meet a ring being released.
class VirtualLink : public VirtualCable {
public:
    explicit VirtualLink(VirtualLinkOptions options = {});
    ~VirtualLink() override;
    VirtualLink(const VirtualLink&) = delete;
    VirtualLink& operator=(const VirtualLink&) = delete;

    // Start-up: OwnRing, the mutex, the endpoint, and EmuWindow when the mutex
    // existed and a "TEmuWnd" listens. false when no ring could be made; the
    // link then stays empty and jobs on it wait until stopped.
    bool Start(std::string& error);

    // VirtualCable, for the job's worker.
    bool RingHasData() override;
    uint8_t RingGetByte() override;
    bool RingHasRoom() override;
    bool RingPutByte(uint8_t value) override;

    // The listening socket, to watch for messages (QSocketNotifier); -1 before Start.
    int MessageFd() const;
    // Runs the dispatcher for every message waiting.
    void ServeMessages();
    // Who handles the five messages; by default WMHello, WMSendBuffer and
    // WMGoodbye below, EnableLink and DisableLink ignored, other numbers always.
    void SetDispatcher(std::function<void(const platform::Message&)> dispatcher);
    void Dispatch(const platform::Message& message);

    // The greeting once the window exists: Hello, then SendBuffer.
    void Greet();
    // Stores the sender as EmuWindow and answers with SendBuffer.
    void WMHello(const platform::Message& message);
    // Attaches the ring the atom names as PeerRing, in place of the one before.
    void WMSendBuffer(const platform::Message& message);
    // Forgets EmuWindow (the window unchecks its box first).
    void WMGoodbye();
    // Sends a message without arguments to EmuWindow; nothing when it is null.
    bool SendToEmulator(uint32_t number);
    // SendBuffer to a window: an atom with OwnRing's name, deleted after the call.
    bool SendBuffer(const std::string& window);

    // Shut-down after the message loop: OwnRing and the mutex go.
    void ReleaseOwnRing();
    // The window's destruction: PeerRing goes.
    void ReleasePeerRing();

    std::string OwnRingName() const;
    std::string PeerRingName() const;
    bool HasPeerRing() const;
    const std::string& EmuWindow() const { return Emu; }
    std::string WindowName() const;
    bool MutexExisted() const { return Existed; }

private:
    VirtualLinkOptions Opts;
    std::unique_ptr<platform::MessageEndpoint> Endpoint;
    std::unique_ptr<platform::NamedMutex> Mutex;
    std::function<void(const platform::Message&)> Dispatcher;
    std::string Emu;
    bool Existed = false;

    // Guards the two rings against release while a worker is inside one.
    mutable std::mutex RingMutex;
    std::unique_ptr<platform::SharedRing> OwnRing;
    std::unique_ptr<platform::SharedRing> PeerRing;
};

} // namespace lodestrum::engine
