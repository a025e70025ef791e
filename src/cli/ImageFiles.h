#pragma once

#include "engine/JobHost.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lodestrum::cli {

enum class ImageFormat { Bmp, Png };

// By the extension, without regard to case; nullopt for any other.
std::optional<ImageFormat> ImageFormatForPath(std::string_view path);

// The picture as a file of that format, one bit per pixel kept. Empty when
// the picture holds fewer bytes than its size says.
std::vector<uint8_t> EncodeImage(const engine::MonoImage& image, ImageFormat format);

// Writes a temporary file in the same folder and renames it over path, so
// a failed write never destroys a file that was there. False with a reason.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string& error);

} // namespace lodestrum::cli
