// Any process of this user can connect to a window's endpoint and send any
// record: wrong sizes, wrong magic, unknown numbers, names that are not
// names, atoms naming rings that are not there. The program's window and
// the emulator's must take all of it, and leave no atom behind.
#include "FuzzSupport.h"

#include "engine/VirtualLink.h"
#include "platform/GlobalAtoms.h"
#include "platform/MessageEndpoint.h"
#include "vcalc/program/EmulatorPeer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace lodestrum;

namespace {

constexpr size_t WireSize = 88;
constexpr size_t AtomOffset = 56;
constexpr size_t MaxRecords = 16; // the endpoint's backlog

struct Targets {
    std::filesystem::path ProgramFolder, EmulatorFolder;
    std::unique_ptr<engine::VirtualLink> Program;
    std::unique_ptr<vcalc::EmulatorPeer> Emulator;
};

Targets& Setup() {
    static Targets t = [] {
        Targets t;
        const std::filesystem::path root = fuzz::WorkFolder();
        // Apart, so neither side's answers reach a window nobody serves.
        t.ProgramFolder = root / "program";
        std::filesystem::create_directories(t.ProgramFolder);
        std::filesystem::permissions(t.ProgramFolder, std::filesystem::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
        std::filesystem::create_directories(root / "runtime");
        std::filesystem::permissions(root / "runtime", std::filesystem::perms::owner_all);
        engine::VirtualLinkOptions options;
        options.RingPrefix = "lodestrum-fuzz program " + std::to_string(::getpid()) + " ";
        options.WindowName = "TTranDlg-fuzz";
        options.EndpointFolder = t.ProgramFolder;
        options.MutexFolder = t.ProgramFolder;
        options.SendTimeout = std::chrono::milliseconds(50);
        t.Program = std::make_unique<engine::VirtualLink>(options);
        std::string error;
        if (!t.Program->Start(error) || t.Program->MessageFd() < 0) std::abort();
        drivers::SimSettings settings;
        t.Emulator = std::make_unique<vcalc::EmulatorPeer>(settings, vcalc::EmulatorPeer::DefaultRingPrefix);
        if (!t.Emulator->Start(error)) std::abort();
        t.EmulatorFolder = root / "runtime" / "lodestrum";
        return t;
    }();
    return t;
}

// Connects and sends one record, as a stranger would.
int SendRecord(const std::filesystem::path& socketPath, const std::vector<uint8_t>& record) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = socketPath.string();
    std::memcpy(addr.sun_path, path.c_str(), std::min(path.size() + 1, sizeof addr.sun_path));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::send(fd, record.data(), record.size(), MSG_NOSIGNAL) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string AtomName(const std::vector<uint8_t>& record) {
    if (record.size() < AtomOffset + 1) return {};
    const auto* begin = reinterpret_cast<const char*>(record.data() + AtomOffset);
    const size_t room = std::min<size_t>(31, record.size() - AtomOffset);
    return std::string(begin, std::find(begin, begin + room, '\0'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Targets& t = Setup();
    const bool toEmulator = data[0] & 1;
    const auto socketPath = toEmulator ? t.EmulatorFolder / platform::EmulatorWindowName
                                       : t.ProgramFolder / "TTranDlg-fuzz";
    // Records: a length byte (0 for a record of the real size) and its bytes.
    std::vector<int> open;
    std::vector<std::string> atoms;
    size_t at = 1;
    while (at < size && open.size() < MaxRecords) {
        size_t length = data[at++];
        if (length == 0) length = WireSize;
        std::vector<uint8_t> record(data + at, data + std::min(size, at + length));
        at += record.size();
        if (record.empty()) record.push_back(0);
        const int fd = SendRecord(socketPath, record);
        if (fd >= 0) open.push_back(fd);
        atoms.push_back(AtomName(record));
    }
    if (toEmulator)
        t.Emulator->ServeMessages();
    else
        t.Program->ServeMessages();
    for (int fd : open)
        ::close(fd);
    // An atom lives only while its message is handled.
    for (const auto& name : atoms)
        if (!name.empty() && platform::GlobalFindAtom(name) != 0) std::abort();
    t.Program->ReleasePeerRing();
    return 0;
}
