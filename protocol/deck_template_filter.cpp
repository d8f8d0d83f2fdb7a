#include "protocol/deck_template_filter.h"

#include <utility>

#include "protocol/deck_tile_factories.h"

namespace velopad::DeckTemplateFilter {

BundlePredicate memberOf(std::set<std::string, std::less<>> bundleIds) {
    return [ids = std::move(bundleIds)](std::string_view bundleId) {
        return ids.find(bundleId) != ids.end();
    };
}

std::vector<std::string> candidateBundleIds(const DeckTile& tile) {
    std::vector<std::string> candidates{tile.bundleId};
    if (tile.alternateBundleIds) {
        candidates.insert(candidates.end(), tile.alternateBundleIds->begin(),
                          tile.alternateBundleIds->end());
    }
    return candidates;
}

std::optional<std::string> firstInstalledBundleId(const DeckTile& tile,
                                                  const BundlePredicate& isInstalled) {
    for (std::string& candidate : candidateBundleIds(tile)) {
        if (isInstalled(candidate)) return std::move(candidate);
    }
    return std::nullopt;
}

std::vector<DeckTile> resolveInstalledTiles(const std::vector<DeckTile>& tiles,
                                            const BundlePredicate& isInstalled) {
    std::vector<DeckTile> resolved;
    resolved.reserve(tiles.size());
    for (const DeckTile& tile : tiles) {
        if (tile.kind != DeckTileKind::app) {
            resolved.push_back(tile);
            continue;
        }
        std::optional<std::string> installed = firstInstalledBundleId(tile, isInstalled);
        if (!installed) continue;
        if (*installed == tile.bundleId) {
            resolved.push_back(tile);
        } else {
            resolved.push_back(appTile(tile.slot, tile.label, std::move(*installed), tile.iconName,
                                       tile.alternateBundleIds));
        }
    }
    return resolved;
}

DeckSnapshotPayload makeSnapshot(const DeckTemplate& deck, const BundlePredicate& isInstalled,
                                 const BundlePredicate& isRunning) {
    DeckSnapshotPayload snapshot;
    snapshot.deckId = deck.id;
    snapshot.name = deck.name;
    snapshot.tiles = resolveInstalledTiles(deck.tiles, isInstalled);
    for (const DeckTile& tile : snapshot.tiles) {
        if (tile.kind == DeckTileKind::app && !tile.bundleId.empty() && isRunning(tile.bundleId)) {
            snapshot.runningBundleIds.push_back(tile.bundleId);
        }
    }
    return snapshot;
}

}  // namespace velopad::DeckTemplateFilter
