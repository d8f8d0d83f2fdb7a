#pragma once
// Which vendored icon file draws each symbol name that keys, actions, Shortcuts, the panel and
// the editor use. The icons are Lucide's (ui_kit/glyphs/, ISC licence); a symbol without an
// entry draws the neutral glyph.

#include <span>
#include <string_view>

namespace velopad::GlyphTable {

struct Entry {
    std::string_view symbol;  // the symbol name as decks and views write it, e.g. "globe"
    std::string_view file;    // the file under ui_kit/glyphs/, e.g. "globe.svg"
};

// The file for `symbol`, or `neutralFile` when the symbol has no entry.
std::string_view fileFor(std::string_view symbol);

// Whether `symbol` has an entry of its own.
bool contains(std::string_view symbol);

// Drawn for every symbol without an entry.
inline constexpr std::string_view neutralFile = "square-dashed.svg";

// Every entry, in the order of the table.
std::span<const Entry> entries();

}  // namespace velopad::GlyphTable
