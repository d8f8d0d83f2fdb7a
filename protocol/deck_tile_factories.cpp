#include "protocol/deck_tile_factories.h"

#include <utility>

namespace velopad {

DeckTile appTile(std::int64_t slot, std::string label, std::string bundleId,
                 std::optional<std::string> iconName,
                 std::optional<std::vector<std::string>> alternateBundleIds) {
    DeckTile tile;
    tile.id = bundleId;
    tile.slot = slot;
    tile.kind = DeckTileKind::app;
    tile.label = std::move(label);
    tile.bundleId = std::move(bundleId);
    tile.iconName = std::move(iconName);
    tile.alternateBundleIds = std::move(alternateBundleIds);
    return tile;
}

DeckTile actionTile(BuiltinAction action, std::int64_t slot) {
    DeckTile tile;
    tile.id = std::string(rawValue(action));
    tile.slot = slot;
    tile.kind = DeckTileKind::action;
    tile.label = std::string(label(action));
    tile.actionId = tile.id;
    tile.iconSymbol = std::string(symbolName(action));
    return tile;
}

DeckTile shortcutTile(std::int64_t slot, std::string label, std::string identifier,
                      std::string symbol) {
    DeckTile tile;
    tile.id = identifier;
    tile.slot = slot;
    tile.kind = DeckTileKind::shortcut;
    tile.label = std::move(label);
    tile.shortcutIdentifier = std::move(identifier);
    tile.iconSymbol = std::move(symbol);
    return tile;
}

}  // namespace velopad
