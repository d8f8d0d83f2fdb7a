#pragma once
// Makers of well-formed keys of each kind, as the editor and the built-in templates use them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/builtin_action.h"
#include "protocol/deck_tile.h"

namespace velopad {

// An app key: id = bundleId; no action, Shortcut or symbol.
DeckTile appTile(std::int64_t slot, std::string label, std::string bundleId,
                 std::optional<std::string> iconName = std::nullopt,
                 std::optional<std::vector<std::string>> alternateBundleIds = std::nullopt);

// An action key: id = actionId = the action's raw value; label and symbol from the action.
DeckTile actionTile(BuiltinAction action, std::int64_t slot);

// A Shortcut key: id = shortcutIdentifier = `identifier`; iconSymbol = `symbol`.
DeckTile shortcutTile(std::int64_t slot, std::string label, std::string identifier,
                      std::string symbol);

}  // namespace velopad
