#include "ui_kit/tile_appearance.h"

#include <map>
#include <utility>

#include "protocol/shortcut_symbol.h"
#include "ui_kit/first_character.h"

namespace velopad {
namespace {

using Faces = std::map<std::string, TileAppearance, std::less<>>;

TileAppearance face(std::string glyph, TileColor top, TileColor bottom) {
    return {std::move(glyph), {top, bottom}};
}

const Faces& builtinFaces() {
    static const Faces faces{
        {"obs", face("video.fill", TileColor::systemPurple(), {0.45, 0.16, 0.85})},
        {"discord",
         face("bubble.left.and.bubble.right.fill", {0.65, 0.55, 0.98}, {0.49, 0.23, 0.93})},
        {"chrome", face("globe", {0.22, 0.74, 0.97}, {0.01, 0.52, 0.78})},
        {"safari", face("safari.fill", {0.22, 0.74, 0.97}, {0.15, 0.39, 0.92})},
        {"spotify", face("music.note", {0.25, 0.85, 0.45}, {0.09, 0.64, 0.29})},
        {"twitch", face("play.tv.fill", {0.67, 0.33, 0.97}, {0.45, 0.11, 0.69})},
        {"streamlabs", face("waveform", {0.31, 0.82, 0.77}, {0.05, 0.58, 0.53})},
        {"messages", face("message.fill", {0.3, 0.85, 0.39}, {0.09, 0.64, 0.23})},
        {"music", face("music.note.list", {0.98, 0.44, 0.52}, {0.88, 0.11, 0.28})},
        {"terminal", face("terminal.fill", {0.28, 0.33, 0.41}, {0.12, 0.16, 0.23})},
        {"finder", face("folder.fill", {0.22, 0.74, 0.97}, {0.15, 0.39, 0.92})},
        {"settings", face("gearshape.fill", {0.61, 0.64, 0.69}, {0.29, 0.33, 0.39})},
    };
    return faces;
}

std::string asciiLowercased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace

std::optional<TileAppearance> builtinAppearance(std::string_view iconName) {
    const Faces& faces = builtinFaces();
    if (auto found = faces.find(iconName); found != faces.end()) return found->second;
    return std::nullopt;
}

TileAppearance appearance(const DeckTile& tile) {
    switch (tile.kind) {
        case DeckTileKind::action:
            return face(tile.iconSymbol.value_or("slider.horizontal.3"), {0.2, 0.72, 0.98},
                        {0.04, 0.52, 1.0});
        case DeckTileKind::shortcut:
            return face(tile.iconSymbol.value_or(std::string(defaultShortcutSymbol)),
                        {0.98, 0.55, 0.2}, {0.92, 0.28, 0.35});
        case DeckTileKind::app:
            break;
    }
    const std::string key = tile.iconName ? *tile.iconName : asciiLowercased(tile.label);
    if (auto builtin = builtinAppearance(key)) return *std::move(builtin);
    return face(firstCharacter(tile.label), {0.22, 0.51, 0.96}, {0.11, 0.31, 0.85});
}

}  // namespace velopad
