#include "cli/Options.h"

#include "cli/Messages.h"
#include "cli/ImageFiles.h"
#include "platform/LinkPorts.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace lodestrum::cli {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

const std::map<std::string, Command, std::less<>>& Commands() {
    static const std::map<std::string, Command, std::less<>> commands = {
        {"send", Command::Send},
        {"receive", Command::Receive},
        {"receive-group", Command::ReceiveGroup},
        {"capture", Command::Capture},
        {"detect", Command::Detect},
    };
    return commands;
}

// Applies one option; the value is present exactly when the option takes one.
std::string ApplyValueOption(CliOptions& o, const std::string& name, const std::string& value) {
    if (name == "--driver") {
        if (value != "dev" && value != "raw" && value != "sim") return text::BadDriver(value);
        o.Driver = value;
    } else if (name == "--port") {
        o.Port = ParsePort(value);
        if (!o.Port) return text::BadPort(value);
    } else if (name == "--calc") {
        o.CalcType = ParseCalc(value);
        if (!o.CalcType) return text::BadCalc(value);
    } else if (name == "--delay") {
        if (!AllDigits(value) || value.size() > 5 || std::stoi(value) > 32600)
            return text::BadDelay(value);
        o.Delay = std::stoi(value);
    } else if (name == "--to-folder") {
        if (value.empty() || value.size() > 8 || value.find('\\') != std::string::npos)
            return text::BadFolder(value);
        o.ToFolder = value;
    } else if (name == "--dir") {
        o.Directory = value;
    }
    return {};
}

bool TakesValue(const std::string& name) {
    return name == "--driver" || name == "--port" || name == "--calc" || name == "--delay" ||
           name == "--to-folder" || name == "--dir";
}

// Sets a flag option; false when the name is no flag.
bool ApplyFlag(CliOptions& o, const std::string& name) {
    const std::map<std::string, bool CliOptions::*> flags = {
        {"--virtual", &CliOptions::Virtual},
        {"--no-virtual", &CliOptions::NoVirtual},
        {"--invert", &CliOptions::Invert},
        {"--ti86-four-parts", &CliOptions::TI86FourParts},
        {"--ti89-clip", &CliOptions::TI89Clip},
        {"--no-folder", &CliOptions::NoFolder},
        {"--varlink-only", &CliOptions::VarLinkOnly},
        {"--save-as-92plus", &CliOptions::SaveAs92Plus},
        {"--quiet", &CliOptions::Quiet},
        {"--help", &CliOptions::Help},
        {"--version", &CliOptions::Version},
    };
    if (const auto it = flags.find(name); it != flags.end()) {
        o.*(it->second) = true;
        return true;
    }
    return false;
}

struct Exclusive {
    std::optional<std::string> Answer;
    std::optional<std::string> Existing;
};

std::string ApplyChoice(CliOptions& o, Exclusive& seen, const std::string& name) {
    if (name == "--yes" || name == "--no") {
        if (seen.Answer && *seen.Answer != name) return text::Conflicting(*seen.Answer, name);
        seen.Answer = name;
        o.Answers = name == "--yes" ? AnswerMode::Yes : AnswerMode::No;
    } else {
        if (seen.Existing && *seen.Existing != name) return text::Conflicting(*seen.Existing, name);
        seen.Existing = name;
        o.Existing = name == "--replace" ? ExistingMode::Replace : ExistingMode::Keep;
    }
    return {};
}

std::string CheckArguments(CliOptions& o, const std::string& commandName) {
    switch (o.Cmd) {
    case Command::None:
        return text::NoCommand();
    case Command::Send:
        if (o.Files.empty()) return text::NeedFiles();
        break;
    case Command::Receive:
    case Command::Detect:
        if (!o.Files.empty()) return text::NoArguments(commandName);
        break;
    case Command::ReceiveGroup:
        if (o.Files.size() != 1) return text::OneFile(commandName);
        break;
    case Command::Capture:
        if (o.Files.size() != 1) return text::OneFile(commandName);
        if (!ImageFormatForPath(o.Files[0])) return text::BadImageName(o.Files[0]);
        break;
    }
    if (o.Directory && o.Cmd != Command::Receive) return text::DirOnlyForReceive();
    if (o.Virtual && o.NoVirtual) return text::Conflicting("--virtual", "--no-virtual");
    return {};
}

} // namespace

std::optional<int> ParsePort(std::string_view text) {
    if (AllDigits(text) && text.size() == 1) {
        const int index = text[0] - '0';
        if (platform::IsValidLinkPortIndex(index)) return index;
        return std::nullopt;
    }
    const std::string wanted = Lower(text);
    for (int i = 0; i < platform::LinkPortCount; ++i) {
        const std::string item = Lower(platform::LinkPort[i].Text);
        if (wanted == item) return i;
        // Two entries never share a base, so the address alone names one.
        if (wanted == item.substr(0, item.find('-'))) return i;
    }
    return std::nullopt;
}

std::optional<uint8_t> ParseCalc(std::string_view text) {
    const std::string t = Lower(text);
    if (t == "82") return 2;
    if (t == "83") return 3;
    if (t == "85") return 5;
    if (t == "86") return 6;
    if (t == "89" || t == "92p") return 8;
    if (t == "92") return 9;
    return std::nullopt;
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    ParsedCommandLine result;
    CliOptions& o = result.Options;
    Exclusive seen;
    std::string commandName;
    bool optionsEnded = false;
    std::string error;

    for (std::size_t i = 0; i < args.size() && error.empty(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            std::string name = arg == "-h" ? "--help" : arg;
            std::optional<std::string> inlineValue;
            if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.resize(eq);
            }
            if (TakesValue(name)) {
                if (inlineValue) {
                    error = ApplyValueOption(o, name, *inlineValue);
                } else if (i + 1 < args.size()) {
                    error = ApplyValueOption(o, name, args[++i]);
                } else {
                    error = text::MissingValue(name);
                }
            } else if (inlineValue && (ApplyFlag(o, name) || name == "--yes" || name == "--no" ||
                                       name == "--replace" || name == "--keep")) {
                error = text::NoValueAllowed(name);
            } else if (name == "--yes" || name == "--no" || name == "--replace" || name == "--keep") {
                error = ApplyChoice(o, seen, name);
            } else if (!ApplyFlag(o, name)) {
                error = text::UnknownOption(arg);
            }
            continue;
        }
        if (o.Cmd == Command::None) {
            const auto it = Commands().find(arg);
            if (it == Commands().end()) {
                error = text::UnknownCommand(arg);
                continue;
            }
            o.Cmd = it->second;
            commandName = arg;
            continue;
        }
        o.Files.push_back(arg);
    }
    if (error.empty() && !o.Help && !o.Version) error = CheckArguments(o, commandName);
    // Help and version answer even a command line that is otherwise wrong.
    if (o.Help || o.Version) error.clear();
    result.Error = error;
    return result;
}

} // namespace lodestrum::cli
