#include "drivers/BuiltinDrivers.h"

#include "platform/PortDriver.h"
#include "platform/SimCable.h"

#include <cstdlib>
#include <string>

namespace lodestrum::drivers {

void RegisterBuiltinDrivers() {
    auto& registry = platform::DriverRegistry::Instance();
    registry.Register("sim", [](std::string&) -> std::unique_ptr<platform::PortDriver> {
        int entry = 0;
        if (const char* port = std::getenv("LODESTRUM_SIM_PORT")) entry = std::atoi(port);
        return std::make_unique<platform::SimCable>(entry);
    });
}

} // namespace lodestrum::drivers
