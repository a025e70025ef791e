#pragma once

#include "engine/TTransT.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace lodestrum::transfers {

// What a receive job holds of one transmission at most; beyond it the
// calculator is sending more than any of them has memory for.
inline constexpr std::size_t MaxReceivedBytes = std::size_t{256} << 20;
// Items of one group: the group file's table has room for this many.
inline constexpr std::size_t MaxGroupItems = 32000;

// The name after the last '/'.
std::string FileNamePart(std::string_view path);

// True when path names a regular file this process may replace: the probe
// that decides whether the user is asked before replacing. A read-only
// file is not one, for root too.
bool ExistsForWriting(const std::string& path);

enum class WriteResult {
    Written,
    CannotCreate, // the folder refuses a new file, or the target must not be replaced
    ShortWrite,   // the data did not all reach the disk
};

// Writes bytes to a temporary file beside path and renames it over path, so
// a failed write leaves whatever path held untouched. An existing target
// keeps its permission bits.
WriteResult WriteReceivedFile(const std::string& path, std::span<const uint8_t> bytes);

// Two bytes, low first, as a packet's length field: read with ReceiveBlock
// into PacketBuffer at offset at.
uint16_t ReceiveLength(engine::TTransThread& job, std::size_t at = 2);

} // namespace lodestrum::transfers
