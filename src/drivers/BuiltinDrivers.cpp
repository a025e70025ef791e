#include "drivers/BuiltinDrivers.h"

#include "platform/DevDriver.h"
#include "platform/PortDriver.h"
#include "platform/RawDriver.h"
#include "drivers/SimDriver.h"

#include <string>

namespace lodestrum::drivers {

void RegisterBuiltinDrivers() {
    auto& registry = platform::DriverRegistry::Instance();
    registry.Register("dev", platform::CreateDevDriver);
    registry.Register("raw", platform::CreateRawDriver);
    registry.Register("sim", [](std::string& error) -> std::unique_ptr<platform::PortDriver> {
        return SimDriver::FromEnvironment(error);
    });
}

} // namespace lodestrum::drivers
