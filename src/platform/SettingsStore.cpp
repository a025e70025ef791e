#include "platform/SettingsStore.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lodestrum::platform {

namespace {

// Settings files are a few hundred bytes; anything this large is not one.
constexpr off_t MaxFileSize = 4 * 1024 * 1024;

std::string ErrorText(int err) {
    return std::error_code(err, std::generic_category()).message();
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The file's escapes: \\ and \" as regedit writes them, and \n, \r, \0 so
// that no string can break the line structure.
std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            out += c;
        }
    }
    return out + '"';
}

// `pos` is at the opening quote; on success it is past the closing one.
bool Unquote(std::string_view line, size_t& pos, std::string& out, std::string& why) {
    out.clear();
    for (size_t i = pos + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == line.size()) break;
        switch (line[i]) {
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case '0':
            out += '\0';
            break;
        default:
            why = std::string("unknown escape \\") + line[i];
            return false;
        }
    }
    why = "a quoted text has no closing quote";
    return false;
}

std::string DwordText(uint32_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "dword:%08x", value);
    return text;
}

class SystemFileOps : public SettingsFileOps {};

int MakeFolders(const std::string& folder) {
    for (size_t end = 1; end <= folder.size(); ++end) {
        if (end != folder.size() && folder[end] != '/') continue;
        const std::string prefix = folder.substr(0, end);
        if (::mkdir(prefix.c_str(), 0700) < 0 && errno != EEXIST) return errno;
    }
    return 0;
}

} // namespace

long SettingsFileOps::Write(int fd, const void* data, size_t size) {
    const ssize_t written = ::write(fd, data, size);
    return written < 0 ? -errno : written;
}

int SettingsFileOps::Fsync(int fd) {
    return ::fsync(fd) < 0 ? -errno : 0;
}

int SettingsFileOps::Rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) < 0 ? -errno : 0;
}

SettingsStore::SettingsStore(std::string path, std::shared_ptr<SettingsFileOps> fileOps)
    : FilePath(std::move(path)),
      FileOps(fileOps ? std::move(fileOps) : std::make_shared<SystemFileOps>()) {}

std::string SettingsStore::DefaultPath() {
    std::string base;
    // Relative values are to be ignored, as the base-directory rules say.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
        base = config;
    } else {
        std::string home;
        if (const char* env = std::getenv("HOME"); env && *env) {
            home = env;
        } else {
            std::vector<char> buffer(16384);
            passwd entry{};
            passwd* found = nullptr;
            if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
                found && found->pw_dir)
                home = found->pw_dir;
        }
        base = home.empty() ? ".config" : home + "/.config";
    }
    return base + "/Quarrendale/Lodestrum 3.0.reg";
}

void SettingsStore::Clear() {
    Loaded = false;
    Preamble.clear();
    Foreign.clear();
    OwnPosition = 0;
    OwnHeader.clear();
    Entries.clear();
}

bool SettingsStore::Open(std::string& error) {
    Clear();
    // O_NONBLOCK: a FIFO in the file's place must not hang the start.
    const int fd = ::open(FilePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            Loaded = true;
            return true;
        }
        error = "Cannot read the settings file " + FilePath + ": " + ErrorText(errno) + ".";
        return false;
    }
    struct stat info {};
    std::string text;
    int err = 0;
    if (::fstat(fd, &info) < 0) {
        err = errno;
    } else if (S_ISDIR(info.st_mode)) {
        err = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        error = "Cannot read the settings file " + FilePath + ": it is not a regular file.";
    } else if (info.st_size > MaxFileSize) {
        error = "Cannot read the settings file " + FilePath + ": it is too large to be one.";
    } else {
        char buffer[8192];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                err = errno;
                break;
            }
            if (got == 0) break;
            text.append(buffer, static_cast<size_t>(got));
            if (text.size() > static_cast<size_t>(MaxFileSize)) {
                error =
                    "Cannot read the settings file " + FilePath + ": it is too large to be one.";
                break;
            }
        }
    }
    ::close(fd);
    if (err) error = "Cannot read the settings file " + FilePath + ": " + ErrorText(err) + ".";
    if (!error.empty()) return false;

    std::string why;
    if (!Parse(text, why)) {
        Clear();
        error = "The settings file " + FilePath + " is damaged, " + why +
                ". It was left as it is; no settings were read from it.";
        return false;
    }
    Loaded = true;
    return true;
}

bool SettingsStore::Parse(std::string_view text, std::string& error) {
    enum class State { Start, Preamble, Own, Foreign } state = State::Start;
    bool sawOwn = false;
    bool continuing = false; // the previous value line ended with a backslash
    size_t continued = 0;    // the entry that such lines belong to
    size_t lineNumber = 0;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    const auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };

    while (!text.empty()) {
        const size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
        ++lineNumber;
        // Every CR before the LF: a saved line then reads back as it was saved.
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view trimmed = Trim(line);

        // A blank line ends a value's continuation, as it ends one for regedit:
        // else the blank line after the key would join a last value that ends
        // with a backslash, and the file would grow a line at every save.
        if (continuing && trimmed.empty()) continuing = false;
        if (continuing) {
            Entries[continued].Raw.emplace_back(line);
            continuing = !trimmed.empty() && trimmed.back() == '\\';
            continue;
        }
        if (trimmed.empty()) continue;
        if (state == State::Start) {
            if (trimmed != "REGEDIT4") return fail("the file does not begin with REGEDIT4");
            state = State::Preamble;
            continue;
        }
        if (trimmed.front() == ';') {
            if (state == State::Preamble) Preamble.emplace_back(line);
            if (state == State::Foreign) Foreign.back().emplace_back(line);
            if (state == State::Own) {
                Entry comment;
                comment.IsComment = true;
                comment.Raw.emplace_back(line);
                Entries.push_back(std::move(comment));
            }
            continue;
        }
        if (trimmed.front() == '[') {
            if (trimmed.back() != ']') return fail("a key line does not end with ]");
            if (EqualNoCase(trimmed.substr(1, trimmed.size() - 2), SettingsKeyPath)) {
                if (!sawOwn) {
                    sawOwn = true;
                    OwnPosition = Foreign.size();
                    OwnHeader = std::string(trimmed);
                }
                state = State::Own;
            } else {
                Foreign.push_back({std::string(line)});
                state = State::Foreign;
            }
            continue;
        }
        if (state == State::Preamble) return fail("a value comes before any [key] line");
        if (state == State::Foreign) {
            Foreign.back().emplace_back(line);
            continue;
        }

        Entry value;
        size_t pos = 0;
        std::string why;
        if (trimmed.front() == '@') {
            pos = 1;
        } else if (trimmed.front() == '"') {
            if (!Unquote(trimmed, pos, value.Name, why)) return fail(why);
        } else {
            return fail("expected \"name\"=value");
        }
        if (pos >= trimmed.size() || trimmed[pos] != '=')
            return fail("expected = after the value's name");
        const std::string_view data = trimmed.substr(pos + 1);
        if (!data.empty() && data.front() == '"') {
            size_t end = 0;
            if (!Unquote(data, end, value.Text, why)) return fail(why);
            if (!Trim(data.substr(end)).empty()) return fail("unexpected text after a quoted text");
            value.Type = SettingsType::String;
        } else if (StartsWithNoCase(data, "dword:")) {
            const std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8 ||
                !std::all_of(digits.begin(), digits.end(),
                             [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
                return fail("a dword needs 1 to 8 hex digits");
            value.Number =
                static_cast<uint32_t>(std::strtoul(std::string(digits).c_str(), nullptr, 16));
            value.Type = SettingsType::Integer;
        } else if (StartsWithNoCase(data, "hex:") || StartsWithNoCase(data, "hex(") ||
                   data == "-") {
            value.Type = SettingsType::Other;
            value.Raw.emplace_back(line);
            continuing = data.back() == '\\';
        } else {
            return fail("unknown kind of value");
        }

        // A name given twice: the later one wins, as when regedit imports it.
        auto same = std::find_if(Entries.begin(), Entries.end(), [&](const Entry& e) {
            return !e.IsComment && EqualNoCase(e.Name, value.Name);
        });
        if (same == Entries.end()) {
            continued = Entries.size();
            Entries.push_back(std::move(value));
        } else {
            continued = static_cast<size_t>(same - Entries.begin());
            value.Name = same->Name;
            *same = std::move(value);
        }
    }
    return true;
}

const SettingsStore::Entry* SettingsStore::Find(std::string_view name) const {
    for (const Entry& entry : Entries)
        if (!entry.IsComment && EqualNoCase(entry.Name, name)) return &entry;
    return nullptr;
}

SettingsStore::Entry& SettingsStore::FindOrAdd(std::string_view name) {
    for (Entry& entry : Entries)
        if (!entry.IsComment && EqualNoCase(entry.Name, name)) return entry;
    Entry& added = Entries.emplace_back();
    added.Name = std::string(name);
    return added;
}

bool SettingsStore::HasValue(std::string_view name) const {
    return Find(name) != nullptr;
}

std::optional<SettingsType> SettingsStore::TypeOf(std::string_view name) const {
    const Entry* entry = Find(name);
    if (!entry) return std::nullopt;
    return entry->Type;
}

namespace {

const char* TypeName(SettingsType type) {
    switch (type) {
    case SettingsType::String:
        return "a string";
    case SettingsType::Integer:
        return "a 32-bit integer";
    case SettingsType::Other:
        return "a value of another type";
    }
    return "";
}

std::string WrongType(std::string_view name, SettingsType stored, SettingsType wanted) {
    return "The setting \"" + std::string(name) + "\" is stored as " + TypeName(stored) +
           ", not as " + TypeName(wanted) + ".";
}

} // namespace

std::optional<std::string> SettingsStore::ReadString(std::string_view name,
                                                     std::string& error) const {
    const Entry* entry = Find(name);
    if (!entry) {
        error = "There is no setting \"" + std::string(name) + "\".";
        return std::nullopt;
    }
    if (entry->Type != SettingsType::String) {
        error = WrongType(name, entry->Type, SettingsType::String);
        return std::nullopt;
    }
    return entry->Text;
}

std::optional<int32_t> SettingsStore::ReadInteger(std::string_view name, std::string& error) const {
    const Entry* entry = Find(name);
    if (!entry) {
        error = "There is no setting \"" + std::string(name) + "\".";
        return std::nullopt;
    }
    if (entry->Type != SettingsType::Integer) {
        error = WrongType(name, entry->Type, SettingsType::Integer);
        return std::nullopt;
    }
    return static_cast<int32_t>(entry->Number);
}

void SettingsStore::WriteString(std::string_view name, std::string_view value) {
    Entry& entry = FindOrAdd(name);
    entry.Type = SettingsType::String;
    entry.Text = std::string(value);
    entry.Raw.clear();
}

void SettingsStore::WriteInteger(std::string_view name, int32_t value) {
    Entry& entry = FindOrAdd(name);
    entry.Type = SettingsType::Integer;
    entry.Number = static_cast<uint32_t>(value);
    entry.Text.clear();
    entry.Raw.clear();
}

std::string SettingsStore::Serialize() const {
    std::string out = "REGEDIT4\n\n";
    for (const std::string& line : Preamble)
        out += line + '\n';
    if (!Preamble.empty()) out += '\n';
    const auto writeOwn = [&] {
        out += OwnHeader.empty() ? "[" + std::string(SettingsKeyPath) + "]" : OwnHeader;
        out += '\n';
        for (const Entry& entry : Entries) {
            if (entry.IsComment || entry.Type == SettingsType::Other) {
                for (const std::string& line : entry.Raw)
                    out += line + '\n';
                continue;
            }
            out += entry.Name.empty() ? std::string("@") : Quote(entry.Name);
            out += '=';
            out += entry.Type == SettingsType::String ? Quote(entry.Text) : DwordText(entry.Number);
            out += '\n';
        }
        out += '\n';
    };
    for (size_t i = 0; i <= Foreign.size(); ++i) {
        if (i == OwnPosition) writeOwn();
        if (i == Foreign.size()) break;
        for (const std::string& line : Foreign[i])
            out += line + '\n';
        out += '\n';
    }
    return out;
}

bool SettingsStore::Save(std::string& error) {
    if (!Loaded) {
        error = "The settings were not read from " + FilePath + ", so they are not saved over it.";
        return false;
    }
    const size_t slash = FilePath.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : FilePath.substr(0, slash);
    const std::string name = slash == std::string::npos ? FilePath : FilePath.substr(slash + 1);
    const auto fail = [&](const std::string& step, int err) {
        error = "Cannot save the settings to " + FilePath + ": " + step + ": " + ErrorText(err) +
                ". The settings file was not changed.";
        return false;
    };
    if (name.empty()) return fail("no file name", EISDIR);
    if (const int err = MakeFolders(folder)) return fail("cannot create " + folder, err);

    std::string temp = folder + "/." + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        return fail("cannot create a file in " + folder, err);
    }
    const auto abandon = [&](const std::string& step, int err, bool open) {
        if (open) ::close(fd);
        ::unlink(temp.c_str());
        return fail(step, err);
    };

    struct stat old {};
    if (::stat(FilePath.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);

    const std::string content = Serialize();
    size_t done = 0;
    while (done < content.size()) {
        const long written = FileOps->Write(fd, content.data() + done, content.size() - done);
        if (written == -EINTR) continue;
        if (written < 0) return abandon("writing failed", static_cast<int>(-written), true);
        if (written == 0) return abandon("writing failed", EIO, true);
        done += static_cast<size_t>(written);
    }
    if (const int result = FileOps->Fsync(fd); result < 0)
        return abandon("flushing to disk failed", -result, true);
    if (::close(fd) < 0) {
        const int err = errno;
        return abandon("closing failed", err, false);
    }
    if (const int result = FileOps->Rename(temp, FilePath); result < 0)
        return abandon("replacing the old file failed", -result, false);

    // Makes the rename itself durable; the new file is in place either way.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    error.clear();
    return true;
}

} // namespace lodestrum::platform
