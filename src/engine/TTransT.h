#pragma once

#include "engine/JobHost.h"
#include "engine/LinkSerializer.h"
#include "engine/VirtualCable.h"
#include "platform/PortDriver.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lodestrum::engine {

class TTransThread;

// What a job copies from the window's controls when it is created. The front
// end fills it; the worker never reads a widget.
struct JobSettings {
    int LinkPortIndex = 0; // LinkPortComboBox item, -1 when none is chosen
    bool InvertLines = false;
    bool UseVirtualLink = false;
    bool TI86FourParts = false;
    bool TI89ClipScreen = false;
    bool TI89NoFolderName = false;
    bool TI89VarLinkOnly = false;
    bool TI89SaveAs92Plus = false;
    bool TI89SendToFolder = false;
    std::string DelayText = "0";
    std::string DefaultFolder = "main";
};

// The transfers Execute dispatches to; the transfers layer fills it in.
struct TransferSet {
    void (*SendFile)(TTransThread&) = nullptr;
    bool (*ReceiveVariable)(TTransThread&) = nullptr;
    void (*ReceiveGroup)(TTransThread&) = nullptr;
    void (*CaptureScreen)(TTransThread&) = nullptr;
    void (*SendEot)(TTransThread&) = nullptr;
};

// What the whole program shares with its jobs.
struct LinkEnvironment {
    platform::PortDriver* Driver = nullptr;
    LinkSerializer* Serializer = nullptr;
    VirtualCable* Virtual = nullptr;
    const TransferSet* Transfers = nullptr;
    // Replaces the real pauses when set (fuzzing runs a transfer many
    // thousand times a second; its pauses would make that impossible).
    void (*Sleep)(int milliseconds) = nullptr;
    // Replaces the millisecond tick count when set, so a test can put the
    // counter just before its wrap.
    uint32_t (*Ticks)() = nullptr;
};

enum TransferOpCode : uint8_t {
    OpNone = 0,
    OpSendSeries = 1,
    OpReceiveVariables = 2,
    OpReceiveGroup = 3,
    OpCaptureScreen = 4,
    OpSendSingle = 5,
    OpCloseSeries = 6,
    OpRefresh = 7,
    OpDetectCable = 8,
};

// Reads the delay edit's text as the job does: leading blanks and a sign,
// then digits up to the first other character; anything else gives 0.
int32_t ParseDelayText(const std::string& text);

// "TI82", "TI83", ..., "TIxx" for a CalcType.
std::string CalcTypeName(uint8_t calcType);

// One link job on a worker thread of its own. It takes its settings at
// creation, runs Execute, ends with FinishJob, hands its completion handler
// to the window's thread and deletes itself there.
class TTransThread {
public:
    using CompletionHandler = std::function<void(TTransThread&)>;

    // Creates and starts a job. The returned pointer is valid until the
    // completion handler has returned; the window never deletes it.
    static TTransThread* Create(const std::string& fileName, uint8_t transferOp,
                                const JobSettings& settings, const LinkEnvironment& environment,
                                JobHost& host, std::atomic<uint8_t>& calcType,
                                CompletionHandler onTerminate = {});

    TTransThread(const TTransThread&) = delete;
    TTransThread& operator=(const TTransThread&) = delete;

    void Terminate() { Stop.store(true, std::memory_order_relaxed); }
    bool Terminated() const { return Stop.load(std::memory_order_relaxed); }

    // Port and byte operations.
    void SelectPort(int index);
    void SetIdleLines();
    uint8_t ReadLines();
    void WriteOut(uint8_t value);
    void SendByte(uint8_t value);
    uint8_t ReceiveByte();
    void SendBlock(const uint8_t* buffer, int32_t count);
    void ReceiveBlock(uint8_t* buffer, int32_t count);

    // The four display calls, each marshalled onto the window's thread.
    void ShowStatus();
    void ShowCalcType();
    void ShowProgress();
    void RefreshFileList();

    // Modal boxes through the host; the worker waits for the answer.
    void ShowError(const std::string& text, const std::string& title = "Lodestrum Error");
    bool AskYesNo(const std::string& title, const std::string& text,
                  MessageIcon icon = MessageIcon::Stop);
    std::optional<std::string> AskSaveFileName(const SaveDialogRequest& request);
    void HandScreenImage(const MonoImage& image);

    // Progress convention: remember the old value, take the new one, show it if it changed.
    void SetProgress(int32_t value);

    void Pause(int milliseconds);
    static uint32_t TickCount();

    void ReleaseFileData();
    // Allocates FileData; false when memory is short.
    bool AllocateFileData(std::size_t size);

    void DetectCable();
    void SetOutcome(JobOutcome outcome, int code = 0) {
        Outcome = outcome;
        OutcomeCode = code;
    }

    JobHost& Host() { return HostRef; }
    const LinkEnvironment& Environment() const { return Env; }
    bool HasPort() const { return PortChosen; }

    // Fields, as the design names them.
    std::atomic<uint8_t>& CalcType;
    uint32_t InPort = 0;
    uint32_t OutPort = 0;
    std::array<uint8_t, 256> PacketBuffer{};
    std::array<uint8_t, 516> HeaderBuffer{};
    int32_t Progress = 0;
    int32_t LastProgress = 0;
    uint32_t PartCount = 1;
    std::string FileName;
    std::array<uint8_t, 13840> WorkBuffer{};
    std::optional<std::vector<uint8_t>> FileData;
    bool InvertLines = false;
    bool UseVirtualLink = false;
    bool TI86FourParts = false;
    bool TI89ClipScreen = false;
    bool TI89NoFolderName = false;
    bool TI89VarLinkOnly = false;
    bool TI89SaveAs92Plus = false;
    bool TI89SendToFolder = false;
    uint8_t TransferOp = 0;
    std::string StatusText;
    int32_t Delay = 0;
    std::string DefaultFolder;

    JobOutcome Outcome = JobOutcome::Done;
    int OutcomeCode = 0;
    // Counts real releases of FileData, so tests can see a buffer is released once.
    int FileDataReleases = 0;

private:
    TTransThread(const std::string& fileName, uint8_t transferOp, const JobSettings& settings,
                 const LinkEnvironment& environment, JobHost& host, std::atomic<uint8_t>& calcType,
                 CompletionHandler onTerminate);
    ~TTransThread();

    void Run();
    void Execute();
    void FinishJob();
    void VirtualSendByte(uint8_t value);
    uint32_t Now() const { return Env.Ticks ? Env.Ticks() : TickCount(); }

    LinkEnvironment Env;
    JobHost& HostRef;
    CompletionHandler OnTerminate;
    std::atomic<bool> Stop{false};
    bool PortChosen = false;
    int SelectedIndex = -1;
    LinkSerializer::Ticket Ticket = 0;
    std::thread Worker;
};

} // namespace lodestrum::engine
