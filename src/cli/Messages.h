#pragma once

#include <string>

// The texts the command-line tool itself shows, in one place. The transfers'
// own texts are shown as they come and are not repeated here.
namespace lodestrum::cli::text {

inline constexpr const char* ProgramName = "lodestrum-cli";

inline std::string Usage() {
    return "Usage: lodestrum-cli [OPTIONS] COMMAND [ARGS]\n"
           "\n"
           "Commands:\n"
           "  send FILE...           send one file, or several as one series\n"
           "  receive [--dir DIR]    store each variable or backup in a file of its own,\n"
           "                         until the calculator ends the transmission or Ctrl-C\n"
           "  receive-group FILE     store everything up to the end of the transmission\n"
           "                         in one group file\n"
           "  capture OUT.bmp|OUT.png\n"
           "                         capture the calculator's screen\n"
           "  detect                 find the port the cable is plugged into\n"
           "\n"
           "Options (they override the saved settings for this run only):\n"
           "  --driver dev|raw|sim   port driver (default: $LODESTRUM_PORT_DRIVER, else dev)\n"
           "  --port P               port: 0-7, 0x378, 0x378-LPT, 0x3F8-COM, ...\n"
           "  --virtual              use the virtual cable to the emulator\n"
           "  --no-virtual           use the cable even if the virtual cable is saved\n"
           "  --calc MODEL           82, 83, 85, 86, 89, 92P or 92\n"
           "  --invert               the cable's lines are inverted\n"
           "  --delay N              cable pacing, 0 to 32600\n"
           "  --ti86-four-parts      TI-86 backups in four parts\n"
           "  --ti89-clip            capture only the visible TI-89 screen\n"
           "  --no-folder            do not send folder names\n"
           "  --to-folder NAME       send every variable into folder NAME (1-8 characters)\n"
           "  --varlink-only         several TI-89/92 variables in one transmission (Var-Link)\n"
           "  --save-as-92plus       store received TI-89 files as TI-92 Plus files\n"
           "  --yes, --no            answer every question yes, or no\n"
           "  --replace, --keep      replace existing files, or keep them (the new file gets\n"
           "                         a free name)\n"
           "  --quiet                no status lines and no progress\n"
           "  --help                 show this text\n"
           "  --version              show the version\n"
           "\n"
           "Without --yes or --no, questions are asked on the terminal.\n"
           "Exit codes: 0 done, 1 refused by the calculator or an error was reported,\n"
           "2 usage error, 130 stopped.\n";
}

inline std::string UsageHint() { return "Try 'lodestrum-cli --help'."; }

inline std::string UnknownOption(const std::string& option) {
    return "unknown option '" + option + "'";
}
inline std::string MissingValue(const std::string& option) {
    return "option '" + option + "' needs a value";
}
inline std::string NoValueAllowed(const std::string& option) {
    return "option '" + option + "' takes no value";
}
inline std::string UnknownCommand(const std::string& command) {
    return "unknown command '" + command + "'";
}
inline std::string NoCommand() { return "no command given"; }
inline std::string BadDriver(const std::string& value) {
    return "--driver: '" + value + "' is not dev, raw or sim";
}
inline std::string BadPort(const std::string& value) {
    return "--port: '" + value + "' is not a port (0-7, 0x378, 0x378-LPT, ...)";
}
inline std::string BadCalc(const std::string& value) {
    return "--calc: '" + value + "' is not 82, 83, 85, 86, 89, 92P or 92";
}
inline std::string BadDelay(const std::string& value) {
    return "--delay: '" + value + "' is not a number from 0 to 32600";
}
inline std::string BadFolder(const std::string& value) {
    return "--to-folder: '" + value + "' is not a folder name of 1 to 8 characters";
}
inline std::string Conflicting(const std::string& a, const std::string& b) {
    return "options '" + a + "' and '" + b + "' exclude each other";
}
inline std::string DirOnlyForReceive() { return "--dir goes only with 'receive'"; }
inline std::string NeedFiles() { return "'send' needs at least one file"; }
inline std::string NoArguments(const std::string& command) {
    return "'" + command + "' takes no file";
}
inline std::string OneFile(const std::string& command) {
    return "'" + command + "' needs exactly one file";
}
inline std::string BadImageName(const std::string& path) {
    return "capture: '" + path + "' must end in .bmp or .png";
}

inline std::string SettingsWarning(const std::string& why) {
    return "warning: saved settings not used: " + why;
}
inline std::string SettingWarning(const std::string& why) {
    return "warning: saved setting not used: " + why;
}
inline std::string StoredPortInvalid(int value) {
    return "warning: the saved port " + std::to_string(value) +
           " is not 0 to 7; no port is chosen (use --port)";
}
inline std::string CannotChangeDir(const std::string& dir, const std::string& why) {
    return "cannot change to folder '" + dir + "': " + why;
}
inline std::string DriverNotLoaded(const std::string& name, const std::string& why) {
    return "port driver \"" + name + "\" not loaded: " + (why.empty() ? "unknown driver" : why);
}
inline std::string NoVirtualCable() {
    return "the virtual cable to the emulator is not available (use --no-virtual to use the cable)";
}
inline std::string VirtualLinkNotStarted(const std::string& why) {
    return "the virtual cable could not be set up: " + why;
}
inline std::string NoEmulator() {
    return "no emulator answered on the virtual cable (start it first, or use --no-virtual)";
}
inline std::string NotAvailable(const std::string& what) {
    return what + " is not available in this build yet";
}
inline std::string NoTerminal(const std::string& title) {
    return "cannot ask \"" + title + "\": there is no terminal (answer with --yes or --no)";
}
inline std::string NoTerminalForFile(const std::string& path) {
    return "'" + path + "' exists and there is no terminal to ask (use --replace or --keep)";
}
inline std::string ExistsKept(const std::string& path) {
    return "'" + path + "' exists; it was kept (use --replace to overwrite it)";
}
inline std::string NotSavedExists(const std::string& path) {
    return "not saved: '" + path + "' exists (use --replace or --keep)";
}
inline std::string SavedUnder(const std::string& path) {
    return "an existing file was kept; saving as '" + path + "'";
}
inline std::string NoFreeName(const std::string& path) {
    return "no free name next to '" + path + "'";
}
inline std::string ReplaceQuestion(const std::string& path) {
    return "'" + path + "' exists. Replace it?";
}
inline std::string Refused(int code) {
    if (code < 0) return "The calculator did not accept the data.";
    return "The calculator refused the variable (SKIP code " + std::to_string(code) + ").";
}
inline std::string NoCableFound() { return "no cable was found"; }
inline std::string NoImage() { return "no screen image was received"; }
inline std::string CannotWriteImage(const std::string& path, const std::string& why) {
    return "cannot write '" + path + "': " + why;
}
inline std::string ImageSaved(const std::string& path, int width, int height) {
    return "Screen saved to " + path + " (" + std::to_string(width) + "x" +
           std::to_string(height) + ")";
}
inline std::string Stopping() { return "Stopping..."; }
inline std::string Answered(const std::string& question, bool yes) {
    return question + " " + (yes ? "yes" : "no");
}
inline constexpr const char* YesNoSuffix = " [y/N] ";

} // namespace lodestrum::cli::text
