// lodestrum-vcalc: the simulated calculator as an emulator at the other end
// of the virtual cable.
#include "drivers/SimSettings.h"
#include "platform/SharedRing.h"
#include "vcalc/program/EmulatorPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace lodestrum;

namespace {

constexpr const char* Usage =
    "Usage: lodestrum-vcalc [OPTION]...\n"
    "Runs a simulated calculator as the emulator at the other end of Lodestrum's\n"
    "virtual cable (\"Cab&le virtuel\"): it listens as TEmuWnd, greets every running\n"
    "Lodestrum window and serves what it is sent from its memory folder.\n"
    "\n"
    "  --model M     82, 83 (default), 85, 86, 89, 92P or 92\n"
    "  --dir D       memory folder: its files are the variables at start, and what\n"
    "                the calculator receives is written there\n"
    "  --send LIST   all, or NAME,...: variables it sends once a window is linked\n"
    "  --backup      a backup of its memory it sends once a window is linked\n"
    "  --screen BMP  a 1-bit image for its screen (a test pattern otherwise)\n"
    "  --skip N      refuse whatever it is sent with SKIP code 1 or 2\n"
    "  --ring P      its ring is P followed by the first free number\n"
    "                (default \"Emulator Link \"), to keep several apart\n"
    "  --log         a line per message, packet and stored variable on stderr\n"
    "  --help        this text\n"
    "\n"
    "While it runs, lines on standard input act as its keys: \"send\" (every\n"
    "variable) or \"send NAME,...\", \"backup\", \"on\" (EnableLink), \"off\"\n"
    "(DisableLink), \"hello\" (greet the windows again), \"quit\".\n"
    "SIGUSR1 switches the cable on, SIGUSR2 off; SIGINT, SIGTERM and SIGHUP say\n"
    "Goodbye and end it.\n";

int SignalPipe[2] = {-1, -1};

void OnSignal(int number) {
    const int saved = errno;
    const char c = static_cast<char>(number);
    [[maybe_unused]] const auto n = ::write(SignalPipe[1], &c, 1);
    errno = saved;
}

bool InstallSignals() {
    if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        if (::sigaction(number, &action, nullptr) != 0) return false;
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Reads --key value or --key=value into settings; 1 to go on, 0 to stop
// with success (--help), -1 on a bad option.
int ParseOptions(int argc, char** argv, drivers::SimSettings& settings, std::string& ring) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (arg == "--log") {
            settings.Calc.Log = true;
            continue;
        }
        if (arg == "--backup") {
            settings.Backup = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            std::fprintf(stderr, "lodestrum-vcalc: unexpected argument '%s'\n", arg.c_str());
            return -1;
        }
        std::string key = arg.substr(2), value;
        if (const auto eq = key.find('='); eq != std::string::npos) {
            value = key.substr(eq + 1);
            key.resize(eq);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            std::fprintf(stderr, "lodestrum-vcalc: --%s needs a value\n", key.c_str());
            return -1;
        }
        if (key == "ring") {
            // Room for the number the first free name adds.
            if (!platform::IsValidRingName(value + "255")) {
                std::fprintf(stderr, "lodestrum-vcalc: --ring: not a usable ring name\n");
                return -1;
            }
            ring = value;
            continue;
        }
        static const std::string Known[] = {"model", "dir", "send", "screen", "skip"};
        std::string error = "unknown option";
        bool known = false;
        for (const auto& k : Known) known = known || k == key;
        if (!known || !drivers::ApplySimSetting(settings, key, value, error)) {
            std::fprintf(stderr, "lodestrum-vcalc: --%s: %s\n", key.c_str(), error.c_str());
            return -1;
        }
    }
    return 1;
}

std::vector<std::string> Names(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto comma = std::min(list.find(',', start), list.size());
        if (comma > start) names.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

// Handles one line of standard input; false for "quit".
bool Command(vcalc::EmulatorPeer& peer, std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line == "on") peer.SetLink(true);
    else if (line == "off") peer.SetLink(false);
    else if (line == "hello") peer.GreetPrograms();
    else if (line == "backup") peer.SendBackup();
    else if (line == "send" || line == "send all") peer.SendVariables({});
    else if (line.rfind("send ", 0) == 0) peer.SendVariables(Names(line.substr(5)));
    else if (line == "quit") return false;
    else if (!line.empty())
        std::fprintf(stderr, "lodestrum-vcalc: commands are send [NAME,...], backup, on, off, "
                             "hello and quit\n");
    return true;
}

} // namespace

int main(int argc, char** argv) {
    drivers::SimSettings settings;
    std::string ring = vcalc::EmulatorPeer::DefaultRingPrefix;
    if (const int go = ParseOptions(argc, argv, settings, ring); go <= 0) return go == 0 ? 0 : 2;
    if (!InstallSignals()) {
        std::fprintf(stderr, "lodestrum-vcalc: signals: %s\n", std::strerror(errno));
        return 1;
    }
    vcalc::EmulatorPeer peer(settings, ring);
    std::string error;
    if (!peer.Start(error)) {
        std::fprintf(stderr, "lodestrum-vcalc: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "lodestrum-vcalc: listening as TEmuWnd, writing \"%s\"\n",
                 peer.RingName().c_str());
    peer.GreetPrograms();

    bool stdinOpen = true;
    std::string pending;
    for (bool running = true; running;) {
        pollfd fds[3] = {{peer.MessageFd(), POLLIN, 0},
                         {SignalPipe[0], POLLIN, 0},
                         {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) peer.ServeMessages();
        if (fds[1].revents & POLLIN) {
            char c;
            while (::read(SignalPipe[0], &c, 1) == 1) {
                if (c == SIGUSR1) peer.SetLink(true);
                else if (c == SIGUSR2) peer.SetLink(false);
                else running = false;
            }
        }
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[256];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            // Without a terminal (a service, a test) standard input simply ends.
            if (n <= 0) {
                stdinOpen = false;
                continue;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
            if (pending.size() > 4096) pending.clear();
            for (std::size_t eol; running && (eol = pending.find('\n')) != std::string::npos;) {
                running = Command(peer, pending.substr(0, eol));
                pending.erase(0, eol + 1);
            }
        }
    }
    peer.Shutdown();
    return 0;
}
