#include "app/decks/deck_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <iostream>
#include <set>
#include <system_error>
#include <utility>

#include "agent_core/app_icon_provider.h"
#include "agent_core/serial_gate.h"
#include "agent_core/shortcut_icon_provider.h"
#include "app/decks/deck_store_rules.h"
#include "app/storage/atomic_file.h"
#include "app/storage/data_paths.h"
#include "protocol/deck_template_filter.h"
#include "protocol/deck_templates.h"

namespace velopad {

namespace fs = std::filesystem;
using DeckTemplateFilter::BundlePredicate;

namespace {

Task<void> preloadIgnoringResult(ShortcutIconProvider* shortcuts) {
    (void)co_await shortcuts->preloadAll();
}

// What is installed, asked once for every application the decks and templates may need.
Task<BundlePredicate> installedPredicate(const WorkspaceClient& workspace,
                                         const std::vector<DeckTemplate>& decks) {
    // Arguments are named first throughout: GCC 12 destroys a temporary passed to a coroutine
    // inside a co_await expression twice.
    std::vector<std::string> candidates = DeckStoreRules::bundleIdsToLookUp(decks);
    const std::set<std::string> installed = co_await workspace.installedBundleIds(candidates);
    std::set<std::string, std::less<>> members(installed.begin(), installed.end());
    co_return DeckTemplateFilter::memberOf(std::move(members));
}

// The bundle identifiers of the deck's installed app tiles, in tile order.
std::vector<std::string> installedAppBundleIds(const DeckTemplate& deck,
                                               const BundlePredicate& isInstalled) {
    std::vector<std::string> bundleIds;
    for (const DeckTile& tile :
         DeckTemplateFilter::resolveInstalledTiles(deck.tiles, isInstalled)) {
        if (tile.kind == DeckTileKind::app && !tile.bundleId.empty()) {
            bundleIds.push_back(tile.bundleId);
        }
    }
    return bundleIds;
}

Task<BundlePredicate> runningPredicate(const WorkspaceClient& workspace,
                                       const std::vector<DeckTemplate>& decks,
                                       const BundlePredicate& isInstalled) {
    std::vector<std::string> candidates;
    for (const DeckTemplate& deck : decks) {
        for (std::string& bundleId : installedAppBundleIds(deck, isInstalled)) {
            candidates.push_back(std::move(bundleId));
        }
    }
    const std::set<std::string> running = co_await workspace.runningBundleIds(candidates);
    std::set<std::string, std::less<>> members(running.begin(), running.end());
    co_return DeckTemplateFilter::memberOf(std::move(members));
}

const std::vector<DeckTemplate> noDecks;

}  // namespace

DeckIconRevisions DeckIconRevisions::from(AppIconProvider& applications,
                                          ShortcutIconProvider& shortcuts,
                                          WorkspaceClient workspace) {
    AppIconProvider* app = &applications;
    ShortcutIconProvider* shortcut = &shortcuts;
    return DeckIconRevisions{
        .applicationRevisions =
            [app, workspace](std::vector<std::string> bundleIds) {
                return app->revisions(std::move(bundleIds), workspace);
            },
        .shortcutRevision =
            [shortcut](std::string identifier) {
                return shortcut->revision(std::move(identifier));
            },
        .preloadShortcutIcons = [shortcut] { return preloadIgnoringResult(shortcut); },
    };
}

struct DeckStore::FileState {
    bool exists = false;                             // something is at the storage path
    std::optional<std::vector<DeckTemplate>> decks;  // none when absent or unreadable
};

namespace {

// What identifies one version of the decks file: any write or replacement changes it.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static std::optional<FileStamp> of(const fs::path& path) {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
        return FileStamp{status.st_dev, status.st_ino, status.st_size, status.st_mtim,
                         status.st_ctim};
    }
    bool operator==(const FileStamp& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

}  // namespace

// The decks file as last read, so that pings and syncs do not read and decode it each time.
struct DeckStore::DecksCache {
    FileStamp stamp;
    FileState state;
};

struct DeckStore::RunningView {
    std::optional<FileStamp> stamp;              // of the decks file read; none when not reusable
    std::optional<std::uint64_t> version;        // of the workspace's answers
    std::vector<DeckSnapshotPayload> snapshots;  // without icon revisions
    std::vector<std::string> runningBundleIds;
    // When `stamp` was last compared with the file (steady clock, nanoseconds).
    mutable std::atomic<std::int64_t> stampCheckedAt{0};
};

namespace {

// The store's own writes drop the view at once; a change made by hand is seen this soon.
constexpr std::int64_t stampTrustedForNs = 100'000'000;

std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

DeckStore::DeckStore(Executor executor, asio::thread_pool& pool,
                     std::optional<fs::path> storagePath, ProblemReporter report)
    : strand_(asio::make_strand(std::move(executor))),
      pool_(pool),
      storagePath_(storagePath ? std::move(*storagePath) : defaultStoragePath()),
      legacyPath_(storagePath_.parent_path() / "deck.json"),
      report_(std::move(report)),
      gate_(std::make_unique<SerialGate>(strand_)) {}

DeckStore::~DeckStore() = default;

fs::path DeckStore::defaultStoragePath() { return agentDataDirectory() / "decks.json"; }

void DeckStore::report(const std::string& problem) const {
    if (report_) {
        report_(problem);
    } else {
        std::cerr << "velopad-agent: " << problem << '\n';
    }
}

// Validates every deck, then replaces the file. Runs on the thread pool.
void DeckStore::writeDecks(const std::vector<DeckTemplate>& decks) {
    std::vector<DeckTemplate> validated;
    for (const DeckTemplate& deck : decks) validated.push_back(DeckStoreRules::validatedDeck(deck));
    createPrivateDirectories(storagePath_.parent_path());
    const std::string text =
        DeckStoreRules::encodeDecksFile(DeckStoreRules::decksFileVersion, validated);
    const auto warning = writeFileAtomically(storagePath_, text);
    {
        std::lock_guard lock(viewMutex_);
        view_.reset();
    }
    if (warning) report(*warning);
}

Task<DeckStore::FileState> DeckStore::readDecksFile() {
    // A stat of a local file is cheap enough for the strand; it saves a trip to the pool.
    if (decksCache_ && FileStamp::of(storagePath_) == decksCache_->stamp) {
        co_return decksCache_->state;
    }
    std::optional<FileStamp> stamp;
    auto read = [this, &stamp] {
        FileState state;
        stamp = FileStamp::of(storagePath_);
        try {
            const std::optional<std::string> text = readWholeFile(storagePath_);
            state.exists = text.has_value();
            if (text) state.decks = DeckStoreRules::decodeDecksFile(*text);
        } catch (const std::system_error&) {
            state.exists = true;  // there, but unreadable
        }
        return state;
    };
    FileState state = co_await runBlocking(pool_, std::move(read));
    if (stamp && state.decks) {
        decksCache_ = std::make_unique<DecksCache>(DecksCache{*stamp, state});
    } else {
        decksCache_.reset();
    }
    co_return state;
}

// Runs with the gate held.
Task<void> DeckStore::prepareStorage(const WorkspaceClient& workspace) {
    struct Inspection {
        bool storageExists = true;
        std::optional<std::string> legacyText;
    };
    auto inspect = [this] {
        Inspection result;
        std::error_code error;
        const fs::file_status status = fs::symlink_status(storagePath_, error);
        // Anything at the path, or a path we cannot even examine, is left alone.
        result.storageExists = !(error == std::errc::no_such_file_or_directory ||
                                 (!error && status.type() == fs::file_type::not_found));
        if (!result.storageExists) {
            try {
                result.legacyText = readWholeFile(legacyPath_);
            } catch (const std::system_error&) {
                // An unreadable older file is left for another day.
            }
        }
        return result;
    };
    if (decksCache_ && FileStamp::of(storagePath_)) co_return;  // there, and read before
    const Inspection inspection = co_await runBlocking(pool_, std::move(inspect));
    if (inspection.storageExists) co_return;

    if (inspection.legacyText) {
        if (auto legacy = DeckStoreRules::decodeLegacyDeck(*inspection.legacyText)) {
            // (No braced lists here: GCC 12 mishandles std::initializer_list temporaries
            // inside coroutines.)
            std::vector<DeckTemplate> legacyDecks;
            legacyDecks.push_back(*legacy);
            const BundlePredicate isInstalled = co_await installedPredicate(workspace, legacyDecks);
            DeckTemplate migrated;
            try {
                migrated = DeckStoreRules::validatedDeck(DeckTemplate(
                    std::string(rawValue(DeckCategoryID::streaming)), legacy->name, legacy->tiles));
            } catch (const DeckStoreError&) {
                migrated =
                    DeckStoreRules::installedTemplate(DeckTemplates::streaming(), isInstalled);
            }
            std::vector<DeckTemplate> decks;
            decks.push_back(std::move(migrated));
            decks.push_back(
                DeckStoreRules::installedTemplate(DeckTemplates::gaming(), isInstalled));
            auto migrate = [this, &decks] {
                try {
                    writeDecks(decks);
                } catch (const std::exception& error) {
                    // Deleting the older file now would lose its deck: keep it for next time.
                    report("The decks could not be written to " + storagePath_.string() + " (" +
                           error.what() + "); " + legacyPath_.filename().string() +
                           " was kept for the next attempt.");
                    return;
                }
                std::error_code ignored;
                fs::remove(legacyPath_, ignored);
            };
            co_await runBlocking(pool_, std::move(migrate));
            co_return;
        }
    }

    const BundlePredicate isInstalled = co_await installedPredicate(workspace, noDecks);
    const std::vector<DeckTemplate> defaults = DeckStoreRules::defaultDecks(isInstalled);
    auto writeDefaults = [this, &defaults] {
        try {
            writeDecks(defaults);
        } catch (const std::exception&) {
            // Later operations fall back to the defaults each time.
        }
    };
    co_await runBlocking(pool_, std::move(writeDefaults));
}

// Runs with the gate held: saveDeck steps 2 to 5.
Task<void> DeckStore::replaceDeck(DeckCategoryID category, DeckTemplate replacement,
                                  const WorkspaceClient& workspace) {
    const FileState state = co_await readDecksFile();
    const std::vector<DeckTemplate> stored = state.decks.value_or(std::vector<DeckTemplate>{});
    const BundlePredicate isInstalled = co_await installedPredicate(workspace, stored);
    std::vector<DeckTemplate> decks = DeckStoreRules::normalizedDecks(
        state.decks ? stored : DeckStoreRules::defaultDecks(isInstalled), isInstalled);

    const std::string_view id = rawValue(category);
    auto found = std::find_if(decks.begin(), decks.end(),
                              [&](const DeckTemplate& deck) { return deck.id == id; });
    if (found == decks.end()) throw DeckStoreError::unknownCategory(std::string(id));
    *found = DeckStoreRules::validatedDeck(replacement);

    const bool keepUnreadable = state.exists && !state.decks;
    auto write = [this, &decks, keepUnreadable] {
        if (keepUnreadable) {
            try {
                const fs::path kept = keepCopyOfUnreadableFile(storagePath_);
                report("The decks in " + storagePath_.string() +
                       " could not be read; they were kept as " + kept.string() + ".");
            } catch (const std::system_error& error) {
                report("The decks in " + storagePath_.string() +
                       " could not be read or kept aside (" + error.what() + ").");
            }
        }
        writeDecks(decks);
    };
    co_await runBlocking(pool_, std::move(write));
}

Task<DeckTemplate> DeckStore::loadDeck(DeckCategoryID category, WorkspaceClient workspace) {
    auto operation = [](DeckStore* self, DeckCategoryID category,
                        WorkspaceClient workspace) -> Task<DeckTemplate> {
        auto pass = co_await self->gate_->enter();
        co_await self->prepareStorage(workspace);
        const FileState state = co_await self->readDecksFile();
        const std::string_view id = rawValue(category);
        if (state.decks) {
            for (const DeckTemplate& deck : *state.decks) {
                if (deck.id == id) co_return deck;
            }
        }
        const BundlePredicate isInstalled = co_await installedPredicate(workspace, noDecks);
        for (DeckTemplate& deck : DeckStoreRules::defaultDecks(isInstalled)) {
            if (deck.id == id) co_return std::move(deck);
        }
        co_return DeckStoreRules::installedTemplate(DeckTemplates::streaming(), isInstalled);
    };
    auto task = operation(this, category, std::move(workspace));
    co_return co_await onStrand(strand_, std::move(task));
}

Task<void> DeckStore::saveDeck(DeckCategoryID category, DeckTemplate deck,
                               WorkspaceClient workspace) {
    auto operation = [](DeckStore* self, DeckCategoryID category, DeckTemplate deck,
                        WorkspaceClient workspace) -> Task<void> {
        auto pass = co_await self->gate_->enter();
        co_await self->prepareStorage(workspace);
        // The record's constructor orders the tiles by slot.
        DeckTemplate replacement(std::string(rawValue(category)), deck.name, deck.tiles);
        co_await self->replaceDeck(category, std::move(replacement), workspace);
    };
    auto task = operation(this, category, std::move(deck), std::move(workspace));
    co_await onStrand(strand_, std::move(task));
}

Task<DeckTemplate> DeckStore::resetDeck(DeckCategoryID category, WorkspaceClient workspace) {
    auto operation = [](DeckStore* self, DeckCategoryID category,
                        WorkspaceClient workspace) -> Task<DeckTemplate> {
        auto pass = co_await self->gate_->enter();
        const BundlePredicate isInstalled = co_await installedPredicate(workspace, noDecks);
        DeckTemplate fresh = DeckStoreRules::validatedDeck(
            DeckStoreRules::installedTemplate(DeckTemplates::templateFor(category), isInstalled));
        co_await self->prepareStorage(workspace);
        DeckTemplate replacement(std::string(rawValue(category)), fresh.name, fresh.tiles);
        co_await self->replaceDeck(category, std::move(replacement), workspace);
        co_return fresh;
    };
    auto task = operation(this, category, std::move(workspace));
    co_return co_await onStrand(strand_, std::move(task));
}

// Runs with the gate held: the decks that snapshots and the running list are built from.
Task<std::vector<DeckTemplate>> DeckStore::decksForSnapshots(const WorkspaceClient& workspace) {
    co_await prepareStorage(workspace);
    const FileState state = co_await readDecksFile();
    const std::vector<DeckTemplate> stored = state.decks.value_or(std::vector<DeckTemplate>{});
    const BundlePredicate isInstalled = co_await installedPredicate(workspace, stored);
    if (stored.size() >= allDeckCategories.size()) {
        co_return DeckStoreRules::normalizedDecks(stored, isInstalled);
    }
    co_return DeckStoreRules::defaultDecks(isInstalled);
}

std::shared_ptr<const DeckStore::RunningView> DeckStore::reusableView(
    const WorkspaceClient& workspace) const {
    std::shared_ptr<const RunningView> view;
    {
        std::lock_guard lock(viewMutex_);
        view = view_;
    }
    if (!view || !workspace.answersVersion) return nullptr;
    // Asked every time: asking keeps the workspace's answers current.
    const std::optional<std::uint64_t> version = workspace.answersVersion();
    if (!version || version != view->version) return nullptr;
    const std::int64_t now = steadyNanoseconds();
    if (now - view->stampCheckedAt > stampTrustedForNs) {
        if (FileStamp::of(storagePath_) != view->stamp) return nullptr;
        view->stampCheckedAt = now;
    }
    return view;
}

Task<std::shared_ptr<const DeckStore::RunningView>> DeckStore::runningView(
    WorkspaceClient workspace) {
    if (auto view = reusableView(workspace)) co_return view;
    auto operation = [](DeckStore* self,
                        WorkspaceClient workspace) -> Task<std::shared_ptr<const RunningView>> {
        co_return co_await self->buildView(std::move(workspace));
    };
    auto task = operation(this, std::move(workspace));
    co_return co_await onStrand(strand_, std::move(task));
}

// Runs on the strand.
Task<std::shared_ptr<const DeckStore::RunningView>> DeckStore::buildView(
    WorkspaceClient workspace) {
    if (auto view = reusableView(workspace)) co_return view;  // built meanwhile
    auto view = std::make_shared<RunningView>();
    // Read before the answers it stands for: a change meanwhile only causes one more build.
    if (workspace.answersVersion) view->version = workspace.answersVersion();
    std::vector<DeckTemplate> decks;
    {
        auto pass = co_await gate_->enter();
        decks = co_await decksForSnapshots(workspace);
        if (decksCache_) view->stamp = decksCache_->stamp;
    }
    const BundlePredicate isInstalled = co_await installedPredicate(workspace, decks);
    const BundlePredicate isRunning = co_await runningPredicate(workspace, decks, isInstalled);
    for (const DeckTemplate& deck : decks) {
        view->snapshots.push_back(DeckTemplateFilter::makeSnapshot(deck, isInstalled, isRunning));
        for (std::string& bundleId : installedAppBundleIds(deck, isInstalled)) {
            if (isRunning(bundleId)) view->runningBundleIds.push_back(std::move(bundleId));
        }
    }
    if (view->stamp && view->version) {
        std::lock_guard lock(viewMutex_);
        view_ = view;
    }
    co_return view;
}

Task<std::vector<DeckSnapshotPayload>> DeckStore::deckSnapshots(WorkspaceClient workspace,
                                                                DeckIconRevisions icons) {
    const std::shared_ptr<const RunningView> view = co_await runningView(workspace);
    std::vector<DeckSnapshotPayload> snapshots = view->snapshots;

    std::map<std::string, std::string> appRevisions;
    if (icons.applicationRevisions) {
        std::vector<std::string> bundleIds;
        for (const DeckSnapshotPayload& snapshot : snapshots) {
            for (const DeckTile& tile : snapshot.tiles) {
                if (tile.kind == DeckTileKind::app) bundleIds.push_back(tile.bundleId);
            }
        }
        appRevisions = co_await icons.applicationRevisions(std::move(bundleIds));
    }
    for (DeckSnapshotPayload& snapshot : snapshots) {
        const bool hasShortcut =
            std::any_of(snapshot.tiles.begin(), snapshot.tiles.end(),
                        [](const DeckTile& tile) { return tile.kind == DeckTileKind::shortcut; });
        if (hasShortcut && icons.preloadShortcutIcons) co_await icons.preloadShortcutIcons();
        for (const DeckTile& tile : snapshot.tiles) {
            if (tile.kind == DeckTileKind::app) {
                auto found = appRevisions.find(tile.bundleId);
                if (found != appRevisions.end())
                    snapshot.iconRevisions[tile.bundleId] = found->second;
            } else if (tile.kind == DeckTileKind::shortcut && tile.shortcutIdentifier &&
                       icons.shortcutRevision) {
                auto revision = co_await icons.shortcutRevision(*tile.shortcutIdentifier);
                if (revision)
                    snapshot.iconRevisions[*tile.shortcutIdentifier] = std::move(*revision);
            }
        }
    }
    co_return snapshots;
}

Task<std::vector<DeckSnapshotPayload>> DeckStore::deckSnapshots(WorkspaceClient workspace,
                                                                AppIconProvider& applications,
                                                                ShortcutIconProvider& shortcuts) {
    DeckIconRevisions icons = DeckIconRevisions::from(applications, shortcuts, workspace);
    co_return co_await deckSnapshots(std::move(workspace), std::move(icons));
}

Task<std::vector<std::string>> DeckStore::runningDeckBundleIds(WorkspaceClient workspace) {
    const std::shared_ptr<const RunningView> view = co_await runningView(std::move(workspace));
    co_return view->runningBundleIds;
}

}  // namespace velopad
