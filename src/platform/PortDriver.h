#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lodestrum::platform {

// The two entry points through which the engine reaches a cable: write a byte
// to an I/O address, read a byte from one. Every driver is an instance; none
// keeps state in globals.
class PortDriver {
public:
    virtual ~PortDriver() = default;
    virtual void WritePort(uint32_t port, uint8_t value) = 0;
    virtual uint8_t ReadPort(uint32_t port) = 0;
};

// Drivers register a factory under a name; front ends pick one by name
// (LODESTRUM_PORT_DRIVER) without a central list that knows them all.
class DriverRegistry {
public:
    // Returns the driver, or nullptr with a reason in `error` when the name is
    // unknown or the driver cannot start.
    using Factory = std::function<std::unique_ptr<PortDriver>(std::string& error)>;

    static DriverRegistry& Instance();

    void Register(const std::string& name, Factory factory);
    std::unique_ptr<PortDriver> Create(const std::string& name, std::string& error) const;
    std::vector<std::string> Names() const;

private:
    std::vector<std::pair<std::string, Factory>> Factories;
};

// The driver name the environment asks for: LODESTRUM_PORT_DRIVER, else "dev".
std::string DriverNameFromEnvironment();

} // namespace lodestrum::platform
