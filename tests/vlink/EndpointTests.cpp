#include "VlinkSupport.h"

#include "platform/GlobalAtoms.h"
#include "platform/MessageEndpoint.h"
#include "platform/NamedMutex.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

using namespace lodestrum;
using namespace std::chrono_literals;
using platform::Message;
using platform::MessageEndpoint;
using Clock = std::chrono::steady_clock;

namespace {

std::unique_ptr<MessageEndpoint> Listen(const testkit::IsolatedRuntime& rt, const std::string& name) {
    std::string error;
    std::filesystem::create_directories(rt.Endpoints());
    auto e = MessageEndpoint::Listen(name, error, rt.Endpoints());
    EXPECT_TRUE(e) << error;
    return e;
}

// Serves an endpoint on a thread of its own, as another window would.
class Server {
public:
    explicit Server(MessageEndpoint& endpoint) : E(endpoint) {
        Thread = std::thread([this] {
            while (!Quit) {
                pollfd p{E.Fd(), POLLIN, 0};
                if (::poll(&p, 1, 10) > 0) E.ServePending();
            }
        });
    }
    ~Server() {
        Quit = true;
        Thread.join();
    }

private:
    MessageEndpoint& E;
    std::atomic<bool> Quit{false};
    std::thread Thread;
};

int RawConnect(const std::filesystem::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TEST(Endpoint, NamesAreShortPlainAndNeverPaths) {
    struct Case {
        std::string Name;
        bool Valid;
    } cases[] = {{"TEmuWnd", true},     {"TTranDlg-1234", true},      {"", false},
                 {".hidden", false},    {"a/b", false},               {"..", false},
                 {std::string(31, 'x'), true}, {std::string(32, 'x'), false}, {"sp ace", false}};
    for (const auto& c : cases) EXPECT_EQ(platform::IsValidEndpointName(c.Name), c.Valid) << c.Name;
}

TEST(Endpoint, SendWaitsForTheHandlerAndCarriesEveryField) {
    testkit::IsolatedRuntime rt;
    auto a = Listen(rt, "A");
    auto b = Listen(rt, "B");
    Message got;
    std::string atomName;
    b->SetHandler([&](const Message& m) {
        got = m;
        atomName = platform::GlobalGetAtomName(m.LParam & 0xFFFF).value_or("?");
        std::this_thread::sleep_for(50ms); // the sender waits this out
    });
    {
        Server server(*b);
        Message m;
        m.Number = 1144;
        m.WParam = 7;
        m.LParam = 0x12340000;
        m.Atom = "Virtual Link 3";
        const auto start = Clock::now();
        EXPECT_TRUE(a->Send("B", m));
        EXPECT_GE(Clock::now() - start, 50ms);
    }
    EXPECT_EQ(got.Number, 1144u);
    EXPECT_EQ(got.WParam, 7u);
    EXPECT_EQ(got.LParam >> 16, 0x1234u);
    EXPECT_EQ(got.Sender, "A");
    EXPECT_EQ(atomName, "Virtual Link 3");
    EXPECT_EQ(platform::GlobalFindAtom("Virtual Link 3"), 0) << "the receiver's atom lives for the handler only";
}

TEST(Endpoint, MissingStaleAndSilentReceiversFailWithinTheTimeout) {
    testkit::IsolatedRuntime rt;
    auto a = Listen(rt, "A");
    // A socket file whose process is gone: bound, never listened on.
    const int stale = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, (rt.Endpoints() / "Stale").c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(stale);
    // A receiver that takes connections into its backlog and never answers.
    const int silent = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    std::strncpy(addr.sun_path, (rt.Endpoints() / "Silent").c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(silent, 4), 0);

    struct Case {
        std::string To;
        std::chrono::milliseconds AtMost;
    } cases[] = {{"Nobody", 100ms}, {"Stale", 100ms}, {"Silent", 600ms}, {"../A", 100ms}};
    for (const auto& c : cases) {
        Message m;
        m.Number = platform::LinkMessage::Hello;
        const auto start = Clock::now();
        EXPECT_FALSE(a->Send(c.To, m, 300ms)) << c.To;
        EXPECT_LT(Clock::now() - start, c.AtMost) << c.To;
    }
    EXPECT_FALSE(platform::EndpointAlive(rt.Endpoints(), "Stale"));
    // The stale file is taken over; a live name is not.
    EXPECT_TRUE(Listen(rt, "Stale"));
    std::string error;
    EXPECT_FALSE(MessageEndpoint::Listen("A", error, rt.Endpoints()));
    ::close(silent);
}

TEST(Endpoint, HostileRecordsAreDroppedAndNamesBounded) {
    testkit::IsolatedRuntime rt;
    auto b = Listen(rt, "B");
    std::vector<Message> got;
    b->SetHandler([&](const Message& m) { got.push_back(m); });

    struct Record {
        uint32_t Magic, Number;
        uint64_t WParam, LParam;
        char Sender[32], Atom[32];
    };
    auto record = [](uint32_t magic) {
        Record r{};
        r.Magic = magic;
        r.Number = 999;
        std::memset(r.Sender, 'S', sizeof r.Sender); // no terminating NUL
        std::memset(r.Atom, 'V', sizeof r.Atom);
        return r;
    };
    const Record good = record(0x4D53444C);
    Record badSender = good;
    std::memcpy(badSender.Sender, "../../etc\0", 10);
    const Record badMagic = record(0x11111111);
    std::vector<std::vector<char>> sends;
    auto bytes = [](const void* p, std::size_t n) {
        return std::vector<char>(static_cast<const char*>(p), static_cast<const char*>(p) + n);
    };
    sends.push_back(bytes(&good, sizeof good));
    sends.push_back(bytes(&badSender, sizeof badSender));
    sends.push_back(bytes(&badMagic, sizeof badMagic));
    sends.push_back(bytes(&good, 10));                   // short
    std::vector<char> longer = bytes(&good, sizeof good); // one byte too many
    longer.push_back(0);
    sends.push_back(longer);
    sends.push_back({}); // connects and closes

    for (const auto& s : sends) {
        const int fd = RawConnect(rt.Endpoints() / "B");
        ASSERT_GE(fd, 0);
        if (!s.empty()) {
            ASSERT_EQ(::send(fd, s.data(), s.size(), 0), static_cast<ssize_t>(s.size()));
        }
        ::shutdown(fd, SHUT_WR);
        const auto start = Clock::now();
        b->ServePending();
        EXPECT_LT(Clock::now() - start, 400ms);
        ::close(fd);
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Number, 999u);
    EXPECT_EQ(got[0].Sender, std::string(31, 'S'));
    EXPECT_EQ(got[0].Atom, std::string(31, 'V'));
    EXPECT_EQ(got[1].Sender, "") << "a sender that is no endpoint name names no window";
}

TEST(Endpoint, PeersThatSendToEachOtherInsideHandlersDoNotDeadlock) {
    testkit::IsolatedRuntime rt;
    auto a = Listen(rt, "A");
    auto b = Listen(rt, "B");
    std::vector<std::string> order;
    a->SetHandler([&](const Message& m) { order.push_back("A got " + std::to_string(m.Number)); });
    std::atomic<bool> answered{false};
    b->SetHandler([&](const Message& m) {
        Message back;
        back.Number = m.Number + 1;
        answered = b->Send(m.Sender, back); // A is inside its own send to B
    });
    {
        Server server(*b);
        Message m;
        m.Number = 1125;
        EXPECT_TRUE(a->Send("B", m));
    }
    EXPECT_TRUE(answered);
    EXPECT_EQ(order, (std::vector<std::string>{"A got 1126"}));
}

TEST(NamedMutexTest, ExistsOnlyWhileAnotherHolderLives) {
    testkit::IsolatedRuntime rt;
    std::string error;
    // A lock file a crashed process left behind counts for nothing.
    { std::ofstream(rt.Path() / "Virtual TI.lock") << ""; }
    auto first = platform::NamedMutex::Create("Virtual TI", error);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(first->AlreadyExisted());
    auto second = platform::NamedMutex::Create("Virtual TI", error);
    ASSERT_TRUE(second) << error;
    EXPECT_TRUE(second->AlreadyExisted());
    first.reset();
    second.reset();
    auto third = platform::NamedMutex::Create("Virtual TI", error);
    ASSERT_TRUE(third);
    EXPECT_FALSE(third->AlreadyExisted());
}
