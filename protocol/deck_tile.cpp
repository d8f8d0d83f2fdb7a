#include "protocol/deck_tile.h"

#include <nlohmann/json.hpp>

#include "protocol/json_fields.h"
#include "protocol/raw_value_table.h"

namespace velopad {
namespace {

using K = DeckTileKind;
constexpr auto kKinds = makeRawValueTable<K>(std::pair{K::app, std::string_view{"app"}},
                                             std::pair{K::action, std::string_view{"action"}},
                                             std::pair{K::shortcut, std::string_view{"shortcut"}});

}  // namespace

std::string_view rawValue(DeckTileKind kind) { return kKinds.raw(kind); }

std::optional<DeckTileKind> deckTileKindFromRawValue(std::string_view text) {
    return kKinds.find(text);
}

std::string derivedTileId(DeckTileKind kind, const std::string& bundleId,
                          const std::optional<std::string>& actionId,
                          const std::optional<std::string>& shortcutIdentifier) {
    switch (kind) {
        case DeckTileKind::app:
            return bundleId;
        case DeckTileKind::action:
            return actionId.value_or(bundleId);
        case DeckTileKind::shortcut:
            return shortcutIdentifier.value_or(bundleId);
    }
    return bundleId;
}

std::string derivedTileId(const DeckTile& tile) {
    return derivedTileId(tile.kind, tile.bundleId, tile.actionId, tile.shortcutIdentifier);
}

void to_json(nlohmann::json& json, const DeckTile& tile) {
    json = nlohmann::json::object();
    json["id"] = tile.id;
    json["slot"] = tile.slot;
    json["kind"] = std::string(rawValue(tile.kind));
    json["label"] = tile.label;
    json["bundleId"] = tile.bundleId;
    if (tile.actionId) json["actionId"] = *tile.actionId;
    if (tile.shortcutIdentifier) json["shortcutIdentifier"] = *tile.shortcutIdentifier;
    if (tile.iconName) json["iconName"] = *tile.iconName;
    if (tile.iconSymbol) json["iconSymbol"] = *tile.iconSymbol;
    if (tile.alternateBundleIds) json["alternateBundleIds"] = *tile.alternateBundleIds;
}

DeckTile decodeDeckTile(const nlohmann::json& json) {
    using namespace json_fields;
    requireObject(json, "tile");
    DeckTile tile;
    tile.slot = requireInt64(json, "slot");
    tile.label = requireString(json, "label");
    tile.bundleId = requireString(json, "bundleId");
    tile.actionId = optionalString(json, "actionId");
    tile.shortcutIdentifier = optionalString(json, "shortcutIdentifier");
    tile.iconName = optionalString(json, "iconName");
    tile.iconSymbol = optionalString(json, "iconSymbol");
    tile.alternateBundleIds = optionalStringList(json, "alternateBundleIds");
    if (optionalField(json, "kind")) {
        tile.kind = requireEnum<DeckTileKind>(json, "kind", deckTileKindFromRawValue);
    } else if (tile.actionId) {
        tile.kind = DeckTileKind::action;
    } else if (tile.shortcutIdentifier) {
        tile.kind = DeckTileKind::shortcut;
    } else {
        tile.kind = DeckTileKind::app;
    }
    tile.id = optionalString(json, "id").value_or(derivedTileId(tile));
    return tile;
}

void from_json(const nlohmann::json& json, DeckTile& tile) { tile = decodeDeckTile(json); }

}  // namespace velopad
