#pragma once

#include "platform/SimCable.h"

#include <atomic>
#include <chrono>
#include <cstdint>
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
    std::vector<StoredVariable> Memory() const;
    // Transmissions closed by an EOT from the PC.
    int EotCount() const;
    const CalcOptions& Options() const { return Opts; }

private:
    void Run();
    bool ReadPacket(Packet& packet, std::chrono::milliseconds firstByteTimeout);
    bool SendPacket(uint8_t command, const std::vector<uint8_t>& data, bool withData);
    bool SendShort(uint8_t command) { return SendPacket(command, {}, false); }
    void HandleVar(const Packet& var);
    void ReceiveFlash(const Packet& var);
    bool Family89() const;
    std::string FileNameFor(const StoredVariable& variable) const;
    std::vector<uint8_t> FileImageOf(const StoredVariable& variable) const;
    void LoadDirectory();
    void Store(const StoredVariable& variable);
    void Say(const std::string& line) const;
    uint8_t MachineId() const { return static_cast<uint8_t>(Opts.Kind); }

    platform::ByteLink& Link;
    CalcOptions Opts;
    std::atomic<bool> Running{false};
    std::thread Thread;
    mutable std::mutex Mutex;
    std::vector<Packet> Log;
    std::vector<StoredVariable> Vars;
    int Eots = 0;
    int VarsAnnounced = 0;
    // A backup whose fourth part may still come.
    std::optional<std::size_t> OpenBackup;
};

} // namespace lodestrum::vcalc
