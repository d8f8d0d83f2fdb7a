#include "app/decks/deck_store_rules.h"

#include <algorithm>
#include <exception>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "app/decks/deck_store_error.h"
#include "protocol/deck_templates.h"
#include "protocol/json_fields.h"
#include "protocol/json_text.h"

namespace velopad::DeckStoreRules {
namespace {

std::vector<DeckTile> renumbered(std::vector<DeckTile> tiles) {
    std::int64_t slot = 1;
    for (DeckTile& tile : tiles) {
        tile.slot = slot++;
        tile.id = derivedTileId(tile);
    }
    return tiles;
}

}  // namespace

DeckTemplate validatedDeck(const DeckTemplate& deck) {
    if (static_cast<std::int64_t>(deck.tiles.size()) > maxTilesPerDeck) {
        throw DeckStoreError::tooManyTiles(maxTilesPerDeck);
    }
    std::set<std::string> bundleIds, actionIds, shortcutIds;
    for (const DeckTile& tile : deck.tiles) {
        switch (tile.kind) {
            case DeckTileKind::app:
                if (!bundleIds.insert(tile.bundleId).second) {
                    throw DeckStoreError::duplicateBundleId(tile.bundleId);
                }
                break;
            case DeckTileKind::action:
                if (!tile.actionId) throw DeckStoreError::decodingFailed();
                if (!actionIds.insert(*tile.actionId).second) {
                    throw DeckStoreError::duplicateAction(*tile.actionId);
                }
                break;
            case DeckTileKind::shortcut:
                if (!tile.shortcutIdentifier) throw DeckStoreError::decodingFailed();
                if (!shortcutIds.insert(*tile.shortcutIdentifier).second) {
                    throw DeckStoreError::duplicateShortcut(*tile.shortcutIdentifier);
                }
                break;
        }
    }
    DeckTemplate validated;
    validated.id = deck.id;
    validated.name = deck.name;
    validated.tiles = renumbered(deck.tiles);
    return validated;
}

DeckTemplate installedTemplate(const DeckTemplate& deckTemplate,
                               const BundlePredicate& isInstalled) {
    const DeckSnapshotPayload snapshot = DeckTemplateFilter::makeSnapshot(
        deckTemplate, isInstalled, [](std::string_view) { return false; });
    DeckTemplate installed;
    installed.id = deckTemplate.id;
    installed.name = deckTemplate.name;
    installed.tiles = renumbered(snapshot.tiles);
    return installed;
}

std::vector<DeckTemplate> defaultDecks(const BundlePredicate& isInstalled) {
    std::vector<DeckTemplate> decks;
    for (DeckCategoryID category : allDeckCategories) {
        decks.push_back(installedTemplate(DeckTemplates::templateFor(category), isInstalled));
    }
    return decks;
}

std::vector<DeckTemplate> normalizedDecks(const std::vector<DeckTemplate>& decks,
                                          const BundlePredicate& isInstalled) {
    std::vector<DeckTemplate> normalized;
    for (DeckCategoryID category : allDeckCategories) {
        const std::string_view id = rawValue(category);
        auto stored = std::find_if(decks.begin(), decks.end(),
                                   [&](const DeckTemplate& deck) { return deck.id == id; });
        normalized.push_back(
            stored != decks.end()
                ? *stored
                : installedTemplate(DeckTemplates::templateFor(category), isInstalled));
    }
    return normalized;
}

std::vector<std::string> bundleIdsToLookUp(const std::vector<DeckTemplate>& decks) {
    std::set<std::string> seen;
    std::vector<std::string> bundleIds;
    auto collect = [&](const DeckTemplate& deck) {
        for (const DeckTile& tile : deck.tiles) {
            if (tile.kind != DeckTileKind::app) continue;
            for (std::string& candidate : DeckTemplateFilter::candidateBundleIds(tile)) {
                if (seen.insert(candidate).second) bundleIds.push_back(std::move(candidate));
            }
        }
    };
    for (const DeckTemplate& deck : decks) collect(deck);
    collect(DeckTemplates::streaming());
    collect(DeckTemplates::gaming());
    return bundleIds;
}

std::string encodeDecksFile(std::int64_t version, const std::vector<DeckTemplate>& decks) {
    try {
        nlohmann::json file = nlohmann::json::object();
        file["decks"] = decks;
        file["version"] = version;
        return writeJsonText(file);
    } catch (const std::exception&) {
        throw DeckStoreError::encodingFailed();
    }
}

std::optional<std::vector<DeckTemplate>> decodeDecksFile(std::string_view text) {
    try {
        const nlohmann::json file = parseJsonText(text);
        json_fields::requireObject(file, "decks file");
        (void)json_fields::requireInt64(file, "version");
        const nlohmann::json& list = json_fields::requireField(file, "decks");
        if (!list.is_array()) return std::nullopt;
        std::vector<DeckTemplate> decks;
        for (const nlohmann::json& deck : list) decks.push_back(deck.get<DeckTemplate>());
        return decks;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<DeckTemplate> decodeLegacyDeck(std::string_view text) {
    try {
        return parseJsonText(text).get<DeckTemplate>();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace velopad::DeckStoreRules
