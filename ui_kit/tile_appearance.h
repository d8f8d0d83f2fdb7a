#pragma once
// The face of a key: the glyph it shows and its two-colour gradient, derived from the tile.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/deck_tile.h"

namespace velopad {

// An sRGB colour, components 0 to 1.
struct TileColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double opacity = 1;

    // The platform's purple accent as sRGB (175, 82, 222).
    static constexpr TileColor systemPurple() { return {175 / 255.0, 82 / 255.0, 222 / 255.0}; }

    friend bool operator==(const TileColor&, const TileColor&) = default;
};

struct TileAppearance {
    std::string glyph;                  // a symbol name, or one character for unlisted apps
    std::array<TileColor, 2> gradient;  // top, bottom

    friend bool operator==(const TileAppearance&, const TileAppearance&) = default;
};

// The built-in face of a well-known application, keyed by icon name ("obs", "discord", …).
std::optional<TileAppearance> builtinAppearance(std::string_view iconName);

// App key: the built-in face of its icon name (or of its lower-cased label when it has none),
// else its label's first character on blue. Action key: its symbol (default
// "slider.horizontal.3") on light blue. Shortcut key: its symbol (default the Shortcut symbol)
// on orange-red.
TileAppearance appearance(const DeckTile& tile);

}  // namespace velopad
