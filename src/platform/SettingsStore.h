#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lodestrum::platform {

// The registry key the program's values live under.
inline constexpr std::string_view SettingsKeyPath =
    "HKEY_CURRENT_USER\\Software\\Quarrendale\\Lodestrum 3.0";

// The file calls a save makes, so that tests can fill the disk or fail a
// rename. Each returns what the system call returns, failures as -errno.
class SettingsFileOps {
  public:
    virtual ~SettingsFileOps() = default;
    virtual long Write(int fd, const void* data, size_t size);
    virtual int Fsync(int fd);
    virtual int Rename(const std::string& from, const std::string& to);
};

enum class SettingsType { String, Integer, Other };

// The per-user store that stands in for the registry: one REGEDIT4 text file
// holding the program's key. Value names are compared without regard to
// (ASCII) case, strings stay strings and 32-bit integers stay integers.
// Other keys, comments and values of other types found in the file are kept
// as they are. Used from one thread.
class SettingsStore {
  public:
    explicit SettingsStore(std::string path, std::shared_ptr<SettingsFileOps> fileOps = nullptr);

    // ${XDG_CONFIG_HOME:-$HOME/.config}/Quarrendale/Lodestrum 3.0.reg
    static std::string DefaultPath();
    const std::string& Path() const { return FilePath; }

    // Reads the file. A missing file is an empty key. A file that cannot be
    // read or does not parse is an error (naming the file and the line); the
    // store is then empty and Save refuses, so the file is never replaced.
    bool Open(std::string& error);
    bool IsOpen() const { return Loaded; }

    bool HasValue(std::string_view name) const;
    std::optional<SettingsType> TypeOf(std::string_view name) const;
    // nullopt with a text for the user when the value is absent or of
    // another type.
    std::optional<std::string> ReadString(std::string_view name, std::string& error) const;
    std::optional<int32_t> ReadInteger(std::string_view name, std::string& error) const;
    // A value that exists keeps the case of its name and its place; its type
    // becomes the written one, as in the registry.
    void WriteString(std::string_view name, std::string_view value);
    void WriteInteger(std::string_view name, int32_t value);

    // Writes the whole file atomically (temporary file in the same folder,
    // fsync, rename), creating the folder. On failure the previous file is
    // left byte for byte and the temporary file is removed.
    bool Save(std::string& error);

    // The file's text as Save would write it.
    std::string Serialize() const;

  private:
    // A value of our key, or a comment line among them.
    struct Entry {
        bool IsComment = false;
        std::string Name;
        SettingsType Type = SettingsType::Other;
        std::string Text;             // String
        uint32_t Number = 0;          // Integer
        std::vector<std::string> Raw; // Other, or the comment: the lines as found
    };

    bool Parse(std::string_view text, std::string& error);
    void Clear();
    const Entry* Find(std::string_view name) const;
    Entry& FindOrAdd(std::string_view name);

    std::string FilePath;
    std::shared_ptr<SettingsFileOps> FileOps;
    bool Loaded = false;
    std::vector<std::string> Preamble; // comments before the first key
    // Keys other than ours, each its header and lines verbatim; ours is
    // written before Foreign[OwnPosition].
    std::vector<std::vector<std::string>> Foreign;
    size_t OwnPosition = 0;
    std::string OwnHeader;
    std::vector<Entry> Entries;
};

} // namespace lodestrum::platform
