#include "app/decks/deck_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "app/decks/deck_store_rules.h"
#include "app/storage/data_paths.h"
#include "protocol/deck_tile_factories.h"
#include "tests/support/io_thread.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

using IdSet = std::shared_ptr<const std::set<std::string>>;

Task<std::optional<fs::path>> installedAt(IdSet installed, std::string bundleId) {
    if (!installed->contains(bundleId)) co_return std::nullopt;
    co_return fs::path("/usr/share/applications") / (bundleId + ".desktop");
}

Task<bool> activated() { co_return true; }

Task<std::optional<RunningApplicationClient>> runningInstance(IdSet running, std::string bundleId) {
    if (!running->contains(bundleId)) co_return std::nullopt;
    co_return RunningApplicationClient{[] { return activated(); }};
}

WorkspaceClient workspaceWith(std::set<std::string> installed, std::set<std::string> running = {}) {
    auto installedIds = std::make_shared<const std::set<std::string>>(std::move(installed));
    auto runningIds = std::make_shared<const std::set<std::string>>(std::move(running));
    WorkspaceClient workspace;
    workspace.urlForApplication = [installedIds](std::string id) {
        return installedAt(installedIds, std::move(id));
    };
    workspace.runningApplication = [runningIds](std::string id) {
        return runningInstance(runningIds, std::move(id));
    };
    return workspace;
}

// Safari under its own id; Spotify and Terminal only under their Linux alternates.
const std::set<std::string> installedApps = {"com.apple.Safari", "spotify", "org.gnome.Terminal"};

const std::string shortcutId = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";

std::vector<std::string> bundleIdsOf(const DeckTemplate& deck) {
    std::vector<std::string> ids;
    for (const DeckTile& tile : deck.tiles) ids.push_back(tile.bundleId);
    return ids;
}

// "<slot> <label> <bundleId> <iconName>" for each tile.
std::vector<std::string> tilesOf(const DeckTemplate& deck) {
    std::vector<std::string> tiles;
    for (const DeckTile& tile : deck.tiles) {
        tiles.push_back(std::to_string(tile.slot) + " " + tile.label + " " + tile.bundleId + " " +
                        tile.iconName.value_or("-"));
    }
    return tiles;
}

std::vector<std::int64_t> slotsOf(const std::vector<DeckTile>& tiles) {
    std::vector<std::int64_t> slots;
    for (const DeckTile& tile : tiles) slots.push_back(tile.slot);
    return slots;
}

class DeckStoreTest : public testing::SandboxTest {
  protected:
    fs::path dir() const { return sandbox.dataHome() / "HarborlinkAgent"; }
    fs::path decksFile() const { return dir() / "decks.json"; }
    fs::path legacyFile() const { return dir() / "deck.json"; }

    // Created on first use, so tests that fork do so before any thread exists.
    test::IoThread& io() {
        if (!io_) io_ = std::make_unique<test::IoThread>();
        return *io_;
    }
    DeckStore& store() {
        if (!store_) {
            store_ = std::make_unique<DeckStore>(
                io().executor(), io().pool(), std::nullopt,
                [this](std::string_view line) { reports.emplace_back(line); });
        }
        return *store_;
    }

    std::vector<DeckTemplate> storedDecks() {
        auto decks = DeckStoreRules::decodeDecksFile(testing::readTextFile(decksFile()));
        EXPECT_TRUE(decks.has_value());
        return decks.value_or(std::vector<DeckTemplate>{});
    }

    void writeLegacyDeck(const std::string& name, std::vector<DeckTile> tiles) {
        const std::string text =
            DeckStoreRules::encodeDecksFile(1, {DeckTemplate("whatever", name, std::move(tiles))});
        // Only the deck object itself, as the older agent wrote it.
        const auto start = text.find("[{") + 1;
        testing::writeTextFile(legacyFile(), text.substr(start, text.rfind("}]") - start + 1));
    }

    // Runs `body` on a fresh store in a child process that may not write to the data directory
    // (the store and the io thread end first: no thread may exist at the fork).
    int withoutWriteAccess(const std::function<int(asio::io_context&, DeckStore&)>& body) {
        store_.reset();
        io_.reset();
        testing::makeReadableByEveryone(sandbox.root());
        fs::permissions(dir(), fs::perms::owner_write, fs::perm_options::remove);
        return testing::runSubjectToFilePermissions([&] {
            asio::io_context context;
            asio::thread_pool pool(1);
            DeckStore store(context.get_executor(), pool, std::nullopt, [](std::string_view) {});
            return body(context, store);
        });
    }

    WorkspaceClient workspace = workspaceWith(installedApps);
    std::vector<std::string> reports;

  private:
    std::unique_ptr<test::IoThread> io_;
    std::unique_ptr<DeckStore> store_;
};

TEST_F(DeckStoreTest, LivesInTheAgentDataDirectory) {
    EXPECT_EQ(DeckStore::defaultStoragePath(), decksFile());
    EXPECT_EQ(store().legacyPath(), legacyFile());

    sandbox.setEnv("XDG_DATA_HOME", "relative/path");  // not absolute: ignored
    EXPECT_EQ(agentDataDirectory(), sandbox.home() / ".local" / "share" / "HarborlinkAgent");
    sandbox.setEnv("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(agentDataDirectory(), sandbox.home() / ".local" / "share" / "HarborlinkAgent");
}

TEST_F(DeckStoreTest, FirstUseWritesTheTemplatesFittedToTheInstalledApplications) {
    const DeckTemplate streaming = io().run(store().loadDeck(DeckCategoryID::streaming, workspace));

    EXPECT_THAT(bundleIdsOf(streaming),
                ElementsAre("com.apple.Safari", "spotify", "org.gnome.Terminal"));
    EXPECT_THAT(slotsOf(streaming.tiles), ElementsAre(1, 2, 3));
    EXPECT_EQ(streaming.tiles[1].id, "spotify");

    const std::vector<DeckTemplate> decks = storedDecks();
    ASSERT_EQ(decks.size(), 2u);
    EXPECT_EQ(decks[0], streaming);
    EXPECT_EQ(decks[1].id, "gaming");
    EXPECT_EQ(decks[1].name, "Gaming");
    EXPECT_THAT(bundleIdsOf(decks[1]),
                ElementsAre("com.apple.Safari", "spotify", "org.gnome.Terminal"));
    EXPECT_THAT(testing::readTextFile(decksFile()),
                ::testing::StartsWith("{\"decks\":[{\"id\":\"streaming\""));
}

TEST_F(DeckStoreTest, MigratesTheOlderSingleDeckFile) {
    writeLegacyDeck("My Keys", {appTile(5, "Terminal", "org.gnome.Terminal"),
                                actionTile(BuiltinAction::volumeMute, 2)});

    // Steam is on the gaming template only.
    const WorkspaceClient withSteam =
        workspaceWith({"steam", "com.apple.Safari", "org.gnome.Terminal"});
    const DeckTemplate streaming = io().run(store().loadDeck(DeckCategoryID::streaming, withSteam));

    EXPECT_EQ(streaming.name, "My Keys");
    ASSERT_EQ(streaming.tiles.size(), 2u);
    EXPECT_EQ(streaming.tiles[0].id, "system.volume.mute");  // ordered by slot, renumbered
    EXPECT_THAT(slotsOf(streaming.tiles), ElementsAre(1, 2));
    const DeckTemplate gaming = storedDecks()[1];
    EXPECT_EQ(gaming.id, "gaming");
    EXPECT_EQ(gaming.name, "Gaming");
    EXPECT_THAT(tilesOf(gaming),
                ElementsAre("1 Steam steam steam", "2 Safari com.apple.Safari safari",
                            "3 Terminal org.gnome.Terminal terminal"));
    EXPECT_FALSE(fs::exists(legacyFile()));
}

TEST_F(DeckStoreTest, AnInvalidOlderDeckGivesWayToTheTemplate) {
    writeLegacyDeck("Twice", {appTile(1, "Safari", "com.apple.Safari"),
                              appTile(2, "Safari", "com.apple.Safari")});

    const DeckTemplate streaming = io().run(store().loadDeck(DeckCategoryID::streaming, workspace));

    EXPECT_EQ(streaming.name, "Streaming");
    EXPECT_EQ(streaming.tiles.size(), 3u);
    EXPECT_FALSE(fs::exists(legacyFile()));
}

TEST_F(DeckStoreTest, AnUnreadableOlderFileIsLeftAlone) {
    testing::writeTextFile(legacyFile(), "{not json");
    (void)io().run(store().loadDeck(DeckCategoryID::gaming, workspace));
    EXPECT_EQ(storedDecks().size(), 2u);
    EXPECT_EQ(testing::readTextFile(legacyFile()), "{not json");
}

TEST_F(DeckStoreTest, AFailedMigrationKeepsTheOlderFileForTheNextAttempt) {
    writeLegacyDeck("Keep Me", {appTile(1, "Safari", "com.apple.Safari")});

    // Without write access to the directory the first write fails.
    const int status = withoutWriteAccess([&](asio::io_context& context, DeckStore& childStore) {
        std::string name;
        asio::co_spawn(context, childStore.loadDeck(DeckCategoryID::streaming, workspace),
                       [&](std::exception_ptr, DeckTemplate deck) { name = deck.name; });
        context.run();
        return name == "Streaming" ? 0 : 1;  // the defaults stand in meanwhile
    });
    ASSERT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(decksFile()));
    ASSERT_TRUE(fs::exists(legacyFile()));

    fs::permissions(dir(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(io().run(store().loadDeck(DeckCategoryID::streaming, workspace)).name, "Keep Me");
    EXPECT_FALSE(fs::exists(legacyFile()));
}

TEST_F(DeckStoreTest, SaveValidatesOrdersAndRenumbers) {
    const DeckTemplate edited(
        "", "Live",
        {appTile(9, "Safari", "com.apple.Safari"), appTile(3, "Spotify", "spotify"),
         shortcutTile(7, "Scene", shortcutId, "bolt")});
    io().run(store().saveDeck(DeckCategoryID::streaming, edited, workspace));

    const DeckTemplate stored = storedDecks()[0];
    EXPECT_EQ(stored.id, "streaming");
    EXPECT_EQ(stored.name, "Live");
    EXPECT_THAT(bundleIdsOf(stored), ElementsAre("spotify", "", "com.apple.Safari"));
    EXPECT_THAT(slotsOf(stored.tiles), ElementsAre(1, 2, 3));
    EXPECT_EQ(stored.tiles[1].id, shortcutId);
    EXPECT_EQ(testing::permissionBits(decksFile()), 0600u);
}

TEST_F(DeckStoreTest, ARefusedSaveWritesNothing) {
    (void)io().run(store().loadDeck(DeckCategoryID::streaming, workspace));
    const std::string before = testing::readTextFile(decksFile());
    DeckTemplate edited("", "Too many", {});
    for (int i = 1; i <= 25; ++i)
        edited.tiles.push_back(appTile(i, "A", "org.example.a" + std::to_string(i)));

    try {
        io().run(store().saveDeck(DeckCategoryID::gaming, edited, workspace));
        FAIL() << "expected tooManyTiles";
    } catch (const DeckStoreError& error) {
        EXPECT_STREQ(error.what(), "A deck can have at most 24 tiles.");
    }
    EXPECT_EQ(testing::readTextFile(decksFile()), before);

    edited.tiles.pop_back();
    io().run(store().saveDeck(DeckCategoryID::gaming, edited, workspace));
    EXPECT_EQ(storedDecks()[1].tiles.size(), 24u);
}

TEST_F(DeckStoreTest, SavingFillsMissingCategoriesAndDropsForeignDecks) {
    testing::writeTextFile(decksFile(),
                           "{\"decks\":[{\"id\":\"other\",\"name\":\"O\",\"tiles\":[]},{\"id\":"
                           "\"gaming\",\"name\":\"G\",\"tiles\":[{\"bundleId\":\"com.apple."
                           "Safari\",\"label\":\"Safari\",\"slot\":4}]}],\"version\":1}");

    // Loading gives a stored deck exactly as stored, gap included.
    const DeckTemplate gaming = io().run(store().loadDeck(DeckCategoryID::gaming, workspace));
    EXPECT_THAT(slotsOf(gaming.tiles), ElementsAre(4));
    EXPECT_EQ(gaming.tiles[0].id, "com.apple.Safari");

    const DeckTemplate edited("", "Mine", {actionTile(BuiltinAction::volumeUp, 1)});
    io().run(store().saveDeck(DeckCategoryID::streaming, edited, workspace));

    const std::vector<DeckTemplate> decks = storedDecks();
    ASSERT_EQ(decks.size(), 2u);
    EXPECT_EQ(decks[0].name, "Mine");
    EXPECT_EQ(decks[1].name, "G");
    EXPECT_THAT(slotsOf(decks[1].tiles), ElementsAre(1));  // written decks are renumbered
}

TEST_F(DeckStoreTest, AnUnreadableDecksFileIsKeptAsideBeforeASaveReplacesIt) {
    testing::writeTextFile(decksFile(), "{\"decks\": [oops");

    EXPECT_EQ(io().run(store().loadDeck(DeckCategoryID::streaming, workspace)).name, "Streaming");
    const auto snapshots = io().run(store().deckSnapshots(workspace, DeckIconRevisions{}));
    EXPECT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(testing::readTextFile(decksFile()), "{\"decks\": [oops");  // reading never rewrites

    const DeckTemplate edited("", "Fresh", {});
    io().run(store().saveDeck(DeckCategoryID::gaming, edited, workspace));

    EXPECT_EQ(testing::readTextFile(fs::path(decksFile()) += ".corrupt"), "{\"decks\": [oops");
    EXPECT_EQ(storedDecks()[0].name, "Streaming");
    EXPECT_EQ(storedDecks()[1].name, "Fresh");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], HasSubstr("decks.json.corrupt"));
}

TEST_F(DeckStoreTest, AFailedWriteReportsTheSystemErrorAndKeepsThePreviousFile) {
    (void)io().run(store().loadDeck(DeckCategoryID::streaming, workspace));
    const std::string before = testing::readTextFile(decksFile());
    const int status = withoutWriteAccess([&](asio::io_context& context, DeckStore& childStore) {
        int result = 1;
        asio::co_spawn(context,
                       childStore.saveDeck(DeckCategoryID::streaming,
                                           DeckTemplate("streaming", "Blocked", {}), workspace),
                       [&](std::exception_ptr error) {
                           try {
                               if (error) std::rethrow_exception(error);
                           } catch (const std::system_error& failure) {
                               result = failure.code() == std::errc::permission_denied ? 0 : 2;
                           } catch (...) {
                               result = 3;
                           }
                       });
        context.run();
        return result;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(testing::readTextFile(decksFile()), before);
}

TEST_F(DeckStoreTest, ResetPutsTheInstalledTemplateBack) {
    const DeckTemplate edited("", "Temporary", {});
    io().run(store().saveDeck(DeckCategoryID::gaming, edited, workspace));

    const DeckTemplate fresh = io().run(store().resetDeck(DeckCategoryID::gaming, workspace));

    EXPECT_EQ(fresh.name, "Gaming");
    EXPECT_THAT(bundleIdsOf(fresh),
                ElementsAre("com.apple.Safari", "spotify", "org.gnome.Terminal"));
    EXPECT_EQ(storedDecks()[1], fresh);
}

struct IconCalls {
    int preloads = 0;
    std::vector<std::string> applications;
};

Task<std::optional<std::string>> revisionFor(std::string prefix, std::string id) {
    if (id == "org.gnome.Terminal") co_return std::nullopt;  // no icon
    co_return prefix + id;
}
Task<void> countPreload(std::shared_ptr<IconCalls> calls) {
    ++calls->preloads;
    co_return;
}

TEST_F(DeckStoreTest, SnapshotsCarryRunningApplicationsAndIconRevisions) {
    const DeckTemplate edited(
        "", "Live",
        {appTile(1, "Safari", "com.apple.Safari"), actionTile(BuiltinAction::volumeMute, 2),
         shortcutTile(3, "Scene", shortcutId, "bolt"),
         appTile(4, "Terminal", "com.apple.Terminal", "terminal",
                 std::vector<std::string>{"org.gnome.Terminal"}),
         appTile(5, "Gone", "org.example.gone")});
    io().run(store().saveDeck(DeckCategoryID::streaming, edited, workspace));

    auto calls = std::make_shared<IconCalls>();
    DeckIconRevisions icons{
        .applicationRevision =
            [calls](std::string id) {
                calls->applications.push_back(id);
                return revisionFor("app-", std::move(id));
            },
        .shortcutRevision = [](std::string id) { return revisionFor("shortcut-", std::move(id)); },
        .preloadShortcutIcons = [calls] { return countPreload(calls); },
    };
    const WorkspaceClient running =
        workspaceWith(installedApps, {"com.apple.Safari", "org.gnome.Terminal"});

    const auto snapshots = io().run(store().deckSnapshots(running, icons));

    ASSERT_EQ(snapshots.size(), 2u);
    const DeckSnapshotPayload& live = snapshots[0];
    EXPECT_EQ(live.deckId, "streaming");
    EXPECT_EQ(live.name, "Live");
    EXPECT_EQ(live.tiles.size(), 4u);  // the uninstalled application is left out
    EXPECT_EQ(live.tiles[3].bundleId, "org.gnome.Terminal");
    EXPECT_THAT(live.runningBundleIds, ElementsAre("com.apple.Safari", "org.gnome.Terminal"));
    EXPECT_EQ(live.iconRevisions,
              (std::map<std::string, std::string>{{"com.apple.Safari", "app-com.apple.Safari"},
                                                  {shortcutId, "shortcut-" + shortcutId}}));
    EXPECT_EQ(calls->preloads, 1);  // only the deck with a Shortcut key preloads
    EXPECT_THAT(calls->applications,
                ElementsAre("com.apple.Safari", "org.gnome.Terminal", "com.apple.Safari", "spotify",
                            "org.gnome.Terminal"));
    EXPECT_EQ(snapshots[1].deckId, "gaming");
    EXPECT_THAT(snapshots[1].runningBundleIds,
                ElementsAre("com.apple.Safari", "org.gnome.Terminal"));

    EXPECT_THAT(io().run(store().runningDeckBundleIds(running)),
                ElementsAre("com.apple.Safari", "org.gnome.Terminal", "com.apple.Safari",
                            "org.gnome.Terminal"));
}

TEST_F(DeckStoreTest, RunningListsAreReusedUntilTheWorkspaceAnswersOrTheDecksFileChange) {
    auto running = std::make_shared<std::set<std::string>>();
    auto version = std::make_shared<std::optional<std::uint64_t>>(1);
    WorkspaceClient live = workspaceWith(installedApps);
    live.runningApplication = [running](std::string id) {
        return runningInstance(running, std::move(id));
    };
    live.answersVersion = [version] { return *version; };
    const auto none = io().run(store().runningDeckBundleIds(live));
    EXPECT_TRUE(none.empty());

    running->insert("org.gnome.Terminal");
    EXPECT_EQ(io().run(store().runningDeckBundleIds(live)), none);  // the same answers
    *version = 2;
    EXPECT_THAT(io().run(store().runningDeckBundleIds(live)),
                ElementsAre("org.gnome.Terminal", "org.gnome.Terminal"));

    const DeckTemplate solo("", "Solo", {appTile(1, "Terminal", "org.gnome.Terminal")});
    running->insert("com.apple.Safari");
    io().run(store().saveDeck(DeckCategoryID::gaming, solo, live));  // a new decks file
    EXPECT_THAT(io().run(store().runningDeckBundleIds(live)),
                ElementsAre("com.apple.Safari", "org.gnome.Terminal", "org.gnome.Terminal"));
    const auto snapshots = io().run(store().deckSnapshots(live, DeckIconRevisions{}));
    EXPECT_EQ(snapshots[1].name, "Solo");

    *version = std::nullopt;  // not known: asked afresh every time
    running->clear();
    EXPECT_TRUE(io().run(store().runningDeckBundleIds(live)).empty());
}

TEST_F(DeckStoreTest, AFileWithTooFewDecksIsAnsweredFromTheDefaults) {
    testing::writeTextFile(decksFile(),
                           "{\"decks\":[{\"id\":\"gaming\",\"name\":\"G\",\"tiles\":[]}],"
                           "\"version\":1}");
    const auto snapshots = io().run(store().deckSnapshots(workspace, DeckIconRevisions{}));
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(snapshots[1].name, "Gaming");
    EXPECT_TRUE(snapshots[0].runningBundleIds.empty());
    EXPECT_TRUE(snapshots[0].iconRevisions.empty());
}

}  // namespace
}  // namespace velopad
