#pragma once

#include "drivers/SimDriver.h"
#include "support/HangReport.h"
#include "support/JobRig.h"
#include "support/TempDir.h"
#include "transfers/Transfers.h"

#include <cstdlib>
#include <memory>

namespace lodestrum::testkit {

// A job against the simulated calculator on the simulated cable, with the
// transfers front ends use, and folders for the calculator's memory and
// the files the test writes.
class SendRig {
public:
    explicit SendRig(vcalc::Model model, vcalc::CalcOptions options = {}) {
        options.Kind = model;
        options.Directory = Memory.Path();
        if (const char* log = std::getenv("LODESTRUM_SIM_LOG")) options.Log = *log == '1';
        Driver = std::make_unique<drivers::SimDriver>(0, std::move(options));
        Rig.Env.Driver = Driver.get();
        Rig.Env.Transfers = &transfers::DefaultTransfers();
    }

    bool Send(const std::filesystem::path& path, uint8_t op = engine::OpSendSingle) {
        Rig.Start(op, path.string());
        return WaitForJobsAndCalculator(Rig, Driver->Calculator(), ++Jobs, std::chrono::seconds(120));
    }

    vcalc::SimCalculator& Calculator() { return Driver->Calculator(); }

    std::vector<vcalc::Packet> FromPc() const {
        std::vector<vcalc::Packet> out;
        for (const auto& p : Driver->Calculator().Transcript())
            if (!p.FromCalculator) out.push_back(p);
        return out;
    }
    std::vector<uint8_t> Commands() const {
        std::vector<uint8_t> out;
        for (const auto& p : Driver->Calculator().Transcript()) out.push_back(p.Command);
        return out;
    }

    TempDir Memory;
    TempDir Work;
    std::unique_ptr<drivers::SimDriver> Driver;
    JobRig Rig;
    int Jobs = 0;
};

} // namespace lodestrum::testkit
