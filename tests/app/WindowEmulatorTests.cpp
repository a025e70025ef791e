// The window's side of the virtual link: its greeting, the five messages,
// the check box that follows them, and the goodbye at the end, against an
// emulator endpoint on a thread of its own.
#include "AppTestSupport.h"

#include "app/Application.h"
#include "engine/VirtualLink.h"
#include "platform/GlobalAtoms.h"
#include "platform/MessageEndpoint.h"
#include "platform/NamedMutex.h"
#include "platform/SharedRing.h"
#include "transfers/Transfers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QtTest>

#include <poll.h>
#include <unistd.h>

#include <future>

using namespace lodestrum;
using app::TTranDlg;
using apptest::WindowRig;
using platform::LinkMessage;
using platform::Message;

namespace {

std::string UniquePrefix(const char* tag) {
    static int counter = 0;
    return "LA" + std::to_string(::getpid()) + tag + std::to_string(counter++) + " ";
}

// "TEmuWnd" served on its own thread; the test queues what it sends and
// reads what it was sent.
class FakeEmulator {
  public:
    explicit FakeEmulator(std::filesystem::path folder) {
        std::promise<bool> listening;
        auto ready = listening.get_future();
        Thread = std::thread([this, folder, p = std::move(listening)]() mutable {
            std::string error;
            auto endpoint =
                platform::MessageEndpoint::Listen(platform::EmulatorWindowName, error, folder);
            p.set_value(endpoint != nullptr);
            if (!endpoint) return;
            endpoint->SetHandler([this](const Message& m) {
                std::function<void(const Message&)> hook;
                {
                    std::lock_guard lock(Mutex);
                    Got.push_back(m);
                    hook = OnMessage;
                }
                if (hook) hook(m);
            });
            while (!Quit) {
                pollfd p{endpoint->Fd(), POLLIN, 0};
                if (::poll(&p, 1, 5) > 0) endpoint->ServePending();
                std::optional<std::pair<std::string, Message>> next;
                {
                    std::lock_guard lock(Mutex);
                    if (!Outbox.empty()) {
                        next = Outbox.front();
                        Outbox.pop_front();
                    }
                }
                if (next) {
                    const bool ok = endpoint->Send(next->first, next->second);
                    std::lock_guard lock(Mutex);
                    Answered += ok ? 1 : 0;
                }
            }
        });
        Ready = ready.get();
    }
    ~FakeEmulator() {
        Quit = true;
        Thread.join();
    }

    void Send(const std::string& to, uint32_t number, std::string atom = {}) {
        Message m;
        m.Number = number;
        m.Atom = std::move(atom);
        std::lock_guard lock(Mutex);
        Outbox.emplace_back(to, m);
    }
    int AnsweredCount() {
        std::lock_guard lock(Mutex);
        return Answered;
    }
    std::vector<Message> Received() {
        std::lock_guard lock(Mutex);
        return Got;
    }
    QList<uint32_t> Numbers() {
        QList<uint32_t> numbers;
        for (const Message& m : Received())
            numbers << m.Number;
        return numbers;
    }
    void SetHook(std::function<void(const Message&)> hook) {
        std::lock_guard lock(Mutex);
        OnMessage = std::move(hook);
    }

    bool Ready = false;

  private:
    std::thread Thread;
    std::atomic<bool> Quit{false};
    std::mutex Mutex;
    std::vector<Message> Got;
    std::deque<std::pair<std::string, Message>> Outbox;
    std::function<void(const Message&)> OnMessage;
    int Answered = 0;
};

} // namespace

class WindowEmulatorTests : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRig> Rig;
    std::filesystem::path Folder;
    std::unique_ptr<platform::NamedMutex> EmulatorMutex;
    std::unique_ptr<FakeEmulator> Emulator;
    std::unique_ptr<engine::VirtualLink> Link;
    std::unique_ptr<TTranDlg> W;
    QString StartDir;

    // The emulator runs first when asked, as Virtual TI would: it holds the
    // mutex and listens, so the program finds it at start-up.
    void StartEmulator() {
        std::string error;
        EmulatorMutex = platform::NamedMutex::Create("Virtual TI", error, Folder);
        QVERIFY2(EmulatorMutex, error.c_str());
        Emulator = std::make_unique<FakeEmulator>(Folder);
        QVERIFY(Emulator->Ready);
    }

    void StartProgram() {
        engine::VirtualLinkOptions o;
        o.RingPrefix = UniquePrefix("w");
        o.EndpointFolder = Folder;
        o.MutexFolder = Folder;
        Link = std::make_unique<engine::VirtualLink>(o);
        std::string error;
        QVERIFY2(Link->Start(error), error.c_str());
        auto setup = Rig->Setup(&transfers::DefaultTransfers());
        setup.Virtual = Link.get();
        setup.Link = Link.get();
        W = std::make_unique<TTranDlg>(setup);
        W->FormCreate();
        QTRY_COMPARE(W->LiveJobs(), 0);
    }

    // The emulator announces itself with Hello after the program started.
    void Introduce() {
        Emulator->Send(Link->WindowName(), LinkMessage::Hello);
        QTRY_COMPARE(Emulator->AnsweredCount(), 1);
        QCOMPARE(Link->EmuWindow(), std::string("TEmuWnd"));
    }

  private slots:
    void init() {
        StartDir = QDir::currentPath();
        Rig = std::make_unique<WindowRig>();
        QDir(Rig->Home.path()).mkpath("run");
        Folder = Rig->Home.filePath("run").toStdString();
    }

    void cleanup() {
        W.reset();
        Link.reset();
        Emulator.reset();
        EmulatorMutex.reset();
        Rig.reset();
        QDir::setCurrent(StartDir);
    }

    void AnEmulatorFoundAtStartIsGreetedAtFormCreate() {
        StartEmulator();
        StartProgram();
        QCOMPARE(Link->EmuWindow(), std::string("TEmuWnd"));
        QTRY_COMPARE(Emulator->Numbers(),
                     (QList<uint32_t>{LinkMessage::Hello, LinkMessage::SendBuffer}));
        const auto got = Emulator->Received();
        QCOMPARE(got[0].Sender, Link->WindowName());
        QCOMPARE(got[1].Atom, Link->OwnRingName());
        QCOMPARE(platform::GlobalFindAtom(Link->OwnRingName()), 0);
        QVERIFY(!W->ToEmuBox->isChecked());
    }

    void AStoredVirtualCableTellsTheEmulatorBeforeTheGreeting() {
        QFile f(Rig->SettingsPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quarrendale\\Lodestrum 3.0]\n"
                "\"To Emulator\"=dword:00000001\n");
        f.close();
        StartEmulator();
        StartProgram();
        QVERIFY(W->ToEmuBox->isChecked());
        QVERIFY(!W->LinkPortComboBox->isEnabled() && !W->DtctAddBtn->isEnabled());
        QTRY_COMPARE(Emulator->Numbers(),
                     (QList<uint32_t>{LinkMessage::EnableLink, LinkMessage::Hello,
                                      LinkMessage::SendBuffer}));
    }

    void WithoutAnEmulatorNothingIsSent() {
        StartProgram();
        QVERIFY(Link->EmuWindow().empty());
        W->ToEmuBox->setChecked(true); // a send to no window does nothing
        QVERIFY(!W->DtctAddBtn->isEnabled());
        StartEmulator();
        QTest::qWait(50);
        QVERIFY(Emulator->Received().empty());
    }

    void HelloIsAnsweredAndSendBufferAttachesThePeerRing() {
        StartProgram();
        StartEmulator();
        Introduce();
        const auto got = Emulator->Received();
        QCOMPARE(got.size(), size_t(1));
        QCOMPARE(got[0].Number, LinkMessage::SendBuffer);
        QCOMPARE(got[0].Atom, Link->OwnRingName());

        std::string error;
        const std::string emuRing = UniquePrefix("e") + "0";
        platform::SharedRing::Failure failure{};
        auto ring = platform::SharedRing::Create(emuRing, failure, error);
        QVERIFY(ring);
        Emulator->Send(Link->WindowName(), LinkMessage::SendBuffer, emuRing);
        QTRY_COMPARE(Emulator->AnsweredCount(), 2);
        QVERIFY(Link->HasPeerRing());
        QCOMPARE(Link->PeerRingName(), emuRing);
    }

    void TheBoxFollowsTheEmulatorAndEchoesEachChangeOnce() {
        StartProgram();
        StartEmulator();
        Introduce();
        auto echoes = [&](uint32_t number) { return Emulator->Numbers().count(number); };

        Emulator->Send(Link->WindowName(), LinkMessage::EnableLink);
        QTRY_COMPARE(Emulator->AnsweredCount(), 2);
        QVERIFY(W->ToEmuBox->isChecked());
        QVERIFY(!W->LinkPortComboBox->isEnabled() && !W->DtctAddBtn->isEnabled());
        QCOMPARE(echoes(LinkMessage::EnableLink), 1);

        Emulator->Send(Link->WindowName(), LinkMessage::EnableLink); // already on: no echo
        QTRY_COMPARE(Emulator->AnsweredCount(), 3);
        QCOMPARE(echoes(LinkMessage::EnableLink), 1);

        Emulator->Send(Link->WindowName(), 4242); // unknown numbers are answered and ignored
        QTRY_COMPARE(Emulator->AnsweredCount(), 4);
        QVERIFY(W->ToEmuBox->isChecked());

        Emulator->Send(Link->WindowName(), LinkMessage::DisableLink);
        QTRY_COMPARE(Emulator->AnsweredCount(), 5);
        QVERIFY(!W->ToEmuBox->isChecked());
        QVERIFY(W->LinkPortComboBox->isEnabled() && W->DtctAddBtn->isEnabled());
        QCOMPARE(echoes(LinkMessage::DisableLink), 1);

        // The user's own tick is told to the emulator too.
        W->ToEmuBox->click();
        QTRY_COMPARE(echoes(LinkMessage::EnableLink), 2);
    }

    void GoodbyeUnchecksTheBoxAndTheWindowSaysNothingLater() {
        StartProgram();
        StartEmulator();
        Introduce();
        W->ToEmuBox->setChecked(true);
        Emulator->Send(Link->WindowName(), LinkMessage::Goodbye);
        QTRY_COMPARE(Emulator->AnsweredCount(), 2);
        QVERIFY(!W->ToEmuBox->isChecked());
        QVERIFY(Link->EmuWindow().empty());
        const int before = int(Emulator->Received().size());
        W.reset();
        QTest::qWait(50);
        QCOMPARE(int(Emulator->Received().size()), before);
        QVERIFY(!Emulator->Numbers().contains(LinkMessage::Goodbye));
    }

    void ShutDownReleasesDriverAndRingBeforeTheWindowSaysGoodbye() {
        StartEmulator();
        StartProgram();
        const std::string own = Link->OwnRingName();
        std::atomic<int> ringOpenAtGoodbye{-1};
        Emulator->SetHook([&](const Message& m) {
            if (m.Number != LinkMessage::Goodbye) return;
            std::string error;
            ringOpenAtGoodbye = platform::SharedRing::Open(own, error) ? 1 : 0;
        });
        QTRY_COMPARE(Emulator->Numbers().size(), 2);
        app::ShutDown(W, Rig->Driver, Link.get());
        QVERIFY(!W);
        QVERIFY(!Rig->Driver);
        QTRY_COMPARE(Emulator->Numbers().count(LinkMessage::Goodbye), 1);
        QCOMPARE(ringOpenAtGoodbye.load(), 0);
        QVERIFY(!Link->HasPeerRing());
    }
};

int main(int argc, char** argv) {
    app::Application application(argc, argv);
    WindowEmulatorTests t;
    return QTest::qExec(&t, argc, argv);
}

#include "WindowEmulatorTests.moc"
