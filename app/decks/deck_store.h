#pragma once
// The user's decks on disk: "$XDG_DATA_HOME/HarborlinkAgent/decks.json", one deck per
// category. The store creates the file on first use (from the templates fitted to the
// installed applications, or by migrating an older single-deck "deck.json"), hands out, saves
// and resets decks, and builds the snapshots and running-application lists sent to phones.
//
// An actor: operations run on its strand; file I/O runs on the thread pool. The decks file is
// decoded again whenever it changed on disk. Operations that write hold the store for their
// whole run; a snapshot lets other operations in while it waits for the icon providers.
//
// Pings and syncs are answered from a view of the decks with what is installed and running,
// built again only when the decks file changes or the workspace says its answers changed.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_core/async.h"
#include "agent_core/workspace_client.h"
#include "app/decks/deck_store_error.h"
#include "protocol/deck_category.h"
#include "protocol/deck_template.h"
#include "protocol/payloads.h"

namespace velopad {

class AppIconProvider;
class ShortcutIconProvider;
class SerialGate;

// Where deck snapshots get their icon revisions: the application and Shortcut icon providers
// in the agent, fakes in tests.
struct DeckIconRevisions {
    // The revisions of several applications' icons at once (of those that have one).
    std::function<Task<std::map<std::string, std::string>>(std::vector<std::string> bundleIds)>
        applicationRevisions;
    std::function<Task<std::optional<std::string>>(std::string identifier)> shortcutRevision;
    // Fills the Shortcut icon cache in one pass; awaited once per deck that holds a Shortcut.
    std::function<Task<void>()> preloadShortcutIcons;

    // Binds to the providers, which must outlive every snapshot built with the result.
    static DeckIconRevisions from(AppIconProvider& applications, ShortcutIconProvider& shortcuts,
                                  WorkspaceClient workspace);
};

class DeckStore {
  public:
    using ProblemReporter = std::function<void(std::string_view)>;

    // No I/O here. Without `storagePath` the file lives in the agent's data directory; the
    // older file is always "deck.json" beside it.
    DeckStore(Executor executor, asio::thread_pool& pool,
              std::optional<std::filesystem::path> storagePath = std::nullopt,
              ProblemReporter report = nullptr);
    ~DeckStore();
    DeckStore(const DeckStore&) = delete;
    DeckStore& operator=(const DeckStore&) = delete;

    static std::filesystem::path defaultStoragePath();

    const std::filesystem::path& storagePath() const { return storagePath_; }
    const std::filesystem::path& legacyPath() const { return legacyPath_; }

    // The stored deck of `category` exactly as stored, or its installed template. Never fails.
    Task<DeckTemplate> loadDeck(DeckCategoryID category, WorkspaceClient workspace);

    // Replaces the name and tiles of the category's deck (tiles ordered by slot, then validated
    // and renumbered). Throws DeckStoreError, or std::system_error when the file cannot be
    // written; nothing is written when validation fails. A decks file that cannot be read is
    // set aside as "decks.json.corrupt" (and reported) before it is replaced.
    Task<void> saveDeck(DeckCategoryID category, DeckTemplate deck, WorkspaceClient workspace);

    // Puts the category's installed template in place and returns it. Throws like saveDeck.
    Task<DeckTemplate> resetDeck(DeckCategoryID category, WorkspaceClient workspace);

    // One snapshot per deck, in category order, with running applications and icon
    // revisions. Never fails; an unreadable file is answered from the default decks (and left
    // as it is).
    Task<std::vector<DeckSnapshotPayload>> deckSnapshots(WorkspaceClient workspace,
                                                         DeckIconRevisions icons);
    Task<std::vector<DeckSnapshotPayload>> deckSnapshots(WorkspaceClient workspace,
                                                         AppIconProvider& applications,
                                                         ShortcutIconProvider& shortcuts);

    // The running applications of every deck's installed app tiles, deck after deck (an
    // application on both decks is listed twice). Never fails.
    Task<std::vector<std::string>> runningDeckBundleIds(WorkspaceClient workspace);

    const Strand& strand() const { return strand_; }

  private:
    struct FileState;
    struct DecksCache;
    struct RunningView;

    Task<std::shared_ptr<const RunningView>> runningView(WorkspaceClient workspace);
    // The view last built, while neither the decks file nor the workspace's answers changed.
    std::shared_ptr<const RunningView> reusableView(const WorkspaceClient& workspace) const;
    Task<std::shared_ptr<const RunningView>> buildView(WorkspaceClient workspace);

    Task<void> prepareStorage(const WorkspaceClient& workspace);
    Task<FileState> readDecksFile();
    Task<std::vector<DeckTemplate>> decksForSnapshots(const WorkspaceClient& workspace);
    Task<void> replaceDeck(DeckCategoryID category, DeckTemplate replacement,
                           const WorkspaceClient& workspace);
    void writeDecks(const std::vector<DeckTemplate>& decks);
    void report(const std::string& problem) const;

    Strand strand_;
    asio::thread_pool& pool_;
    std::filesystem::path storagePath_;
    std::filesystem::path legacyPath_;
    ProblemReporter report_;
    std::unique_ptr<SerialGate> gate_;
    std::unique_ptr<DecksCache> decksCache_;  // touched on strand_ only
    mutable std::mutex viewMutex_;            // read from any thread, written on strand_
    std::shared_ptr<const RunningView> view_;
};

}  // namespace velopad
