#include "vcalc/program/EmulatorPeer.h"

#include "platform/GlobalAtoms.h"
#include "platform/RuntimeDir.h"

#include <cstdio>

namespace lodestrum::vcalc {

using platform::LinkMessage;
using platform::Message;

namespace {
// Short, so that a program that hangs delays the emulator's exit but little.
constexpr std::chrono::milliseconds GoodbyeTimeout{1000};

// The calculator's options with what the settings ask it to send and show.
CalcOptions CalcOptionsOf(const drivers::SimSettings& settings) {
    CalcOptions options = settings.Calc;
    options.SendOnStart = settings.Send;
    options.BackupOnStart = settings.Backup;
    if (!settings.Screen.empty()) options.ScreenFile = settings.Screen;
    return options;
}
} // namespace

EmulatorPeer::EmulatorPeer(const drivers::SimSettings& settings, std::string ringPrefix)
    : Settings(settings), RingPrefix(std::move(ringPrefix)) {}

EmulatorPeer::~EmulatorPeer() { Shutdown(); }

bool EmulatorPeer::Start(std::string& error) {
    auto folder = platform::EndpointDirectory(error);
    if (!folder) return false;
    Own = platform::SharedRing::CreateFirstFree(RingPrefix, error);
    if (!Own) return false;
    std::string reason;
    Mutex = platform::NamedMutex::Create("Virtual TI", reason);
    Endpoint = platform::MessageEndpoint::Listen(platform::EmulatorWindowName, error, *folder);
    if (!Endpoint) return false;
    Endpoint->SetHandler([this](const Message& m) { Handle(m); });
    Link = std::make_unique<platform::RingLink>(Own);
    Calc = std::make_unique<SimCalculator>(*Link, CalcOptionsOf(Settings));
    Calc->Start();
    return true;
}

void EmulatorPeer::Say(const std::string& line) const {
    if (Settings.Calc.Log) std::fprintf(stderr, "lodestrum-vcalc: %s\n", line.c_str());
}

void EmulatorPeer::AnnounceRing(const std::string& window) {
    platform::ScopedAtom atom(Own->Name());
    Message m;
    m.Number = LinkMessage::SendBuffer;
    m.LParam = atom.Atom();
    m.Atom = Own->Name();
    const bool ok = Endpoint->Send(window, m);
    Say("SendBuffer \"" + Own->Name() + "\" to " + window + (ok ? "" : " (no answer)"));
}

void EmulatorPeer::GreetPrograms() {
    for (const auto& window : platform::LiveEndpoints(Endpoint->Folder(),
                                                      platform::ProgramWindowPrefix)) {
        Message hello;
        hello.Number = LinkMessage::Hello;
        if (!Endpoint->Send(window, hello)) {
            Say("Hello to " + window + ": no answer");
            continue;
        }
        Say("Hello to " + window);
        Programs.insert(window);
        AnnounceRing(window);
    }
}

void EmulatorPeer::Handle(const Message& m) {
    switch (m.Number) {
    case LinkMessage::Hello:
        if (m.Sender.empty()) return;
        Say("Hello from " + m.Sender);
        Programs.insert(m.Sender);
        AnnounceRing(m.Sender);
        break;
    case LinkMessage::SendBuffer: {
        const auto name = platform::GlobalGetAtomName(static_cast<uint16_t>(m.LParam & 0xFFFF),
                                                      platform::MaxRingName);
        std::string error;
        auto ring = name ? platform::SharedRing::Open(*name, error) : nullptr;
        if (!ring) {
            Say("SendBuffer from " + m.Sender + ": " + (name ? error : "no name"));
            return;
        }
        Say("SendBuffer from " + m.Sender + ": reading \"" + *name + "\"");
        if (!m.Sender.empty()) Programs.insert(m.Sender);
        PeerOwner = m.Sender;
        Link->AttachPeer(std::move(ring));
        break;
    }
    case LinkMessage::EnableLink:
    case LinkMessage::DisableLink:
        Link->SetEnabled(m.Number == LinkMessage::EnableLink);
        Say(std::string("link switched ") + (Link->IsEnabled() ? "on" : "off") + " by " +
            m.Sender);
        break;
    case LinkMessage::Goodbye:
        Say("Goodbye from " + m.Sender);
        Programs.erase(m.Sender);
        // Its ring is gone with it: nothing the calculator sends would be read.
        if (!m.Sender.empty() && m.Sender == PeerOwner) {
            Link->AttachPeer(nullptr);
            PeerOwner.clear();
        }
        break;
    default:
        break;
    }
}

void EmulatorPeer::SetLink(bool on) {
    Link->SetEnabled(on);
    Say(std::string("link ") + (on ? "on" : "off"));
    Message m;
    m.Number = on ? LinkMessage::EnableLink : LinkMessage::DisableLink;
    // A copy: a handler run while waiting may change the set.
    const auto programs = Programs;
    for (const auto& window : programs) Endpoint->Send(window, m);
}

void EmulatorPeer::SendVariables(std::vector<std::string> names) {
    Say(names.empty() ? std::string("sending every variable")
                      : "sending " + std::to_string(names.size()) + " variable(s)");
    Calc->QueueSend(std::move(names));
}

void EmulatorPeer::SendBackup() {
    Say("sending a backup");
    Calc->QueueBackup();
}

void EmulatorPeer::Shutdown() {
    if (Down) return;
    Down = true;
    if (Endpoint) {
        Message bye;
        bye.Number = LinkMessage::Goodbye;
        const auto programs = Programs;
        for (const auto& window : programs) Endpoint->Send(window, bye, GoodbyeTimeout);
        Programs.clear();
    }
    if (Link) Link->Cancel();
    if (Calc) Calc->Stop();
}

} // namespace lodestrum::vcalc
