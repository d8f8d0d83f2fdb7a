#pragma once
// Icon fixtures: a Sandbox whose XDG_DATA_DIRS holds only a private "hicolor" theme, small PNG
// and SVG icons and desktop entries, and a PNG reader for checking results.

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

// Images of one opaque colour: 0xRRGGBB for PNG, "#00ff00" for SVG.
void writeSolidPng(const std::filesystem::path& file, int width, int height, std::uint32_t rgb);
void writeSolidSvg(const std::filesystem::path& file, int width, int height,
                   const std::string& colour);

// Lower-case hex, computed independently of the code under test.
std::string sha256Hex(const std::vector<std::uint8_t>& bytes);

// A desktop entry with Name, Exec and, when given, Icon.
void writeDesktopEntry(const std::filesystem::path& file, const std::string& name,
                       const std::optional<std::string>& icon);

class IconThemeSandbox {
  public:
    explicit IconThemeSandbox(Sandbox& sandbox);

    std::filesystem::path dataDir() const { return root_ / "share"; }  // all of XDG_DATA_DIRS
    std::filesystem::path hicolor() const { return dataDir() / "icons" / "hicolor"; }
    std::filesystem::path applications() const { return dataDir() / "applications"; }

    // Writes "<id>.desktop" into applications().
    std::filesystem::path writeApplication(const std::string& id,
                                           const std::optional<std::string>& icon) const {
        writeDesktopEntry(applications() / (id + ".desktop"), id, icon);
        return applications() / (id + ".desktop");
    }

  private:
    std::filesystem::path root_;
};

}  // namespace velopad::testing
