#pragma once
// What the deck editor is given by its owner: the store and workspace it edits through, where
// applications, Shortcuts and their icons come from, and how a save reaches the phones.

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "agent_core/async.h"
#include "agent_core/icon_revision.h"
#include "agent_core/installed_apps_catalog.h"
#include "agent_core/shortcuts_catalog.h"
#include "agent_core/workspace_client.h"

namespace velopad {

class DeckStore;

struct DeckEditorContext {
    Executor executor;
    asio::thread_pool* pool = nullptr;  // blocking scans and icon rendering
    DeckStore* deckStore = nullptr;     // outlives every editor
    WorkspaceClient workspace;
    InstalledAppsSource installedApps;

    // The user's Shortcuts; throws with the text to show when they cannot be listed.
    std::function<Task<std::vector<CatalogShortcut>>()> listShortcuts;
    // Every Shortcut icon there is, as PNG, keyed by identifier.
    std::function<Task<std::map<std::string, PngBytes>>()> shortcutIcons;

    // Whether a phone is connected at this moment.
    std::function<bool()> isPhoneConnected;
    // Run after every successful save or reset: pushes the decks to the phones.
    std::function<Task<void>()> onSaved;
    // Asks the front end to close the editor (after a save that reached a phone).
    std::function<void()> requestClose;

    // The Shortcuts tool ("velopad-shortcuts") the Shortcuts manager drives.
    std::filesystem::path shortcutsTool;
};

}  // namespace velopad
