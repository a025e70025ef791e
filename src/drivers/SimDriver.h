#pragma once

#include "drivers/SimSettings.h"
#include "platform/SimCable.h"
#include "vcalc/SimCalculator.h"

#include <array>
#include <atomic>
#include <memory>
#include <string>

namespace lodestrum::drivers {

// The "sim" driver: a simulated cable with the simulated calculator on its
// far end, answering on its own thread. Any entry can be given another
// behaviour instead (a bare cable, a short, nothing), for cable detection.
class SimDriver : public platform::PortDriver {
public:
    SimDriver(int pluggedEntry, vcalc::CalcOptions options);
    explicit SimDriver(const SimSettings& settings);
    ~SimDriver() override;

    // Configured from the LODESTRUM_SIM_* variables (SimSettings.h);
    // nullptr with a reason when a value is not understood.
    static std::unique_ptr<SimDriver> FromEnvironment(std::string& error);

    void WritePort(uint32_t port, uint8_t value) override;
    uint8_t ReadPort(uint32_t port) override;

    // Gives an entry a behaviour; Calculator puts the calculator's cable back
    // (it answers only on its own entry).
    void SetPortBehaviour(int entry, PortBehaviour behaviour);

    platform::SimCable& Wire() { return Cable; }
    vcalc::SimCalculator& Calculator() { return *Calc; }

private:
    platform::SimCable Cable;
    platform::SimCableEnd End;
    std::unique_ptr<vcalc::SimCalculator> Calc;
    // Per entry: 0 the default (the cable's), else a PortBehaviour + 1.
    std::array<std::atomic<uint8_t>, 8> Behaviours{};
    std::array<std::atomic<uint8_t>, 8> Written{};
};

} // namespace lodestrum::drivers
