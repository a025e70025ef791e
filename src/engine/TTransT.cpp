#include "engine/TTransT.h"

#include "platform/LinkPorts.h"

#include <cctype>
#include <chrono>
#include <climits>
#include <new>

namespace lodestrum::engine {

using platform::InPortOf;
using platform::IsValidLinkPortIndex;
using platform::LinkPort;
using platform::OutPortOf;

namespace {

// One pass of this loop is one unit of Delay; the volatile store in every
// pass keeps an optimising compiler from removing it.
void DelayLoop(int32_t passes) {
    volatile int32_t sink = 0;
    for (int32_t i = 0; i < passes; ++i) sink = i;
    (void)sink;
}

constexpr std::size_t MaxFileData = std::size_t{256} << 20;

} // namespace

int32_t ParseDelayText(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        value = value * 10 + (text[i++] - '0');
        if (value > INT32_MAX) value = int64_t{INT32_MAX} + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

std::string CalcTypeName(uint8_t calcType) {
    switch (calcType) {
    case 2: return "TI82";
    case 3: return "TI83";
    case 5: return "TI85";
    case 6: return "TI86";
    case 8: return "TI89,TI92+";
    case 9: return "TI92";
    default: return "TIxx";
    }
}

TTransThread* TTransThread::Create(const std::string& fileName, uint8_t transferOp,
                                   const JobSettings& settings,
                                   const LinkEnvironment& environment, JobHost& host,
                                   std::atomic<uint8_t>& calcType, CompletionHandler onTerminate) {
    return new TTransThread(fileName, transferOp, settings, environment, host, calcType,
                            std::move(onTerminate));
}

TTransThread::TTransThread(const std::string& fileName, uint8_t transferOp,
                           const JobSettings& settings, const LinkEnvironment& environment,
                           JobHost& host, std::atomic<uint8_t>& calcType,
                           CompletionHandler onTerminate)
    : CalcType(calcType), Env(environment), HostRef(host), OnTerminate(std::move(onTerminate)) {
    FileName.clear();
    StatusText.clear();
    PartCount = 1;
    InvertLines = settings.InvertLines;
    UseVirtualLink = settings.UseVirtualLink;
    Delay = ParseDelayText(settings.DelayText);
    TI86FourParts = settings.TI86FourParts;
    TI89ClipScreen = settings.TI89ClipScreen;
    TI89NoFolderName = settings.TI89NoFolderName;
    TI89SendToFolder = settings.TI89SendToFolder;
    TI89SaveAs92Plus = settings.TI89SaveAs92Plus;
    TI89VarLinkOnly = settings.TI89VarLinkOnly;
    SelectPort(settings.LinkPortIndex);
    // The release of the lines that creation makes waits for this job's turn
    // on the link (Run), so it cannot spoil the byte a running job is moving.
    FileName = fileName;
    TransferOp = transferOp;
    DefaultFolder = settings.DefaultFolder.substr(0, 8);
    FileData.reset();
    if (Env.Serializer) Ticket = Env.Serializer->Enqueue();
    Worker = std::thread([this] { Run(); });
}

TTransThread::~TTransThread() {
    if (Worker.joinable()) {
        if (Worker.get_id() == std::this_thread::get_id())
            Worker.detach();
        else
            Worker.join();
    }
}

void TTransThread::Run() {
    const bool turn = Env.Serializer ? Env.Serializer->WaitTurn(Ticket, Stop) : true;
    if (turn) {
        SetIdleLines();
        if (!PortChosen && !UseVirtualLink && TransferOp != OpDetectCable) {
            StatusText = "No link port selected.";
            ShowStatus();
            SetOutcome(JobOutcome::Error);
        } else {
            Execute();
        }
        if (Env.Serializer) Env.Serializer->Leave(Ticket);
    }
    ReleaseFileData();
    if (Terminated() && Outcome == JobOutcome::Done) Outcome = JobOutcome::Stopped;
    HostRef.Post([this] {
        HostRef.JobEnded(Outcome, OutcomeCode);
        if (OnTerminate) OnTerminate(*this);
        delete this;
    });
}

void TTransThread::Execute() {
    static const TransferSet none;
    const TransferSet& t = Env.Transfers ? *Env.Transfers : none;
    switch (TransferOp) {
    case OpSendSeries:
    case OpSendSingle:
        if (t.SendFile) t.SendFile(*this);
        break;
    case OpReceiveVariables:
        if (t.ReceiveVariable) {
            while (t.ReceiveVariable(*this)) {
            }
            RefreshFileList();
        }
        break;
    case OpReceiveGroup:
        if (t.ReceiveGroup) t.ReceiveGroup(*this);
        break;
    case OpCaptureScreen:
        if (t.CaptureScreen) t.CaptureScreen(*this);
        break;
    case OpCloseSeries:
        if (t.SendEot) {
            t.SendEot(*this);
            Pause(100);
        }
        break;
    case OpDetectCable:
        DetectCable();
        return; // detection leaves the last port as it scanned it
    default:
        break;
    }
    FinishJob();
}

void TTransThread::FinishJob() {
    if (UseVirtualLink) {
        // Judge the silence only when the ring is empty, so a byte that came
        // during the last pause is discarded too instead of greeting the next job;
        // the stop flag counts after every step, or a peer that never falls
        // silent would hold a stopped job.
        uint32_t last = Now();
        for (;;) {
            if (Env.Virtual && Env.Virtual->RingHasData()) {
                Env.Virtual->RingGetByte();
                last = Now();
            } else if (static_cast<uint32_t>(Now() - last) > 50) {
                break;
            } else {
                Pause(50);
            }
            if (Terminated()) break;
        }
        ReleaseFileData();
        return;
    }
    SetIdleLines();
    WriteOut(0);
    Pause(15);
    SetIdleLines();
    ReleaseFileData();
    Progress = 0;
    ShowProgress();
    ShowCalcType();
}

void TTransThread::SelectPort(int index) {
    SelectedIndex = index;
    PortChosen = IsValidLinkPortIndex(index);
    if (PortChosen) {
        InPort = InPortOf(index);
        OutPort = OutPortOf(index);
    } else {
        InPort = OutPort = 0;
    }
}

void TTransThread::WriteOut(uint8_t value) {
    if (PortChosen && Env.Driver) Env.Driver->WritePort(OutPort, value);
}

void TTransThread::SetIdleLines() {
    if (UseVirtualLink) return;
    WriteOut(3);
}

uint8_t TTransThread::ReadLines() {
    if (!PortChosen || !Env.Driver) return 0x30;
    return Env.Driver->ReadPort(InPort) & 0x30;
}

void TTransThread::SendByte(uint8_t value) {
    uint8_t v = InvertLines ? static_cast<uint8_t>(~value) : value;
    if (UseVirtualLink) {
        VirtualSendByte(v);
        return;
    }
    SetIdleLines();
    for (int bit = 0; bit < 8; ++bit) {
        while (ReadLines() != 0x30) {
            WriteOut(3);
            if (Terminated()) return;
        }
        WriteOut((v & 1) ? 2 : 1);
        while (ReadLines() == 0x30) {
            if (Terminated()) return;
        }
        while (ReadLines() != 0) {
            if (Terminated()) return;
        }
        WriteOut(3);
        v >>= 1;
        DelayLoop(Delay);
    }
    DelayLoop(Delay / 2);
    SetIdleLines();
}

uint8_t TTransThread::ReceiveByte() {
    uint8_t r = 0;
    if (UseVirtualLink) {
        while (!Env.Virtual || !Env.Virtual->RingHasData()) {
            if (Terminated()) return 0;
            Pause(50);
            if (Terminated()) return 0;
        }
        r = Env.Virtual->RingGetByte();
    } else {
        WriteOut(3);
        for (int bit = 0; bit < 8; ++bit) {
            uint8_t s;
            while ((s = ReadLines()) == 0x30) {
                if (Terminated()) return 0;
            }
            uint8_t watched;
            if (s == 0x10) {
                WriteOut(1);
                r = static_cast<uint8_t>((r >> 1) | 0x80);
                watched = 0x20;
            } else {
                WriteOut(2);
                r = static_cast<uint8_t>(r >> 1);
                watched = 0x10;
            }
            while ((ReadLines() & watched) == 0) {
                if (Terminated()) return 0;
            }
            WriteOut(3);
            bool idle = false;
            for (int32_t i = 0; i < Delay; ++i) {
                if (ReadLines() == 0x30) {
                    idle = true;
                    break;
                }
            }
            if (!idle && ReadLines() != 0x30) Pause(1);
        }
        DelayLoop(Delay / 2);
    }
    return InvertLines ? static_cast<uint8_t>(~r) : r;
}

void TTransThread::SendBlock(const uint8_t* buffer, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (Terminated()) return;
        SendByte(buffer[i]);
    }
}

void TTransThread::ReceiveBlock(uint8_t* buffer, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (Terminated()) return;
        buffer[i] = ReceiveByte();
    }
}

void TTransThread::VirtualSendByte(uint8_t value) {
    while (!Env.Virtual || !Env.Virtual->RingHasRoom()) {
        if (Terminated()) return;
        Pause(50);
        if (Terminated()) return;
    }
    Env.Virtual->RingPutByte(value);
}

void TTransThread::ShowStatus() {
    HostRef.Synchronize([this] { HostRef.ShowStatus(StatusText); });
}

void TTransThread::ShowCalcType() {
    const uint8_t type = CalcType.load();
    HostRef.Synchronize([this, type] {
        StatusText = CalcTypeName(type);
        HostRef.ShowCalcType(type, StatusText);
    });
}

void TTransThread::ShowProgress() {
    HostRef.Synchronize([this] { HostRef.ShowProgress(Progress); });
}

void TTransThread::RefreshFileList() {
    HostRef.Synchronize([this] { HostRef.RefreshFileList(); });
}

void TTransThread::ShowError(const std::string& text, const std::string& title) {
    HostRef.Synchronize([&] { HostRef.ShowError(title, text); });
}

bool TTransThread::AskYesNo(const std::string& title, const std::string& text, MessageIcon icon) {
    bool answer = false;
    HostRef.Synchronize([&] { answer = HostRef.AskYesNo(title, text, icon); });
    return answer;
}

std::optional<std::string> TTransThread::AskSaveFileName(const SaveDialogRequest& request) {
    std::optional<std::string> answer;
    HostRef.Synchronize([&] { answer = HostRef.AskSaveFileName(request); });
    return answer;
}

void TTransThread::HandScreenImage(const MonoImage& image) {
    HostRef.Synchronize([&] { HostRef.ShowScreenImage(image); });
}

void TTransThread::SetProgress(int32_t value) {
    LastProgress = Progress;
    Progress = value;
    if (Progress != LastProgress) ShowProgress();
}

void TTransThread::Pause(int milliseconds) {
    if (Env.Sleep) {
        Env.Sleep(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint32_t TTransThread::TickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TTransThread::ReleaseFileData() {
    if (FileData) {
        FileData.reset();
        ++FileDataReleases;
    }
}

bool TTransThread::AllocateFileData(std::size_t size) {
    ReleaseFileData();
    if (size > MaxFileData) return false;
    try {
        FileData.emplace(size);
    } catch (const std::bad_alloc&) {
        FileData.reset();
        return false;
    }
    return true;
}

void TTransThread::DetectCable() {
    if (UseVirtualLink) {
        StatusText = "The Virtual Link is used. No address needed.";
        ShowStatus();
        return;
    }
    static constexpr uint8_t Written[5] = {3, 1, 2, 0, 3};
    static constexpr uint8_t Expected[5] = {0x30, 0x20, 0x10, 0x00, 0x30};
    int found = 0;
    for (int index = 0; index < platform::LinkPortCount; ++index) {
        SelectPort(index);
        int matches = 0;
        for (int step = 0; step < 5; ++step) {
            WriteOut(Written[step]);
            Pause(20);
            if (ReadLines() == Expected[step]) ++matches;
        }
        if (matches < 3) continue;
        ++found;
        const std::string text(LinkPort[index].Text);
        if (found == 1)
            StatusText = "A cable seems to be at " + text + ".";
        else
            StatusText = "Cable (" + std::to_string(found) + ") seems to be at " + text + ".";
        if (matches == 3) StatusText += " Calculator connected or Short-circuit in cable.";
        HostRef.Synchronize([this, index] {
            HostRef.SelectLinkPort(index);
            HostRef.ShowStatus(StatusText);
        });
    }
    if (found == 0) {
        StatusText = "No cable was detected! Make sure calculator is disconnected.";
        ShowStatus();
    }
}

} // namespace lodestrum::engine
