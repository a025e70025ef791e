#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lodestrum::cli {

enum class Command { None, Send, Receive, ReceiveGroup, Capture, Detect };
enum class AnswerMode { Ask, Yes, No };
enum class ExistingMode { Ask, Replace, Keep };

// What the command line asks for. Unset optionals leave the saved setting.
struct CliOptions {
    Command Cmd = Command::None;
    std::vector<std::string> Files;
    std::optional<std::string> Directory;
    std::optional<std::string> Driver;
    std::optional<int> Port;
    bool Virtual = false;
    bool NoVirtual = false;
    std::optional<uint8_t> CalcType;
    bool Invert = false;
    std::optional<int32_t> Delay;
    bool TI86FourParts = false;
    bool TI89Clip = false;
    bool NoFolder = false;
    std::optional<std::string> ToFolder;
    bool VarLinkOnly = false;
    bool SaveAs92Plus = false;
    AnswerMode Answers = AnswerMode::Ask;
    ExistingMode Existing = ExistingMode::Ask;
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
};

struct ParsedCommandLine {
    CliOptions Options;
    std::string Error; // empty when the command line is usable
    bool Ok() const { return Error.empty(); }
};

// Parses the arguments after the program's name. Options may stand before
// or after the command; "--" ends them.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// A port entry from "3", "0x378" or "0x378-LPT" (case does not matter).
std::optional<int> ParsePort(std::string_view text);
// The CalcType of "82", "83", "85", "86", "89", "92P" (case does not matter) or "92".
std::optional<uint8_t> ParseCalc(std::string_view text);

} // namespace lodestrum::cli
