#include "platform/PortDriver.h"

#include <cstdlib>

namespace lodestrum::platform {

DriverRegistry& DriverRegistry::Instance() {
    static DriverRegistry registry;
    return registry;
}

void DriverRegistry::Register(const std::string& name, Factory factory) {
    for (auto& [known, existing] : Factories) {
        if (known == name) {
            existing = std::move(factory);
            return;
        }
    }
    Factories.emplace_back(name, std::move(factory));
}

std::unique_ptr<PortDriver> DriverRegistry::Create(const std::string& name,
                                                   std::string& error) const {
    for (const auto& [known, factory] : Factories) {
        if (known == name) {
            error.clear();
            auto driver = factory(error);
            if (!driver && error.empty()) error = "the port driver '" + name + "' did not start";
            return driver;
        }
    }
    error = "unknown port driver '" + name + "'";
    return nullptr;
}

std::vector<std::string> DriverRegistry::Names() const {
    std::vector<std::string> names;
    for (const auto& entry : Factories) names.push_back(entry.first);
    return names;
}

std::string DriverNameFromEnvironment() {
    const char* name = std::getenv("LODESTRUM_PORT_DRIVER");
    if (name && *name) return name;
    return "dev";
}

} // namespace lodestrum::platform
