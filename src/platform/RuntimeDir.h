#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace lodestrum::platform {

// The per-user runtime folder: $XDG_RUNTIME_DIR, else /tmp/lodestrum-UID
// (created 0700). nullopt, with a reason, when it is missing or belongs to
// another user, so nothing is ever placed where someone else could read it.
std::optional<std::filesystem::path> RuntimeDirectory(std::string& error);

// <runtime>/lodestrum, where the message endpoints listen (created 0700).
std::optional<std::filesystem::path> EndpointDirectory(std::string& error);

// Makes a private folder or checks that an existing one is ours, a real
// folder and closed to others.
bool EnsurePrivateDirectory(const std::filesystem::path& path, std::string& error);

} // namespace lodestrum::platform
