#pragma once

#include "vcalc/SimCalculator.h"

#include <array>
#include <optional>
#include <string>

namespace lodestrum::drivers {

// What a port of the sim driver does when the calculator's cable is not on it.
enum class PortBehaviour {
    Calculator, // the simulated cable with the calculator at its far end
    Follow,     // a cable: each input line reads what was written
    Weak,       // follows one pulled line, but with both pulled LineB reads high
    Short,      // both inputs read 0 whenever either line is pulled
    Idle,       // both inputs always high (0x30)
    None,       // nothing plugged: the register reads all ones
};

// The sim calculator's and sim driver's settings, from the environment
// (LODESTRUM_SIM_KEY) or from lodestrum-vcalc's options (--key).
struct SimSettings {
    vcalc::CalcOptions Calc;
    int Entry = 0; // the port table entry the calculator's cable is plugged into
    // Behaviours given to entries; an entry without one is the calculator's
    // cable when it is Entry, else None.
    std::array<std::optional<PortBehaviour>, 8> Ports;
    // Kept for the calculator's sending and screen, which read them when they exist.
    std::string Send;   // "all" or NAME,...
    bool Backup = false;
    std::string Screen; // a 1-bit BMP
};

// Applies one setting by key: model, dir, port, ports, send, backup, screen,
// skip, log. false with a reason (without the key) when the value is not understood.
bool ApplySimSetting(SimSettings& settings, const std::string& key, const std::string& value,
                     std::string& error);

// The LODESTRUM_SIM_* variables; nullopt with a reason naming the variable.
std::optional<SimSettings> SimSettingsFromEnvironment(std::string& error);

// "follow", "weak", "short", "idle", "none", "calc".
std::optional<PortBehaviour> ParsePortBehaviour(const std::string& text);

// The value an input register reads on a port with this behaviour after
// `written` went to its output register (only the two line bits count).
uint8_t BehaviourRead(PortBehaviour behaviour, uint8_t written);

} // namespace lodestrum::drivers
