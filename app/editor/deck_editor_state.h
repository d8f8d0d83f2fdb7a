#pragma once
// Everything the deck editor shows, as one plain value, with the rules of each edit. The
// editing rules are pure: they change this value only, so they can be tried synchronously;
// DeckEditorModel applies them on its strand and does the loading and saving around them.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "agent_core/icon_revision.h"
#include "agent_core/installed_apps_catalog.h"
#include "agent_core/shortcuts_catalog.h"
#include "protocol/deck_category.h"
#include "protocol/deck_tile.h"

namespace velopad {

enum class LibraryTab { apps, actions, shortcuts };
inline constexpr LibraryTab allLibraryTabs[] = {LibraryTab::apps, LibraryTab::actions,
                                                LibraryTab::shortcuts};

// "Apps", "Actions", "Shortcuts".
std::string_view title(LibraryTab tab);

struct ShortcutsLoadState {
    enum class Kind { loading, failed, loaded, empty };
    Kind kind = Kind::loading;
    std::string message;  // for `failed`

    friend bool operator==(const ShortcutsLoadState&, const ShortcutsLoadState&) = default;
};

// Icons are shared, never copied, between the snapshots handed to the front end.
using InstalledAppList = std::shared_ptr<const std::vector<InstalledApp>>;
using ShortcutIconMap = std::shared_ptr<const std::map<std::string, PngBytes>>;

// One card of a library as it is shown: its title, the text it drags, whether its key is on
// the deck already.
struct LibraryCard {
    DeckTileKind kind = DeckTileKind::app;
    std::string title;
    std::string payload;  // bundle identifier, action id or Shortcut identifier
    bool isInDeck = false;
    std::optional<std::string> symbol;  // actions and Shortcuts
    const InstalledApp* app = nullptr;  // apps: the entry of `installedApps`

    friend bool operator==(const LibraryCard& a, const LibraryCard& b) {
        return a.kind == b.kind && a.title == b.title && a.payload == b.payload &&
               a.isInDeck == b.isInDeck && a.symbol == b.symbol;
    }
};

struct DeckEditorState {
    static constexpr std::size_t maxTiles = 24;

    DeckCategoryID selectedCategory = DeckCategoryID::streaming;
    LibraryTab libraryTab = LibraryTab::apps;
    std::string searchText;

    std::string deckName;
    std::vector<DeckTile> tiles;
    std::string savedDeckName;
    std::vector<DeckTile> savedTiles;
    // Counts the times the name and keys were replaced from the store (load, category switch,
    // save of a blank name, reset), so a name field knows when to take the name over.
    std::uint64_t deckRevision = 0;

    std::optional<std::string> errorMessage;
    std::optional<std::string> infoMessage;
    bool isSaving = false;
    bool isLoadingDeck = true;  // until the first deck has arrived

    InstalledAppList installedApps = std::make_shared<const std::vector<InstalledApp>>();
    std::vector<CatalogShortcut> catalogShortcuts;
    ShortcutIconMap shortcutIcons = std::make_shared<const std::map<std::string, PngBytes>>();
    ShortcutsLoadState shortcutsLoadState;

    bool showFirstShortcutTip = false;
    std::optional<int> dropTargetIndex;
    bool isDeckDragActive = false;

    // --- What the views derive from the state ---

    bool hasUnsavedChanges() const;
    // "Unsaved" or "Synced".
    std::string_view syncLabel() const;
    // At least 24: the preview shows every key and empty slots up to the capacity.
    std::size_t slotCount() const;
    bool isFull() const;

    // Shortcut keys (lower-case identifiers) whose Shortcut is not in the loaded catalog.
    // Empty while the catalog is loading or could not be read.
    std::set<std::string> missingShortcutIdentifiers() const;
    bool isMissing(const DeckTile& tile) const;
    // The icon of a Shortcut key: under its identifier, else under the lower-case identifier.
    const PngBytes* shortcutIconFor(const DeckTile& tile) const;
    // The installed application with this identifier, if any.
    const InstalledApp* installedApp(std::string_view bundleId) const;

    // The cards of the selected library tab that match the search text (empty: all).
    std::vector<LibraryCard> visibleCards() const;
    std::vector<LibraryCard> cards(LibraryTab tab) const;
    // Whether the deck holds the key this card (or dragged text) stands for.
    bool isInDeck(DeckTileKind kind, std::string_view payload) const;

    // Under the suggested Shortcut card: "Cursor isn’t installed." and/or "Wispr Flow isn’t
    // installed.", joined by a space; empty when both are installed.
    std::string suggestedCardMissingLine() const;

    // --- Edits ---

    // Takes the deck as loaded: name, tiles and their saved copies; messages cleared; Shortcut
    // labels refreshed from the catalog.
    void adoptDeck(const std::string& name, const std::vector<DeckTile>& deckTiles);

    // Renames Shortcut keys after their catalog entries (only `tiles` changes).
    void refreshShortcutLabels();

    // A drop of dragged texts on slot `index` (0-based). Only the first text counts: an action
    // id, a catalog Shortcut (or a Shortcut already on the deck), else a bundle identifier.
    // Clears the drop target and the drag flag. True when the deck changed.
    bool drop(const std::vector<std::string>& texts, int index);

    // A card's add control: appends the key when the deck neither holds it nor is full.
    bool addCard(DeckTileKind kind, std::string_view payload);

    // Adds the key at `index`, or moves it there when the deck holds it already. A full deck
    // refuses additions but not moves. True when the deck changed.
    bool addOrMoveApp(std::string_view bundleId, int index);
    bool addOrMoveAction(std::string_view actionId, int index);
    bool addOrMoveShortcut(std::string_view identifier, const std::string& label, int index);

    // Removes the key at `index` (0-based); nothing for an index off the deck.
    bool removeTile(int index);

    // Drag feedback: a slot entered or left; the drag over the preview started or ended.
    void setDropTarget(int index, bool entering);
    void setDeckDragActive(bool active);

    // Slots 1…n in order, ids re-derived from each key's kind.
    static void renumber(std::vector<DeckTile>& tiles);
};

// Case-insensitive containment as a user would expect it (Unicode case folding).
bool containsIgnoringCase(std::string_view text, std::string_view part);

// `deckName` without leading and trailing white space; blank becomes the category's name.
std::string nameToSave(std::string_view deckName, DeckCategoryID category);

}  // namespace velopad
