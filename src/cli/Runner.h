#pragma once

#include "cli/CliHost.h"
#include "cli/Console.h"
#include "cli/Defaults.h"
#include "cli/Options.h"
#include "engine/TTransT.h"
#include "platform/PortDriver.h"

namespace lodestrum::cli {

namespace exitcode {
inline constexpr int Done = 0;
inline constexpr int Failed = 1; // refused by the calculator, or an error was reported
inline constexpr int Usage = 2;
inline constexpr int Stopped = 130;
} // namespace exitcode

struct RunEnvironment {
    platform::PortDriver* Driver = nullptr;
    const engine::TransferSet* Transfers = nullptr;
    engine::VirtualCable* Virtual = nullptr;
};

// Runs the command's jobs one after another, with this thread as the
// window's thread, and returns the exit code.
int RunCommand(const CliOptions& options, const RunSettings& settings, CliHost& host,
               Console& console, const RunEnvironment& environment);

} // namespace lodestrum::cli
