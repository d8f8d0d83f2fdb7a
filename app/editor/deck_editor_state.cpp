#include "app/editor/deck_editor_state.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <optional>

#include "app/editor/deck_editor_texts.h"
#include "protocol/builtin_action.h"
#include "protocol/deck_tile_factories.h"
#include "protocol/shortcut_symbol.h"

namespace velopad {

namespace {

// Case-folded, composed form of UTF-8 text; ASCII lower case when the text is not UTF-8.
std::string folded(std::string_view text) {
    const std::string copy(text);
    if (!g_utf8_validate(copy.c_str(), static_cast<gssize>(copy.size()), nullptr)) {
        std::string lower = copy;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower;
    }
    gchar* normalized = g_utf8_normalize(copy.c_str(), -1, G_NORMALIZE_DEFAULT_COMPOSE);
    gchar* caseFolded = g_utf8_casefold(normalized ? normalized : copy.c_str(), -1);
    std::string result = caseFolded ? caseFolded : copy;
    g_free(caseFolded);
    g_free(normalized);
    return result;
}

std::string asciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool sameShortcut(const std::optional<std::string>& identifier, std::string_view other) {
    return identifier && asciiLower(*identifier) == asciiLower(other);
}

std::size_t clampedIndex(int index, std::size_t count) {
    if (index < 0) return 0;
    return std::min(static_cast<std::size_t>(index), count);
}

}  // namespace

std::string_view title(LibraryTab tab) {
    switch (tab) {
        case LibraryTab::apps:
            return "Apps";
        case LibraryTab::actions:
            return "Actions";
        case LibraryTab::shortcuts:
            break;
    }
    return "Shortcuts";
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    if (part.empty()) return true;
    return folded(text).find(folded(part)) != std::string::npos;
}

std::string nameToSave(std::string_view deckName, DeckCategoryID category) {
    constexpr std::string_view blank = " \t\n\r\v\f";
    const auto first = deckName.find_first_not_of(blank);
    if (first == std::string_view::npos) return std::string(displayName(category));
    const auto last = deckName.find_last_not_of(blank);
    return std::string(deckName.substr(first, last - first + 1));
}

bool DeckEditorState::hasUnsavedChanges() const {
    return tiles != savedTiles || deckName != savedDeckName;
}

std::string_view DeckEditorState::syncLabel() const {
    return hasUnsavedChanges() ? DeckEditorTexts::unsaved : DeckEditorTexts::synced;
}

std::size_t DeckEditorState::slotCount() const { return std::max(tiles.size(), maxTiles); }

bool DeckEditorState::isFull() const { return tiles.size() >= maxTiles; }

std::set<std::string> DeckEditorState::missingShortcutIdentifiers() const {
    using Kind = ShortcutsLoadState::Kind;
    std::set<std::string> missing;
    if (shortcutsLoadState.kind != Kind::loaded && shortcutsLoadState.kind != Kind::empty) {
        return missing;
    }
    std::set<std::string> known;
    for (const auto& shortcut : catalogShortcuts) known.insert(asciiLower(shortcut.identifier));
    for (const auto& tile : tiles) {
        if (tile.kind != DeckTileKind::shortcut || !tile.shortcutIdentifier) continue;
        const std::string key = asciiLower(*tile.shortcutIdentifier);
        if (!known.contains(key)) missing.insert(key);
    }
    return missing;
}

bool DeckEditorState::isMissing(const DeckTile& tile) const {
    if (tile.kind != DeckTileKind::shortcut || !tile.shortcutIdentifier) return false;
    return missingShortcutIdentifiers().contains(asciiLower(*tile.shortcutIdentifier));
}

const PngBytes* DeckEditorState::shortcutIconFor(const DeckTile& tile) const {
    if (tile.kind != DeckTileKind::shortcut || !tile.shortcutIdentifier) return nullptr;
    if (const auto found = shortcutIcons->find(*tile.shortcutIdentifier);
        found != shortcutIcons->end()) {
        return &found->second;
    }
    if (const auto found = shortcutIcons->find(asciiLower(*tile.shortcutIdentifier));
        found != shortcutIcons->end()) {
        return &found->second;
    }
    return nullptr;
}

const InstalledApp* DeckEditorState::installedApp(std::string_view bundleId) const {
    for (const auto& app : *installedApps) {
        if (app.bundleId == bundleId) return &app;
    }
    return nullptr;
}

bool DeckEditorState::isInDeck(DeckTileKind kind, std::string_view payload) const {
    return std::any_of(tiles.begin(), tiles.end(), [&](const DeckTile& tile) {
        if (tile.kind != kind) return false;
        switch (kind) {
            case DeckTileKind::app:
                return tile.bundleId == payload;
            case DeckTileKind::action:
                return tile.actionId == payload;
            case DeckTileKind::shortcut:
                break;
        }
        return sameShortcut(tile.shortcutIdentifier, payload);
    });
}

std::vector<LibraryCard> DeckEditorState::cards(LibraryTab tab) const {
    std::vector<LibraryCard> result;
    switch (tab) {
        case LibraryTab::apps:
            for (const auto& app : *installedApps) {
                if (!containsIgnoringCase(app.label, searchText)) continue;
                result.push_back({DeckTileKind::app, app.label, app.bundleId,
                                  isInDeck(DeckTileKind::app, app.bundleId), std::nullopt, &app});
            }
            break;
        case LibraryTab::actions:
            for (const BuiltinAction action : allBuiltinActions) {
                const std::string label(velopad::label(action));
                if (!containsIgnoringCase(label, searchText)) continue;
                const std::string id(rawValue(action));
                result.push_back({DeckTileKind::action, label, id,
                                  isInDeck(DeckTileKind::action, id),
                                  std::string(symbolName(action)), nullptr});
            }
            break;
        case LibraryTab::shortcuts:
            for (const auto& shortcut : catalogShortcuts) {
                if (!containsIgnoringCase(shortcut.name, searchText)) continue;
                result.push_back({DeckTileKind::shortcut, shortcut.name, shortcut.identifier,
                                  isInDeck(DeckTileKind::shortcut, shortcut.identifier),
                                  std::string(defaultShortcutSymbol), nullptr});
            }
            break;
    }
    return result;
}

std::vector<LibraryCard> DeckEditorState::visibleCards() const { return cards(libraryTab); }

std::string DeckEditorState::suggestedCardMissingLine() const {
    const auto installed = [this](std::string_view name) {
        return std::any_of(
            installedApps->begin(), installedApps->end(),
            [&](const InstalledApp& app) { return containsIgnoringCase(app.label, name); });
    };
    std::string line;
    if (!installed("Cursor")) line += DeckEditorTexts::cursorNotInstalled;
    if (!installed("Wispr Flow")) {
        if (!line.empty()) line += ' ';
        line += DeckEditorTexts::wisprNotInstalled;
    }
    return line;
}

void DeckEditorState::adoptDeck(const std::string& name, const std::vector<DeckTile>& deckTiles) {
    deckName = name;
    savedDeckName = name;
    tiles = deckTiles;
    savedTiles = deckTiles;
    errorMessage.reset();
    infoMessage.reset();
    isLoadingDeck = false;
    ++deckRevision;
    refreshShortcutLabels();
}

void DeckEditorState::refreshShortcutLabels() {
    if (catalogShortcuts.empty()) return;
    for (auto& tile : tiles) {
        if (tile.kind != DeckTileKind::shortcut || !tile.shortcutIdentifier) continue;
        const auto entry = std::find_if(
            catalogShortcuts.begin(), catalogShortcuts.end(), [&](const CatalogShortcut& s) {
                return sameShortcut(tile.shortcutIdentifier, s.identifier);
            });
        if (entry == catalogShortcuts.end()) continue;
        tile = shortcutTile(tile.slot, entry->name, *tile.shortcutIdentifier,
                            tile.iconSymbol.value_or(std::string(defaultShortcutSymbol)));
    }
}

bool DeckEditorState::drop(const std::vector<std::string>& texts, int index) {
    bool changed = false;
    if (!texts.empty() && !texts.front().empty()) {
        const std::string& text = texts.front();
        if (builtinActionFromRawValue(text)) {
            changed = addOrMoveAction(text, index);
        } else if (const auto entry = std::find_if(
                       catalogShortcuts.begin(), catalogShortcuts.end(),
                       [&](const CatalogShortcut& s) { return sameShortcut(s.identifier, text); });
                   entry != catalogShortcuts.end()) {
            changed = addOrMoveShortcut(entry->identifier, entry->name, index);
        } else if (isInDeck(DeckTileKind::shortcut, text)) {
            changed = addOrMoveShortcut(text, {}, index);
        } else {
            changed = addOrMoveApp(text, index);
        }
    }
    dropTargetIndex.reset();
    isDeckDragActive = false;
    return changed;
}

bool DeckEditorState::addCard(DeckTileKind kind, std::string_view payload) {
    if (isInDeck(kind, payload) || isFull()) return false;
    const int end = static_cast<int>(tiles.size());
    switch (kind) {
        case DeckTileKind::app:
            return addOrMoveApp(payload, end);
        case DeckTileKind::action:
            return addOrMoveAction(payload, end);
        case DeckTileKind::shortcut:
            break;
    }
    const auto entry =
        std::find_if(catalogShortcuts.begin(), catalogShortcuts.end(),
                     [&](const CatalogShortcut& s) { return sameShortcut(s.identifier, payload); });
    if (entry == catalogShortcuts.end()) return false;
    return addOrMoveShortcut(entry->identifier, entry->name, end);
}

namespace {

// Moves the tile at `from` to min(index, count after removal). Always a change of the deck's
// state as far as the drop is concerned.
void moveTile(std::vector<DeckTile>& tiles, std::size_t from, int index) {
    DeckTile tile = std::move(tiles[from]);
    tiles.erase(tiles.begin() + static_cast<std::ptrdiff_t>(from));
    const std::size_t to = clampedIndex(index, tiles.size());
    tiles.insert(tiles.begin() + static_cast<std::ptrdiff_t>(to), std::move(tile));
}

}  // namespace

// The one rule of adding or moving: the deck never holds two keys for one application, action
// or Shortcut, so the same tile moves; a full deck refuses additions but still moves.
template <class SameTile, class MakeTile>
bool addOrMoveTile(DeckEditorState& state, SameTile sameTile, MakeTile makeTile, int index) {
    auto& tiles = state.tiles;
    const auto existing = std::find_if(tiles.begin(), tiles.end(), sameTile);
    if (existing != tiles.end()) {
        moveTile(tiles, static_cast<std::size_t>(existing - tiles.begin()), index);
        DeckEditorState::renumber(tiles);
        state.dropTargetIndex.reset();
        return true;
    }
    if (state.isFull()) return false;
    std::optional<DeckTile> tile = makeTile();
    if (!tile) return false;
    const std::size_t at = clampedIndex(index, tiles.size());
    tiles.insert(tiles.begin() + static_cast<std::ptrdiff_t>(at), std::move(*tile));
    DeckEditorState::renumber(tiles);
    state.errorMessage.reset();
    state.infoMessage.reset();
    return true;
}

bool DeckEditorState::addOrMoveApp(std::string_view bundleId, int index) {
    return addOrMoveTile(
        *this,
        [&](const DeckTile& tile) {
            return tile.kind == DeckTileKind::app && tile.bundleId == bundleId;
        },
        [&]() -> std::optional<DeckTile> {
            const InstalledApp* app = installedApp(bundleId);
            if (!app) return std::nullopt;
            return appTile(0, app->label, app->bundleId, app->iconName);
        },
        index);
}

bool DeckEditorState::addOrMoveAction(std::string_view actionId, int index) {
    const auto action = builtinActionFromRawValue(actionId);
    if (!action) return false;
    return addOrMoveTile(
        *this,
        [&](const DeckTile& tile) {
            return tile.kind == DeckTileKind::action && tile.actionId == actionId;
        },
        [&]() -> std::optional<DeckTile> { return actionTile(*action, 0); }, index);
}

bool DeckEditorState::addOrMoveShortcut(std::string_view identifier, const std::string& label,
                                        int index) {
    if (identifier.empty()) return false;
    const bool hadShortcut = std::any_of(tiles.begin(), tiles.end(), [](const DeckTile& tile) {
        return tile.kind == DeckTileKind::shortcut;
    });
    const bool changed = addOrMoveTile(
        *this,
        [&](const DeckTile& tile) {
            return tile.kind == DeckTileKind::shortcut &&
                   sameShortcut(tile.shortcutIdentifier, identifier);
        },
        [&]() -> std::optional<DeckTile> {
            return shortcutTile(0, label, std::string(identifier),
                                std::string(defaultShortcutSymbol));
        },
        index);
    // A move needs a Shortcut key already there; only the deck's first one shows the tip.
    if (changed && !hadShortcut) showFirstShortcutTip = true;
    return changed;
}

bool DeckEditorState::removeTile(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= tiles.size()) return false;
    tiles.erase(tiles.begin() + index);
    renumber(tiles);
    return true;
}

void DeckEditorState::setDropTarget(int index, bool entering) {
    if (entering) {
        dropTargetIndex = index;
        isDeckDragActive = true;
    } else if (dropTargetIndex == index) {
        dropTargetIndex.reset();
    }
}

void DeckEditorState::setDeckDragActive(bool active) {
    isDeckDragActive = active;
    if (!active) dropTargetIndex.reset();
}

void DeckEditorState::renumber(std::vector<DeckTile>& tiles) {
    std::int64_t slot = 1;
    for (auto& tile : tiles) {
        tile.slot = slot++;
        tile.id = derivedTileId(tile);
    }
}

}  // namespace velopad
