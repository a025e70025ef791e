#pragma once

#include "platform/SimCable.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lodestrum::vcalc {

// Models and the machine ID each sends in its packets.
enum class Model : uint8_t {
    TI82 = 0x82,
    TI83 = 0x83,
    TI85 = 0x85,
    TI86 = 0x86,
    TI89 = 0x98,
    TI92Plus = 0x88,
    TI92 = 0x89,
};

// "82", "83", "85", "86", "89", "92P", "92" (case-insensitive); nullopt otherwise.
std::optional<Model> ParseModel(const std::string& text);
// The CalcType of the model's file family: 2, 3, 5, 6, 8 or 9.
uint8_t ModelCalcType(Model model);

struct CalcOptions {
    Model Kind = Model::TI83;
    // Files there are the memory at start; received variables are written there.
    std::optional<std::filesystem::path> Directory;
    int SkipCode = 0;       // refuse every variable with this SKIP code (1 or 2)
    // For tests: the SKIP code for the n-th variable announced (0-based), 0 to accept.
    // Takes the place of SkipCode when set.
    std::function<int(int)> Refuse;
    bool Silent = false;    // read, never answer
    bool Log = false;       // a line per packet and stored variable on stderr
    // How long the calculator waits for the PC inside an exchange before it
    // gives up and returns to waiting for a new one.
    std::chrono::milliseconds ExchangeTimeout{3000};

    // Sending, as if the user pressed send on the calculator once the link is
    // up: "all" or NAME,... of its memory, and a backup of it.
    std::string SendOnStart;
    bool BackupOnStart = false;
    // TI-86: the backup goes in four parts instead of three.
    bool FourPartBackup = false;
    // TI-89/92: RDY packets sent before the first VAR of a transmission.
    int ReadyPackets = 0;
    // How long it waits for the PC's CTS after a VAR: the PC may be asking
    // its user first. Without one it goes on with the next variable.
    std::chrono::milliseconds AnswerTimeout{60000};
    // A 1-bit BMP shown on its screen; a test pattern otherwise.
    std::optional<std::filesystem::path> ScreenFile;

    // Faults of what it sends, on request.
    std::optional<std::string> NameOverride; // every variable announced under this name
    std::function<uint32_t(uint32_t)> AnnounceSize; // the size a VAR announces, from the real one
    bool WrongChecksums = false;             // every VAR and DATA checksum off by one
};

// One packet as it crossed the link.
struct Packet {
    bool FromCalculator = false;
    uint8_t MachineId = 0;
    uint8_t Command = 0;
    uint16_t Length = 0;
    std::vector<uint8_t> Data;
    uint16_t Checksum = 0; // as carried (0 for packets without data)
    std::string Describe() const;
};

// A variable in the calculator's memory: the header the PC announced it
// with (the TI-8x VarHeader, exactly) and its data parts.
struct StoredVariable {
    std::vector<uint8_t> Header;
    std::vector<std::vector<uint8_t>> Parts;
    std::string FileName; // the name it was written under in Directory
    bool IsFlash = false;  // a FLASH application or AMS: Parts are its blocks
};

// What a TI-89/92 keeps of a variable, as it would announce it: the VarHeader
// (size, type ID, name length, name, zero) and one data packet (four zero
// bytes, the size big-endian, the contents).
StoredVariable Ti89Stored(const std::string& fullName, uint8_t typeId,
                          const std::vector<uint8_t>& contents);
// The name a user picks a variable by: the TI-8x name, or the TI-89/92 name as
// announced (folder\name or name).
std::string VariableName(Model model, const StoredVariable& variable);
// The display bytes the calculator sends for a screen request: from the image
// file when one is set (cut or padded to the model's display), a test pattern
// otherwise; a set bit is a dark pixel.
std::vector<uint8_t> ScreenBytes(const CalcOptions& options);

// The calculator's end of a link: it answers what the PC sends, keeps what
// it receives, and records every packet both ways. It runs on a thread of
// its own over a ByteLink (the simulated cable, or a virtual-link ring).
class SimCalculator {
public:
    SimCalculator(platform::ByteLink& link, CalcOptions options);
    ~SimCalculator();
    SimCalculator(const SimCalculator&) = delete;
    SimCalculator& operator=(const SimCalculator&) = delete;

    void Start();
    void Stop();

    std::vector<Packet> Transcript() const;
    void ClearTranscript();
    // Its last lines of log (what --log prints), kept to explain a failure.
    std::vector<std::string> Notes() const;
    std::vector<StoredVariable> Memory() const;
    // Transmissions closed by an EOT from the PC.
    int EotCount() const;
    const CalcOptions& Options() const { return Opts; }

    // Sending on request: the named variables (all of them when names is
    // empty) and an EOT, or a backup of the memory. It starts once the lines
    // are quiet and the PC takes the first bit, and gives up a transmission
    // the PC stops answering.
    void QueueSend(std::vector<std::string> names = {});
    void QueueBackup();
    // Adds a variable to the memory without a transfer (for tests).
    void AddVariable(StoredVariable variable);
    // Transmissions queued and not yet sent or given up.
    int PendingSends() const;
    // Transmissions that went to their end.
    int SentCount() const;
    // Waits until it is done with what it was handling and listens again. A
    // PC's last packet can end its job before the calculator has kept what
    // came: a FLASH sender's EOT has no answer.
    bool WaitIdle(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    void Run();
    bool ReadPacket(Packet& packet, std::chrono::milliseconds firstByteTimeout);
    bool SendPacket(uint8_t command, const std::vector<uint8_t>& data, bool withData,
                    std::optional<std::chrono::milliseconds> firstByteTimeout = std::nullopt);
    bool SendShort(uint8_t command) { return SendPacket(command, {}, false); }
    bool Expect(uint8_t command, std::chrono::milliseconds timeout);
    struct Transmission {
        bool Backup = false;
        std::vector<std::string> Names;
    };
    // false when the PC never took the first byte: the transmission stays queued.
    bool SendTransmission(const Transmission& transmission);
    bool SendVariable(const StoredVariable& variable, bool first, bool& started);
    StoredVariable BackupOfMemory() const;
    std::vector<uint8_t> Announced(const StoredVariable& variable) const;
    void SendScreen();
    void HandleVar(const Packet& var);
    void ReceiveFlash(const Packet& var);
    bool Family89() const;
    std::string FileNameFor(const StoredVariable& variable) const;
    std::vector<uint8_t> FileImageOf(const StoredVariable& variable) const;
    void LoadDirectory();
    void Store(const StoredVariable& variable);
    void Say(const std::string& line) const;
    void MarkBusy();
    uint8_t MachineId() const { return static_cast<uint8_t>(Opts.Kind); }

    platform::ByteLink& Link;
    CalcOptions Opts;
    std::atomic<bool> Running{false};
    std::thread Thread;
    mutable std::mutex Mutex;
    mutable std::condition_variable IdleChanged;
    bool Idle = false; // guarded by Mutex
    static constexpr std::size_t MaxNotes = 200;
    mutable std::mutex NotesMutex;
    mutable std::deque<std::string> NotesLog;
    std::vector<Packet> Log;
    std::vector<StoredVariable> Vars;
    int Eots = 0;
    int VarsAnnounced = 0;
    std::vector<Transmission> Queue;
    int Sent = 0;
    // A backup whose fourth part may still come.
    std::optional<std::size_t> OpenBackup;
};

} // namespace lodestrum::vcalc
