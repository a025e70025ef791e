#include "drivers/SimDriver.h"

#include <cstdlib>
#include <filesystem>

namespace lodestrum::drivers {

SimDriver::SimDriver(int pluggedEntry, vcalc::CalcOptions options)
    : Cable(pluggedEntry), End(Cable),
      Calc(std::make_unique<vcalc::SimCalculator>(End, std::move(options))) {
    Calc->Start();
}

SimDriver::~SimDriver() {
    End.Cancel();
    Calc->Stop();
}

std::unique_ptr<SimDriver> SimDriver::FromEnvironment(std::string& error) {
    auto get = [](const char* name) -> std::string {
        const char* value = std::getenv(name);
        return value ? value : "";
    };
    vcalc::CalcOptions options;
    if (const auto model = get("LODESTRUM_SIM_MODEL"); !model.empty()) {
        const auto parsed = vcalc::ParseModel(model);
        if (!parsed) {
            error = "LODESTRUM_SIM_MODEL: unknown model '" + model +
                    "' (82, 83, 85, 86, 89, 92P or 92)";
            return nullptr;
        }
        options.Kind = *parsed;
    }
    if (const auto dir = get("LODESTRUM_SIM_DIR"); !dir.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(dir, ec)) {
            error = "LODESTRUM_SIM_DIR: '" + dir + "' is not a folder";
            return nullptr;
        }
        options.Directory = dir;
    }
    if (const auto skip = get("LODESTRUM_SIM_SKIP"); !skip.empty()) {
        if (skip != "1" && skip != "2") {
            error = "LODESTRUM_SIM_SKIP: '" + skip + "' is neither 1 nor 2";
            return nullptr;
        }
        options.SkipCode = skip[0] - '0';
    }
    options.Log = get("LODESTRUM_SIM_LOG") == "1";
    int entry = 0;
    if (const auto port = get("LODESTRUM_SIM_PORT"); !port.empty()) {
        entry = std::atoi(port.c_str());
        if (port.find_first_not_of("0123456789") != std::string::npos || entry > 7) {
            error = "LODESTRUM_SIM_PORT: '" + port + "' is not a port entry from 0 to 7";
            return nullptr;
        }
    }
    return std::make_unique<SimDriver>(entry, std::move(options));
}

} // namespace lodestrum::drivers
