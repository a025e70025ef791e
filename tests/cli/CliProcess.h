#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lodestrum::clitest {

struct CliResult {
    int ExitCode = -1; // -1: did not end in time and was killed
    std::string Out;
    std::string Err;
};

struct CliRun {
    std::vector<std::string> Args;
    // Added to (or, with an empty value, removed from) the test's environment.
    std::map<std::string, std::string> Env;
    std::chrono::milliseconds Timeout{60000};
    // Sends SIGINT once stderr holds this text.
    std::optional<std::string> InterruptWhen;
};

// Runs the real binary in a session of its own, so it has no controlling
// terminal: a question it cannot answer must never wait for a person.
CliResult RunCli(const CliRun& run);

} // namespace lodestrum::clitest
