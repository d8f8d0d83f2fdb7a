#pragma once
// The symbol given to Shortcut keys that have no better one.

#include <string_view>

namespace velopad {

inline constexpr std::string_view defaultShortcutSymbol =
    "arrow.triangle.turn.up.right.diamond.fill";

}  // namespace velopad
