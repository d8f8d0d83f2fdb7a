#pragma once
// Icon fixtures: a Sandbox whose XDG_DATA_DIRS holds only a private "hicolor" theme, helpers to
// write small PNG and SVG icons and desktop entries, and a PNG reader for checking results.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

struct DecodedPng {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // row after row, 4 bytes a pixel

    std::uint32_t pixel(int x, int y) const;  // 0xRRGGBBAA
    std::uint8_t alpha(int x, int y) const { return static_cast<std::uint8_t>(pixel(x, y) & 0xFF); }
};

std::optional<DecodedPng> decodePng(const std::vector<std::uint8_t>& png);

// A PNG of `width` × `height` pixels all of one opaque colour (0xRRGGBB).
void writeSolidPng(const std::filesystem::path& file, int width, int height, std::uint32_t rgb);
// An SVG of `width` × `height` filled with one colour ("#00ff00").
void writeSolidSvg(const std::filesystem::path& file, int width, int height,
                   const std::string& colour);

// The lower-case SHA-256 hex of `bytes`, computed independently of the code under test.
std::string sha256Hex(const std::vector<std::uint8_t>& bytes);

class IconThemeSandbox {
  public:
    explicit IconThemeSandbox(Sandbox& sandbox);

    std::filesystem::path dataDir() const;  // the only entry of XDG_DATA_DIRS
    std::filesystem::path hicolor() const;  // dataDir()/icons/hicolor, with its index.theme
    std::filesystem::path applications() const;

    // Writes "<id>.desktop" into applications() with Name, Exec and, when given, Icon.
    std::filesystem::path writeApplication(const std::string& id,
                                           const std::optional<std::string>& icon) const;

  private:
    Sandbox& sandbox_;
};

// Writes a desktop entry `file` with Name, Exec and, when given, Icon.
void writeDesktopEntry(const std::filesystem::path& file, const std::string& name,
                       const std::optional<std::string>& icon);

}  // namespace velopad::testing
