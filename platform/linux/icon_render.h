#pragma once
// Renders an icon file (PNG, SVG, XPM, anything gdk-pixbuf reads) into a square PNG without a
// display: scaled to fit `side` × `side` with its aspect ratio kept, centred on transparency.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace velopad {

inline constexpr int kIconSide = 128;

[[nodiscard]] std::optional<std::vector<std::uint8_t>> renderIconPng(
    const std::filesystem::path& file, int side = kIconSide);

}  // namespace velopad
