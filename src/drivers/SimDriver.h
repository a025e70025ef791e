#pragma once

#include "platform/SimCable.h"
#include "vcalc/SimCalculator.h"

#include <memory>
#include <string>

namespace lodestrum::drivers {

// The "sim" driver: a simulated cable with the simulated calculator on its
// far end, answering on its own thread.
class SimDriver : public platform::PortDriver {
public:
    SimDriver(int pluggedEntry, vcalc::CalcOptions options);
    ~SimDriver() override;

    // Configured from LODESTRUM_SIM_MODEL, _DIR, _PORT, _SKIP and _LOG;
    // nullptr with a reason when a value is not understood.
    static std::unique_ptr<SimDriver> FromEnvironment(std::string& error);

    void WritePort(uint32_t port, uint8_t value) override { Cable.WritePort(port, value); }
    uint8_t ReadPort(uint32_t port) override { return Cable.ReadPort(port); }

    platform::SimCable& Wire() { return Cable; }
    vcalc::SimCalculator& Calculator() { return *Calc; }

private:
    platform::SimCable Cable;
    platform::SimCableEnd End;
    std::unique_ptr<vcalc::SimCalculator> Calc;
};

} // namespace lodestrum::drivers
