#pragma once

#include "drivers/SimDriver.h"
#include "files/MonoImageFile.h"
#include "files/Ti89File.h"
#include "files/Ti8xFile.h"
#include "support/HangReport.h"
#include "support/JobRig.h"
#include "support/TempDir.h"
#include "transfers/Transfers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <thread>

namespace lodestrum::testkit {

// A receive or capture job against the simulated calculator, run in a
// folder of its own: received files get bare names in the current folder.
// The jobs end before the folder is left.
class ReceiveRig {
public:
    explicit ReceiveRig(vcalc::Model model, vcalc::CalcOptions options = {}) : Here(Work.Path()) {
        options.Kind = model;
        if (const char* log = std::getenv("LODESTRUM_SIM_LOG")) options.Log = *log == '1';
        Driver = std::make_unique<drivers::SimDriver>(0, std::move(options));
        Rig.Env.Driver = Driver.get();
        Rig.Env.Transfers = &transfers::DefaultTransfers();
    }

    vcalc::SimCalculator& Calc() { return Driver->Calculator(); }

    // Starts the job, then has the calculator send once the PC listens.
    engine::TTransThread* Start(uint8_t op, const std::string& fileName = "") {
        ++Jobs;
        return Rig.Start(op, fileName);
    }
    // A guard against a hang, not a timing: sanitizer builds on a busy machine are slow.
    bool Wait() { return WaitForJobsAndCalculator(Rig, Calc(), Jobs, std::chrono::seconds(180)); }
    bool Receive(std::vector<std::string> names = {}, uint8_t op = engine::OpReceiveVariables,
                 const std::string& fileName = "") {
        Start(op, fileName);
        Calc().QueueSend(std::move(names));
        return Wait();
    }

    std::filesystem::path File(const std::string& name) const { return Work.Path() / name; }
    std::vector<std::string> FilesHere() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Work.Path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> boxes;
        for (const auto& e : Rig.Host.Events())
            if (e.rfind("error:", 0) == 0 || e.rfind("ask:", 0) == 0 || e.rfind("save:", 0) == 0)
                boxes.push_back(e);
        return boxes;
    }
    std::vector<uint8_t> PcCommands() const {
        std::vector<uint8_t> out;
        for (const auto& p : Driver->Calculator().Transcript())
            if (!p.FromCalculator) out.push_back(p.Command);
        return out;
    }

    TempDir Work;
    CurrentFolder Here;
    std::unique_ptr<drivers::SimDriver> Driver;
    JobRig Rig;
    int Jobs = 0;
};

inline std::vector<uint8_t> Pattern(std::size_t size, uint8_t seed = 1) {
    std::vector<uint8_t> d(size);
    for (std::size_t i = 0; i < size; ++i) d[i] = static_cast<uint8_t>(seed + i * 7);
    return d;
}

// TI-82/83: size, type, 8-byte name.
inline vcalc::StoredVariable Ti82Var(const std::string& name, std::size_t size, uint8_t type = 0x05,
                                     uint8_t seed = 1) {
    std::vector<uint8_t> h = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), type};
    for (std::size_t i = 0; i < 8; ++i) h.push_back(i < name.size() ? name[i] : 0);
    return {h, {Pattern(size, seed)}, {}};
}

// TI-85/86: size, type, name length, name.
inline vcalc::StoredVariable Ti85Var(const std::string& name, std::size_t size, uint8_t type = 0x12,
                                     uint8_t seed = 1) {
    std::vector<uint8_t> h = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), type,
                              static_cast<uint8_t>(name.size())};
    h.insert(h.end(), name.begin(), name.end());
    return {h, {Pattern(size, seed)}, {}};
}

inline std::vector<uint8_t> Commands(std::initializer_list<int> list) {
    std::vector<uint8_t> out;
    for (int b : list) out.push_back(static_cast<uint8_t>(b));
    return out;
}

inline constexpr uint8_t VAR = 0x06, CTS = 0x09, DATA = 0x15, ACK = 0x56, RDY = 0x68, SCR = 0x6D,
                         EOT = 0x92;

} // namespace lodestrum::testkit
