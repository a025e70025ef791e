#include "engine/VirtualLink.h"

#include "platform/GlobalAtoms.h"
#include "platform/RuntimeDir.h"

#include <unistd.h>

#include <utility>

namespace lodestrum::engine {

using platform::LinkMessage;
using platform::Message;

VirtualLink::VirtualLink(VirtualLinkOptions options) : Opts(std::move(options)) {
    if (Opts.WindowName.empty())
        Opts.WindowName = platform::ProgramWindowPrefix + std::to_string(::getpid());
}

VirtualLink::~VirtualLink() {
    ReleaseOwnRing();
    ReleasePeerRing();
}

bool VirtualLink::Start(std::string& error) {
    auto own = platform::SharedRing::CreateFirstFree(Opts.RingPrefix, error);
    {
        std::lock_guard lock(RingMutex);
        OwnRing = std::move(own);
    }
    if (!OwnRing) return false;

    // Without the mutex or the endpoint the ring still works for a peer
    // that finds it another way; only the greeting is lost.
    std::string reason;
    auto mutexFolder = Opts.MutexFolder;
    Mutex = platform::NamedMutex::Create(Opts.MutexName, reason, mutexFolder);
    Existed = Mutex && Mutex->AlreadyExisted();
    Endpoint = platform::MessageEndpoint::Listen(Opts.WindowName, reason, Opts.EndpointFolder);
    if (Endpoint) {
        Endpoint->SetHandler([this](const Message& m) { Dispatch(m); });
        if (Existed && platform::EndpointAlive(Endpoint->Folder(), platform::EmulatorWindowName))
            Emu = platform::EmulatorWindowName;
    }
    return true;
}

bool VirtualLink::RingHasData() {
    std::lock_guard lock(RingMutex);
    return PeerRing && platform::RingHasData(PeerRing->Ring());
}

uint8_t VirtualLink::RingGetByte() {
    std::lock_guard lock(RingMutex);
    return PeerRing ? platform::RingGetByte(PeerRing->Ring()) : 0;
}

bool VirtualLink::RingHasRoom() {
    std::lock_guard lock(RingMutex);
    return OwnRing && platform::RingHasRoom(OwnRing->Ring());
}

bool VirtualLink::RingPutByte(uint8_t value) {
    std::lock_guard lock(RingMutex);
    return OwnRing && platform::RingPutByte(OwnRing->Ring(), value);
}

int VirtualLink::MessageFd() const { return Endpoint ? Endpoint->Fd() : -1; }

void VirtualLink::ServeMessages() {
    if (Endpoint) Endpoint->ServePending();
}

void VirtualLink::SetDispatcher(std::function<void(const Message&)> dispatcher) {
    Dispatcher = std::move(dispatcher);
}

void VirtualLink::Dispatch(const Message& message) {
    if (Dispatcher) {
        Dispatcher(message);
        return;
    }
    switch (message.Number) {
    case LinkMessage::Hello: WMHello(message); break;
    case LinkMessage::SendBuffer: WMSendBuffer(message); break;
    case LinkMessage::Goodbye: WMGoodbye(); break;
    default: break;
    }
}

void VirtualLink::Greet() {
    if (Emu.empty() || !Endpoint) return;
    Message hello;
    hello.Number = LinkMessage::Hello;
    Endpoint->Send(Emu, hello, Opts.SendTimeout);
    SendBuffer(Emu);
}

void VirtualLink::WMHello(const Message& message) {
    // A Hello without a usable return address names no window to answer.
    if (message.Sender.empty()) return;
    Emu = message.Sender;
    SendBuffer(Emu);
}

bool VirtualLink::SendBuffer(const std::string& window) {
    if (!Endpoint || window.empty()) return false;
    const std::string name = OwnRingName();
    if (name.empty()) return false;
    platform::ScopedAtom atom(name);
    Message m;
    m.Number = LinkMessage::SendBuffer;
    m.LParam = atom.Atom();
    m.Atom = platform::GlobalGetAtomName(atom.Atom(), platform::MaxRingName).value_or("");
    return Endpoint->Send(window, m, Opts.SendTimeout);
}

void VirtualLink::WMSendBuffer(const Message& message) {
    const auto name = platform::GlobalGetAtomName(static_cast<uint16_t>(message.LParam & 0xFFFF),
                                                  platform::MaxRingName);
    std::string error;
    std::unique_ptr<platform::SharedRing> peer;
    if (name) peer = platform::SharedRing::Open(*name, error);
    std::unique_ptr<platform::SharedRing> old;
    {
        std::lock_guard lock(RingMutex);
        old = std::exchange(PeerRing, std::move(peer));
    }
    // The old view is unmapped here, outside the lock: no worker can be inside it.
}

void VirtualLink::WMGoodbye() { Emu.clear(); }

bool VirtualLink::SendToEmulator(uint32_t number) {
    if (Emu.empty() || !Endpoint) return false;
    Message m;
    m.Number = number;
    return Endpoint->Send(Emu, m, Opts.SendTimeout);
}

void VirtualLink::ReleaseOwnRing() {
    std::unique_ptr<platform::SharedRing> own;
    {
        std::lock_guard lock(RingMutex);
        own = std::move(OwnRing);
    }
    own.reset();
    Mutex.reset();
}

void VirtualLink::ReleasePeerRing() {
    std::unique_ptr<platform::SharedRing> peer;
    {
        std::lock_guard lock(RingMutex);
        peer = std::move(PeerRing);
    }
}

std::string VirtualLink::OwnRingName() const {
    std::lock_guard lock(RingMutex);
    return OwnRing ? OwnRing->Name() : std::string();
}

std::string VirtualLink::PeerRingName() const {
    std::lock_guard lock(RingMutex);
    return PeerRing ? PeerRing->Name() : std::string();
}

bool VirtualLink::HasPeerRing() const {
    std::lock_guard lock(RingMutex);
    return PeerRing != nullptr;
}

std::string VirtualLink::WindowName() const { return Endpoint ? Endpoint->Name() : Opts.WindowName; }

} // namespace lodestrum::engine
