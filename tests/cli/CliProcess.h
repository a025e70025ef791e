#pragma once

#include <chrono>
#include <filesystem>
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

// lodestrum-vcalc in the background, with the test's environment changed as
// env says; ready once its endpoint is in runtimeDir. Ended when destroyed.
class Emulator {
  public:
    Emulator(std::vector<std::string> args, const std::map<std::string, std::string>& env,
             const std::filesystem::path& runtimeDir);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;
    bool Ready = false;

  private:
    int Child = -1;
    int Input = -1;
};

} // namespace lodestrum::clitest
