#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lodestrum::platform {

// Atoms: small numbers standing for names, counted by reference. Between
// processes an atom travels as its name; each process keeps its own table.
uint16_t GlobalAddAtom(const std::string& name); // 0 when the table is full
void GlobalDeleteAtom(uint16_t atom);
// The name, cut to at most maxLength characters; nullopt for an unknown atom.
std::optional<std::string> GlobalGetAtomName(uint16_t atom, std::size_t maxLength = 255);
uint16_t GlobalFindAtom(const std::string& name); // 0 when there is none

// Holds an atom for a scope.
class ScopedAtom {
public:
    explicit ScopedAtom(const std::string& name) : Id(GlobalAddAtom(name)) {}
    ~ScopedAtom() {
        if (Id) GlobalDeleteAtom(Id);
    }
    ScopedAtom(const ScopedAtom&) = delete;
    ScopedAtom& operator=(const ScopedAtom&) = delete;
    uint16_t Atom() const { return Id; }

private:
    uint16_t Id;
};

} // namespace lodestrum::platform
