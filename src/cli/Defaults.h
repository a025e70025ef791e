#pragma once

#include "cli/Options.h"
#include "engine/TTransT.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lodestrum::cli {

// What the jobs of one run start from: the window's saved settings, then the
// command line on top of them.
struct RunSettings {
    engine::JobSettings Job;
    uint8_t CalcType = 5;
};

// The built-in values, as the window has them on a first start.
RunSettings BuiltinSettings();

// Reads the per-user settings store at path; never writes it. A store that
// cannot be read, or a value of the wrong type, is told in warnings and its
// built-in value is used.
RunSettings LoadStoredSettings(const std::string& path, std::vector<std::string>& warnings);

// The command line's values, for this run only.
void ApplyOptions(RunSettings& settings, const CliOptions& options);

} // namespace lodestrum::cli
