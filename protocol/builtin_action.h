#pragma once
// The agent's built-in actions, identified on the wire and on disk by their raw values.

#include <array>
#include <optional>
#include <string_view>

namespace velopad {

// In the order the editor lists them.
enum class BuiltinAction { volumeDown, volumeUp, volumeMute };

inline constexpr std::array<BuiltinAction, 3> allBuiltinActions{
    BuiltinAction::volumeDown, BuiltinAction::volumeUp, BuiltinAction::volumeMute};

// "system.volume.down", "system.volume.up", "system.volume.mute".
std::string_view rawValue(BuiltinAction action);
// The key caption: "Vol \u2212" (U+2212 MINUS SIGN), "Vol +", "Mute".
std::string_view label(BuiltinAction action);
// The symbol shown on the key.
std::string_view symbolName(BuiltinAction action);

// The action with this raw value; none for any other text.
std::optional<BuiltinAction> builtinActionFromRawValue(std::string_view raw);

}  // namespace velopad
