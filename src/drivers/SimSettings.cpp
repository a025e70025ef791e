#include "drivers/SimSettings.h"

#include "platform/LinkPorts.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace lodestrum::drivers {

namespace {

std::optional<int> Entry(const std::string& text) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '7') return std::nullopt;
    return text[0] - '0';
}

} // namespace

std::optional<PortBehaviour> ParsePortBehaviour(const std::string& text) {
    if (text == "follow") return PortBehaviour::Follow;
    if (text == "weak") return PortBehaviour::Weak;
    if (text == "short") return PortBehaviour::Short;
    if (text == "idle") return PortBehaviour::Idle;
    if (text == "none") return PortBehaviour::None;
    if (text == "calc") return PortBehaviour::Calculator;
    return std::nullopt;
}

uint8_t BehaviourRead(PortBehaviour behaviour, uint8_t written) {
    using platform::InLineA;
    using platform::InLineB;
    using platform::OutLineA;
    using platform::OutLineB;
    const uint8_t rest = 0xFF & ~(InLineA | InLineB);
    const bool a = written & OutLineA, b = written & OutLineB;
    switch (behaviour) {
    case PortBehaviour::Follow:
        return rest | (a ? InLineA : 0) | (b ? InLineB : 0);
    case PortBehaviour::Weak:
        return rest | (a ? InLineA : 0) | (b || !a ? InLineB : 0);
    case PortBehaviour::Short:
        return a && b ? 0xFF : rest;
    case PortBehaviour::Idle:
        return rest | InLineA | InLineB;
    case PortBehaviour::Calculator:
    case PortBehaviour::None:
        break;
    }
    return 0xFF;
}

bool ApplySimSetting(SimSettings& s, const std::string& key, const std::string& value,
                     std::string& error) {
    if (key == "model") {
        const auto parsed = vcalc::ParseModel(value);
        if (!parsed) {
            error = "unknown model '" + value + "' (82, 83, 85, 86, 89, 92P or 92)";
            return false;
        }
        s.Calc.Kind = *parsed;
    } else if (key == "dir") {
        std::error_code ec;
        if (!std::filesystem::is_directory(value, ec)) {
            error = "'" + value + "' is not a folder";
            return false;
        }
        s.Calc.Directory = value;
    } else if (key == "skip") {
        if (value != "1" && value != "2") {
            error = "'" + value + "' is neither 1 nor 2";
            return false;
        }
        s.Calc.SkipCode = value[0] - '0';
    } else if (key == "log") {
        s.Calc.Log = value == "1";
    } else if (key == "port") {
        const auto entry = Entry(value);
        if (!entry) {
            error = "'" + value + "' is not a port entry from 0 to 7";
            return false;
        }
        s.Entry = *entry;
    } else if (key == "ports") {
        // ENTRY:BEHAVIOUR,...  e.g. 0:follow,3:short
        std::array<std::optional<PortBehaviour>, 8> ports;
        std::istringstream in(value);
        std::string item;
        while (std::getline(in, item, ',')) {
            const auto colon = item.find(':');
            const auto entry = colon == std::string::npos ? std::nullopt : Entry(item.substr(0, colon));
            const auto behaviour = entry ? ParsePortBehaviour(item.substr(colon + 1)) : std::nullopt;
            if (!behaviour) {
                error = "'" + item +
                        "' is not ENTRY:BEHAVIOUR (0 to 7; follow, weak, short, idle, none, calc)";
                return false;
            }
            ports[*entry] = behaviour;
        }
        s.Ports = ports;
    } else if (key == "send") {
        s.Send = value;
    } else if (key == "backup") {
        s.Backup = value == "1";
    } else if (key == "screen") {
        std::error_code ec;
        if (!value.empty() && !std::filesystem::is_regular_file(value, ec)) {
            error = "'" + value + "' is not a file";
            return false;
        }
        s.Screen = value;
    } else {
        error = "unknown setting";
        return false;
    }
    return true;
}

std::optional<SimSettings> SimSettingsFromEnvironment(std::string& error) {
    static constexpr const char* Keys[] = {"model", "dir",    "skip",   "log", "port",
                                           "ports", "send",   "backup", "screen"};
    SimSettings settings;
    for (const char* key : Keys) {
        std::string name = "LODESTRUM_SIM_";
        for (const char* c = key; *c; ++c) name += static_cast<char>(*c - 'a' + 'A');
        const char* value = std::getenv(name.c_str());
        if (!value || !*value) continue;
        if (!ApplySimSetting(settings, key, value, error)) {
            error = name + ": " + error;
            return std::nullopt;
        }
    }
    return settings;
}

} // namespace lodestrum::drivers
