#pragma once
// One key of a deck, as stored in the decks file and sent inside deck snapshots.

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velopad {

enum class DeckTileKind {
    app,       // "app": opens or brings forward an application
    action,    // "action": runs a built-in action
    shortcut,  // "shortcut": runs a Shortcut
};

std::string_view rawValue(DeckTileKind kind);
std::optional<DeckTileKind> deckTileKindFromRawValue(std::string_view text);

struct DeckTile {
    std::string id;         // stable identity on its deck (see derivedTileId)
    std::int64_t slot = 0;  // 1-based position
    DeckTileKind kind = DeckTileKind::app;
    std::string label;
    std::string bundleId;  // "" for action and Shortcut keys
    std::optional<std::string> actionId;
    std::optional<std::string> shortcutIdentifier;
    std::optional<std::string> iconName;
    std::optional<std::string> iconSymbol;
    std::optional<std::vector<std::string>> alternateBundleIds;

    friend bool operator==(const DeckTile&, const DeckTile&) = default;
};

// The id a tile has when none is given: app → bundleId; action → actionId if present, else
// bundleId; shortcut → shortcutIdentifier if present, else bundleId.
std::string derivedTileId(DeckTileKind kind, const std::string& bundleId,
                          const std::optional<std::string>& actionId,
                          const std::optional<std::string>& shortcutIdentifier);
std::string derivedTileId(const DeckTile& tile);

// JSON form: "id", "slot", "kind", "label", "bundleId" always; the optional keys only when
// present. Reading requires "slot" (integer), "label" and "bundleId" (strings); a missing "kind"
// is inferred ("action" if "actionId" is present, else "shortcut" if "shortcutIdentifier" is
// present, else "app"); a missing "id" is the derived id. Throws DecodeError.
void to_json(nlohmann::json& json, const DeckTile& tile);
void from_json(const nlohmann::json& json, DeckTile& tile);
DeckTile decodeDeckTile(const nlohmann::json& json);

}  // namespace velopad
