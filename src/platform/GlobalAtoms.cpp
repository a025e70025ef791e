#include "platform/GlobalAtoms.h"

#include <map>
#include <mutex>

namespace lodestrum::platform {

namespace {

struct Entry {
    std::string Name;
    int References = 0;
};

// String atoms live in 0xC000..0xFFFF, as on the system the design comes from.
constexpr uint32_t FirstAtom = 0xC000, LastAtom = 0xFFFF;

std::mutex TableMutex;
std::map<uint16_t, Entry>& Table() {
    static std::map<uint16_t, Entry> table;
    return table;
}

} // namespace

uint16_t GlobalAddAtom(const std::string& name) {
    if (name.empty() || name.size() > 255) return 0;
    std::lock_guard lock(TableMutex);
    auto& table = Table();
    for (auto& [id, entry] : table)
        if (entry.Name == name) {
            ++entry.References;
            return id;
        }
    for (uint32_t id = FirstAtom; id <= LastAtom; ++id)
        if (!table.count(static_cast<uint16_t>(id))) {
            table[static_cast<uint16_t>(id)] = {name, 1};
            return static_cast<uint16_t>(id);
        }
    return 0;
}

void GlobalDeleteAtom(uint16_t atom) {
    std::lock_guard lock(TableMutex);
    auto& table = Table();
    auto it = table.find(atom);
    if (it != table.end() && --it->second.References <= 0) table.erase(it);
}

std::optional<std::string> GlobalGetAtomName(uint16_t atom, std::size_t maxLength) {
    std::lock_guard lock(TableMutex);
    auto& table = Table();
    auto it = table.find(atom);
    if (it == table.end()) return std::nullopt;
    return it->second.Name.substr(0, maxLength);
}

uint16_t GlobalFindAtom(const std::string& name) {
    std::lock_guard lock(TableMutex);
    for (const auto& [id, entry] : Table())
        if (entry.Name == name) return id;
    return 0;
}

} // namespace lodestrum::platform
