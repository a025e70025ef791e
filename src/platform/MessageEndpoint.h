#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lodestrum::platform {

// The five messages of the virtual link (the window messages WM_USER + 101 ...).
struct LinkMessage {
    static constexpr uint32_t Hello = 1125;
    static constexpr uint32_t Goodbye = 1126;
    static constexpr uint32_t EnableLink = 1134;
    static constexpr uint32_t DisableLink = 1135;
    static constexpr uint32_t SendBuffer = 1144;
};

// The socket name of the emulator's window, its "window class".
inline constexpr const char* EmulatorWindowName = "TEmuWnd";
// What the program's window endpoints are called: this, then its process id.
inline constexpr const char* ProgramWindowPrefix = "TTranDlg-";

// A window handle is an endpoint name: 1 to 31 of [A-Za-z0-9._-], no leading dot.
inline constexpr std::size_t MaxEndpointName = 31;
bool IsValidEndpointName(const std::string& name);

// One message. Sender is the sending endpoint (a window handle); an atom in
// LParam travels as its name in Atom, and the receiver holds a local atom of
// that name, in LParam's low 16 bits, while its handler runs.
struct Message {
    uint32_t Number = 0;
    uint64_t WParam = 0;
    uint64_t LParam = 0;
    std::string Sender;
    std::string Atom; // at most 31 characters arrive
};

// A window's message endpoint: a Unix-domain socket <folder>/<name>. Every
// call belongs to one thread (the window's); the handler runs on it, from
// ServePending or from inside a Send that is waiting for its answer, so two
// peers that send to each other at once never deadlock.
class MessageEndpoint {
public:
    using Handler = std::function<void(const Message&)>;
    static constexpr std::chrono::milliseconds DefaultTimeout{2000};

    // Listens as name in folder (the endpoint folder of the runtime dir when
    // empty). A socket file left by a dead process is replaced; a live one
    // makes this fail.
    static std::unique_ptr<MessageEndpoint> Listen(const std::string& name, std::string& error,
                                                   std::filesystem::path folder = {});
    ~MessageEndpoint();
    MessageEndpoint(const MessageEndpoint&) = delete;
    MessageEndpoint& operator=(const MessageEndpoint&) = delete;

    const std::string& Name() const { return OwnName; }
    const std::filesystem::path& Folder() const { return Dir; }
    // Readable when a message waits; for QSocketNotifier or poll.
    int Fd() const { return ListenFd; }
    void SetHandler(Handler handler) { OnMessage = std::move(handler); }

    // Runs the handler for every message waiting now; returns how many.
    int ServePending();
    // Sends and waits until the receiver's handler has run and answered.
    // false when the receiver is missing, dead, or silent past the time-out.
    bool Send(const std::string& to, const Message& message,
              std::chrono::milliseconds timeout = DefaultTimeout);

private:
    MessageEndpoint(std::string name, std::filesystem::path folder, int fd);
    bool ServeOne();

    std::string OwnName;
    std::filesystem::path Dir;
    int ListenFd;
    uint64_t SocketInode = 0;
    Handler OnMessage;
    int Depth = 0;
};

// FindWindow: a live endpoint listens under this name.
bool EndpointAlive(const std::filesystem::path& folder, const std::string& name);
// The live endpoints whose names begin with prefix, sorted.
std::vector<std::string> LiveEndpoints(const std::filesystem::path& folder,
                                       const std::string& prefix);

} // namespace lodestrum::platform
