#pragma once

#include <cstdint>
#include <optional>
#include <span>

// What the first bytes of a file say about it, by the rules the sender applies to every file.
namespace lodestrum::files {

struct SignatureInfo {
    bool StartsWithTi = false;       // bytes 0 to 3 are "**TI"
    bool IsFlash = false;            // bytes 4 and 5 are "FL"
    std::optional<uint8_t> CalcType; // empty: the signature leaves the model as it was
};

// Only bytes 4 to 6 decide, first matching row: byte 6 'P' gives 8; byte 4 '9' gives 9; byte 4
// '8' gives byte 5 minus '0' (9 becomes 8), taken as it stands even for a byte that is no digit;
// bytes 4 and 5 "FL" mark a FLASH file. A byte past the end of the image matches no row.
SignatureInfo ReadSignature(std::span<const uint8_t> image);

} // namespace lodestrum::files
