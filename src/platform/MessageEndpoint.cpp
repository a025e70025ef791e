#include "platform/MessageEndpoint.h"

#include "platform/GlobalAtoms.h"
#include "platform/RuntimeDir.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

namespace lodestrum::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t MessageMagic = 0x4D53444C; // "LDSM"
constexpr uint32_t ReplyMagic = 0x5253444C;   // "LDSR"
// A peer that connects and then says nothing must not hold the window longer.
constexpr int ReadTimeoutMs = 250;
// Handlers that send, whose peers send back, ...: enough for Hello inside
// SendBuffer inside Hello, and a bound against a peer that ping-pongs forever.
constexpr int MaxDepth = 4;
constexpr int MaxServedPerCall = 64;

struct WireMessage {
    uint32_t Magic;
    uint32_t Number;
    uint64_t WParam;
    uint64_t LParam;
    char Sender[32];
    char Atom[32];
};
static_assert(sizeof(WireMessage) == 88);

struct WireReply {
    uint32_t Magic;
    uint32_t Reserved;
    int64_t Result;
};
static_assert(sizeof(WireReply) == 16);

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : Value(fd) {}
    ~UniqueFd() {
        if (Value >= 0) ::close(Value);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return Value; }
    int Release() { return std::exchange(Value, -1); }

private:
    int Value;
};

std::string Bounded(const char (&field)[32]) {
    const auto end = std::find(field, field + MaxEndpointName, '\0');
    return std::string(field, end);
}

void Put(char (&field)[32], const std::string& text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), MaxEndpointName));
}

std::optional<sockaddr_un> Address(const std::filesystem::path& folder, const std::string& name) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = (folder / name).string();
    if (path.size() >= sizeof addr.sun_path) return std::nullopt;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return addr;
}

int NewSocket() { return ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}

// 0 connected, else the errno of a refused or missing endpoint.
int ConnectTo(int fd, const sockaddr_un& addr) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return 0;
    return errno;
}

} // namespace

bool IsValidEndpointName(const std::string& name) {
    if (name.empty() || name.size() > MaxEndpointName || name[0] == '.') return false;
    return std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

MessageEndpoint::MessageEndpoint(std::string name, std::filesystem::path folder, int fd)
    : OwnName(std::move(name)), Dir(std::move(folder)), ListenFd(fd) {
    struct stat st {};
    if (::stat((Dir / OwnName).c_str(), &st) == 0) SocketInode = st.st_ino;
}

std::unique_ptr<MessageEndpoint> MessageEndpoint::Listen(const std::string& name,
                                                         std::string& error,
                                                         std::filesystem::path folder) {
    if (!IsValidEndpointName(name)) {
        error = "bad endpoint name";
        return nullptr;
    }
    if (folder.empty()) {
        auto dir = EndpointDirectory(error);
        if (!dir) return nullptr;
        folder = *dir;
    }
    const auto addr = Address(folder, name);
    if (!addr) {
        error = (folder / name).string() + ": path too long for a socket";
        return nullptr;
    }
    UniqueFd fd(NewSocket());
    if (fd.Get() < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return nullptr;
    }
    auto bindIt = [&] {
        return ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) == 0;
    };
    if (!bindIt()) {
        if (errno != EADDRINUSE) {
            error = (folder / name).string() + ": " + std::strerror(errno);
            return nullptr;
        }
        // Nobody answering on the file means its process died: take it over.
        UniqueFd probe(NewSocket());
        const int refused = ConnectTo(probe.Get(), *addr);
        if (refused != ECONNREFUSED && refused != ENOENT) {
            error = name + " is already listening";
            return nullptr;
        }
        ::unlink(addr->sun_path);
        if (!bindIt()) {
            error = (folder / name).string() + ": " + std::strerror(errno);
            return nullptr;
        }
    }
    ::chmod(addr->sun_path, 0600);
    if (::listen(fd.Get(), 16) != 0) {
        error = std::string("listen: ") + std::strerror(errno);
        ::unlink(addr->sun_path);
        return nullptr;
    }
    return std::unique_ptr<MessageEndpoint>(new MessageEndpoint(name, folder, fd.Release()));
}

MessageEndpoint::~MessageEndpoint() {
    // Only our own socket file: a successor may have replaced it already.
    struct stat st {};
    const auto path = Dir / OwnName;
    if (::stat(path.c_str(), &st) == 0 && st.st_ino == SocketInode) ::unlink(path.c_str());
    ::close(ListenFd);
}

int MessageEndpoint::ServePending() {
    int served = 0;
    while (served < MaxServedPerCall && ServeOne()) ++served;
    return served;
}

bool MessageEndpoint::ServeOne() {
    UniqueFd conn(::accept4(ListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (conn.Get() < 0) return false;
    ucred cred{};
    socklen_t credLength = sizeof cred;
    if (::getsockopt(conn.Get(), SOL_SOCKET, SO_PEERCRED, &cred, &credLength) != 0 ||
        cred.uid != ::geteuid())
        return true;
    pollfd p{conn.Get(), POLLIN, 0};
    if (::poll(&p, 1, ReadTimeoutMs) <= 0) return true;
    WireMessage wire{};
    // One byte more than a message, so that an oversized record is seen as one.
    char buffer[sizeof(WireMessage) + 1];
    const ssize_t n = ::recv(conn.Get(), buffer, sizeof buffer, 0);
    if (n != static_cast<ssize_t>(sizeof wire)) return true;
    std::memcpy(&wire, buffer, sizeof wire);
    if (wire.Magic != MessageMagic) return true;

    Message message;
    message.Number = wire.Number;
    message.WParam = wire.WParam;
    message.LParam = wire.LParam;
    message.Sender = Bounded(wire.Sender);
    if (!IsValidEndpointName(message.Sender)) message.Sender.clear();
    message.Atom = Bounded(wire.Atom);
    std::optional<ScopedAtom> atom;
    if (!message.Atom.empty()) {
        atom.emplace(message.Atom);
        message.LParam = (message.LParam & ~uint64_t{0xFFFF}) | atom->Atom();
    }
    if (OnMessage) {
        ++Depth;
        struct Leave {
            int& D;
            ~Leave() { --D; }
        } leave{Depth};
        OnMessage(message);
    }
    const WireReply reply{ReplyMagic, 0, 0};
    ::send(conn.Get(), &reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT);
    return true;
}

bool MessageEndpoint::Send(const std::string& to, const Message& message,
                           std::chrono::milliseconds timeout) {
    if (!IsValidEndpointName(to)) return false;
    // At the nesting limit nobody serves our own socket: a message to
    // ourselves (a forged Hello names us) could only wait out the time-out.
    if (to == OwnName && Depth >= MaxDepth) return false;
    const auto addr = Address(Dir, to);
    if (!addr) return false;
    const auto deadline = Clock::now() + timeout;
    UniqueFd conn(NewSocket());
    if (conn.Get() < 0) return false;
    for (;;) {
        const int result = ConnectTo(conn.Get(), *addr);
        if (result == 0) break;
        // A full backlog clears as the receiver works; anything else is a dead end.
        if (result != EAGAIN || Clock::now() >= deadline) return false;
        if (Depth < MaxDepth) ServePending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    WireMessage wire{};
    wire.Magic = MessageMagic;
    wire.Number = message.Number;
    wire.WParam = message.WParam;
    wire.LParam = message.LParam;
    Put(wire.Sender, OwnName);
    Put(wire.Atom, message.Atom);
    if (::send(conn.Get(), &wire, sizeof wire, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof wire))
        return false;

    for (;;) {
        const int left = RemainingMs(deadline);
        if (left <= 0) return false;
        pollfd fds[2] = {{conn.Get(), POLLIN, 0}, {ListenFd, POLLIN, 0}};
        const nfds_t count = Depth < MaxDepth ? 2 : 1;
        const int ready = ::poll(fds, count, left);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        if (fds[0].revents & POLLIN) {
            WireReply reply{};
            const ssize_t n = ::recv(conn.Get(), &reply, sizeof reply, 0);
            return n == static_cast<ssize_t>(sizeof reply) && reply.Magic == ReplyMagic;
        }
        if (fds[0].revents & (POLLHUP | POLLERR)) return false;
        if (count == 2 && (fds[1].revents & POLLIN)) ServePending();
    }
}

bool EndpointAlive(const std::filesystem::path& folder, const std::string& name) {
    if (!IsValidEndpointName(name)) return false;
    const auto addr = Address(folder, name);
    if (!addr) return false;
    UniqueFd probe(NewSocket());
    const int result = ConnectTo(probe.Get(), *addr);
    return result == 0 || result == EAGAIN;
}

std::vector<std::string> LiveEndpoints(const std::filesystem::path& folder,
                                       const std::string& prefix) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = item.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && item.is_socket(ec) && EndpointAlive(folder, name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace lodestrum::platform
