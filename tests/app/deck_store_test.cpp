#include "app/decks/deck_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "app/decks/deck_store_error.h"
#include "app/decks/deck_store_rules.h"
#include "app/storage/data_paths.h"
#include "protocol/deck_tile_factories.h"
#include "tests/support/io_thread.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
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

// "<slot> <label> <bundleId> <iconName>" for each tile.
std::vector<std::string> tilesOf(const DeckTemplate& deck) {
    std::vector<std::string> tiles;
    for (const DeckTile& tile : deck.tiles) {
        tiles.push_back(std::to_string(tile.slot) + " " + tile.label + " " + tile.bundleId + " " +
                        tile.iconName.value_or("-"));
    }
    return tiles;
}

DeckTemplate deckOf(std::vector<DeckTile> tiles) { return {"streaming", "Mine", std::move(tiles)}; }

std::vector<DeckTile> appKeys(int count) {
    std::vector<DeckTile> tiles;
    for (int i = 1; i <= count; ++i) tiles.push_back(appTile(i, "A", "app." + std::to_string(i)));
    return tiles;
}

TEST(DeckStoreRulesTest, RefusesDuplicatesWithinOneKindIncompleteKeysAndATwentyFifthKey) {
    struct Case {
        const char* name;
        std::vector<DeckTile> tiles;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"two Safari keys",
         {appTile(1, "Safari", "com.apple.Safari"), appTile(2, "Web", "com.apple.Safari")},
         "com.apple.Safari is already on the deck."},
        {"two mute keys",
         {actionTile(BuiltinAction::volumeMute, 1), actionTile(BuiltinAction::volumeMute, 2)},
         "system.volume.mute is already on the deck."},
        {"one Shortcut twice",
         {shortcutTile(1, "A", shortcutId, "bolt"), shortcutTile(2, "B", shortcutId, "star")},
         "That Shortcut is already on the deck."},
        {"an action key without its action",
         {DeckTile{"x", 1, DeckTileKind::action, "X", "", std::nullopt}},
         "Could not read the saved deck."},
        {"a Shortcut key without its identifier",
         {DeckTile{"x", 1, DeckTileKind::shortcut, "X", "", std::nullopt, std::nullopt}},
         "Could not read the saved deck."},
        {"25 keys", appKeys(25), "A deck can have at most 24 tiles."},
        {"24 keys", appKeys(24), "accepted"},
        {"one text as a bundle identifier and an action id",
         {appTile(1, "Odd", "system.volume.up"), actionTile(BuiltinAction::volumeUp, 2)},
         "accepted"},
    };
    for (const Case& c : cases) {
        std::string outcome = "accepted";
        try {
            (void)DeckStoreRules::validatedDeck(deckOf(c.tiles));
        } catch (const DeckStoreError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.text) << c.name;
    }
    EXPECT_STREQ(DeckStoreError::unknownCategory("other").what(), "Unknown deck category: other.");
}

TEST(DeckStoreRulesTest, WritesTheDecksFileCompactWithSortedKeysAndReadsOnlyCompleteOnes) {
    DeckTemplate deck = deckOf({appTile(1, "A/B", "com.apple.Safari", "safari"),
                                actionTile(BuiltinAction::volumeDown, 2)});
    EXPECT_EQ(DeckStoreRules::encodeDecksFile(1, {deck}),
              "{\"decks\":[{\"id\":\"streaming\",\"name\":\"Mine\",\"tiles\":[{\"bundleId\":"
              "\"com.apple.Safari\",\"iconName\":\"safari\",\"id\":\"com.apple.Safari\",\"kind\":"
              "\"app\",\"label\":\"A\\/B\",\"slot\":1},{\"actionId\":\"system.volume.down\","
              "\"bundleId\":\"\",\"iconSymbol\":\"speaker.wave.1.fill\",\"id\":"
              "\"system.volume.down\",\"kind\":\"action\",\"label\":\"Vol \xE2\x88\x92\","
              "\"slot\":2}]}],\"version\":1}");
    EXPECT_EQ(DeckStoreRules::decodeDecksFile(DeckStoreRules::encodeDecksFile(1, {deck})),
              std::vector<DeckTemplate>{deck});

    for (const std::string text :
         {"", "[]", "{\"decks\":[]}", "{\"decks\":{},\"version\":1}",
          "{\"decks\":[{\"id\":\"streaming\",\"name\":\"S\"}],\"version\":1}",
          "{\"decks\":[],\"version\":\"1\"}"}) {
        EXPECT_EQ(DeckStoreRules::decodeDecksFile(text), std::nullopt) << text;
    }
    // The version is required but not compared.
    EXPECT_EQ(DeckStoreRules::decodeDecksFile("{\"decks\":[],\"version\":7}"),
              std::vector<DeckTemplate>{});
}

TEST(DeckStoreRulesTest, KeepsOneDeckPerCategoryInCategoryOrder) {
    const DeckTemplate gaming("gaming", "G", {appTile(4, "Safari", "com.apple.Safari")});
    const auto isInstalled = DeckTemplateFilter::memberOf({"com.apple.Safari"});

    const std::vector<DeckTemplate> decks =
        DeckStoreRules::normalizedDecks({DeckTemplate("other", "O", {}), gaming}, isInstalled);

    ASSERT_EQ(decks.size(), 2u);
    EXPECT_EQ(decks[0].id, "streaming");
    EXPECT_EQ(decks[0].name, "Streaming");
    ASSERT_EQ(decks[0].tiles.size(), 1u);
    EXPECT_EQ(decks[0].tiles[0].slot, 1);  // Safari, fourth in the template, renumbered
    EXPECT_EQ(decks[1], gaming);           // as stored, gap included
}

class DeckStoreTest : public testing::SandboxTest {
  protected:
    fs::path dir() const { return sandbox.dataHome() / "HarborlinkAgent"; }
    fs::path decksFile() const { return dir() / "decks.json"; }
    fs::path legacyFile() const { return dir() / "deck.json"; }

    // Created on first use, so a test that forks does so before any thread exists.
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
    DeckTemplate load(DeckCategoryID category) {
        return io().run(store().loadDeck(category, workspace));
    }

    std::vector<DeckTemplate> storedDecks() {
        auto decks = DeckStoreRules::decodeDecksFile(testing::readTextFile(decksFile()));
        EXPECT_TRUE(decks.has_value());
        return decks.value_or(std::vector<DeckTemplate>{});
    }

    // Only the deck object itself, as the older agent wrote it.
    void writeLegacyDeck(const std::string& name, std::vector<DeckTile> tiles) {
        const std::string text =
            DeckStoreRules::encodeDecksFile(1, {DeckTemplate("whatever", name, std::move(tiles))});
        const auto start = text.find("[{") + 1;
        testing::writeTextFile(legacyFile(), text.substr(start, text.rfind("}]") - start + 1));
    }

    WorkspaceClient workspace = workspaceWith(installedApps);
    std::vector<std::string> reports;

  private:
    std::unique_ptr<test::IoThread> io_;
    std::unique_ptr<DeckStore> store_;
};

TEST_F(DeckStoreTest, FirstUseWritesTheTemplatesFittedToTheInstalledApplications) {
    sandbox.setEnv("XDG_DATA_HOME", "relative/path");  // not absolute: ignored
    EXPECT_EQ(agentDataDirectory(), sandbox.home() / ".local" / "share" / "HarborlinkAgent");
    sandbox.setEnv("XDG_DATA_HOME", sandbox.dataHome().string());
    EXPECT_EQ(DeckStore::defaultStoragePath(), decksFile());

    const DeckTemplate streaming = load(DeckCategoryID::streaming);

    EXPECT_THAT(tilesOf(streaming),
                ElementsAre("1 Safari com.apple.Safari safari", "2 Spotify spotify spotify",
                            "3 Terminal org.gnome.Terminal terminal"));
    EXPECT_EQ(streaming.tiles[1].id, "spotify");
    const std::vector<DeckTemplate> decks = storedDecks();
    ASSERT_EQ(decks.size(), 2u);
    EXPECT_EQ(decks[0], streaming);
    EXPECT_EQ(decks[1].id, "gaming");
    EXPECT_EQ(decks[1].name, "Gaming");
    EXPECT_EQ(testing::permissionBits(decksFile()), 0600u);
}

TEST_F(DeckStoreTest, MigratesTheOlderSingleDeckFile) {
    writeLegacyDeck("My Keys", {appTile(5, "Terminal", "org.gnome.Terminal"),
                                actionTile(BuiltinAction::volumeMute, 2)});
    // Steam is on the gaming template only.
    workspace = workspaceWith({"steam", "com.apple.Safari", "org.gnome.Terminal"});

    const DeckTemplate streaming = load(DeckCategoryID::streaming);

    EXPECT_EQ(streaming.name, "My Keys");
    EXPECT_THAT(tilesOf(streaming), ElementsAre("1 Mute  -", "2 Terminal org.gnome.Terminal -"));
    const DeckTemplate gaming = storedDecks()[1];
    EXPECT_EQ(gaming.name, "Gaming");
    EXPECT_THAT(tilesOf(gaming),
                ElementsAre("1 Steam steam steam", "2 Safari com.apple.Safari safari",
                            "3 Terminal org.gnome.Terminal terminal"));
    EXPECT_FALSE(fs::exists(legacyFile()));
}

TEST_F(DeckStoreTest, AnInvalidOlderDeckGivesWayToTheTemplateAnUnreadableOneIsLeftAlone) {
    writeLegacyDeck("Twice", {appTile(1, "Safari", "com.apple.Safari"),
                              appTile(2, "Safari", "com.apple.Safari")});
    EXPECT_EQ(load(DeckCategoryID::streaming).name, "Streaming");
    EXPECT_FALSE(fs::exists(legacyFile()));

    fs::remove(decksFile());
    testing::writeTextFile(legacyFile(), "{not json");
    EXPECT_EQ(load(DeckCategoryID::streaming).name, "Streaming");
    EXPECT_EQ(testing::readTextFile(legacyFile()), "{not json");
}

TEST_F(DeckStoreTest, AFailedMigrationKeepsTheOlderFileForTheNextAttempt) {
    writeLegacyDeck("Keep Me", {appTile(1, "Safari", "com.apple.Safari")});
    testing::makeReadableByEveryone(sandbox.root());
    fs::permissions(dir(), fs::perms::owner_write, fs::perm_options::remove);
    // Without write access to the directory the first write fails; the defaults stand in.
    const int status = testing::runSubjectToFilePermissions([&] {
        asio::io_context context;
        asio::thread_pool pool(1);
        DeckStore childStore(context.get_executor(), pool, std::nullopt, [](std::string_view) {});
        std::string name;
        asio::co_spawn(context, childStore.loadDeck(DeckCategoryID::streaming, workspace),
                       [&](std::exception_ptr, DeckTemplate deck) { name = deck.name; });
        context.run();
        return name == "Streaming" ? 0 : 1;
    });
    ASSERT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(decksFile()));

    fs::permissions(dir(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(load(DeckCategoryID::streaming).name, "Keep Me");
    EXPECT_FALSE(fs::exists(legacyFile()));
}

TEST_F(DeckStoreTest, SaveOrdersBySlotRenumbersDerivesIdsAndARefusedSaveWritesNothing) {
    DeckTile safari = appTile(9, "Safari", "com.apple.Safari");
    safari.id = "stale";
    const DeckTemplate edited(
        "", "Live",
        {safari, appTile(3, "Spotify", "spotify"), shortcutTile(7, "Scene", shortcutId, "bolt")});
    io().run(store().saveDeck(DeckCategoryID::streaming, edited, workspace));
    const DeckTemplate stored = storedDecks()[0];
    EXPECT_EQ(stored.id, "streaming");
    EXPECT_THAT(tilesOf(stored),
                ElementsAre("1 Spotify spotify -", "2 Scene  -", "3 Safari com.apple.Safari -"));
    EXPECT_EQ(stored.tiles[2].id, "com.apple.Safari");

    const std::string before = testing::readTextFile(decksFile());
    const DeckTemplate twice("", "Twice", {appTile(1, "A", "spotify"), appTile(2, "B", "spotify")});
    EXPECT_THROW(io().run(store().saveDeck(DeckCategoryID::gaming, twice, workspace)),
                 DeckStoreError);
    EXPECT_EQ(testing::readTextFile(decksFile()), before);
}

TEST_F(DeckStoreTest, AnUnreadableDecksFileIsKeptAsideBeforeASaveReplacesIt) {
    testing::writeTextFile(decksFile(), "{\"decks\": [oops");

    EXPECT_EQ(load(DeckCategoryID::streaming).name, "Streaming");
    EXPECT_EQ(io().run(store().deckSnapshots(workspace, DeckIconRevisions{})).size(), 2u);
    EXPECT_EQ(testing::readTextFile(decksFile()), "{\"decks\": [oops");  // reading never rewrites

    io().run(store().saveDeck(DeckCategoryID::gaming, DeckTemplate("", "Fresh", {}), workspace));

    EXPECT_EQ(testing::readTextFile(fs::path(decksFile()) += ".corrupt"), "{\"decks\": [oops");
    EXPECT_EQ(storedDecks()[0].name, "Streaming");
    EXPECT_EQ(storedDecks()[1].name, "Fresh");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], ::testing::HasSubstr("decks.json.corrupt"));
}

Task<std::map<std::string, std::string>> appRevisions(std::vector<std::string> ids) {
    std::map<std::string, std::string> revisions;
    for (const std::string& id : ids)
        if (id != "org.gnome.Terminal") revisions[id] = "app-" + id;  // Terminal has no icon
    co_return revisions;
}
Task<std::optional<std::string>> shortcutRevision(std::string id) { co_return "shortcut-" + id; }
Task<void> countPreload(std::shared_ptr<int> preloads) {
    ++*preloads;
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
    auto preloads = std::make_shared<int>(0);
    DeckIconRevisions icons{
        .applicationRevisions = appRevisions,
        .shortcutRevision = shortcutRevision,
        .preloadShortcutIcons = [preloads] { return countPreload(preloads); },
    };
    workspace = workspaceWith(installedApps, {"com.apple.Safari", "org.gnome.Terminal"});

    const auto snapshots = io().run(store().deckSnapshots(workspace, icons));

    ASSERT_EQ(snapshots.size(), 2u);
    const DeckSnapshotPayload& live = snapshots[0];
    EXPECT_EQ(live.deckId, "streaming");
    EXPECT_EQ(live.tiles.size(), 4u);  // the uninstalled application is left out
    EXPECT_EQ(live.tiles[3].bundleId, "org.gnome.Terminal");
    EXPECT_THAT(live.runningBundleIds, ElementsAre("com.apple.Safari", "org.gnome.Terminal"));
    EXPECT_EQ(live.iconRevisions,
              (std::map<std::string, std::string>{{"com.apple.Safari", "app-com.apple.Safari"},
                                                  {shortcutId, "shortcut-" + shortcutId}}));
    EXPECT_EQ(snapshots[1].iconRevisions,
              (std::map<std::string, std::string>{{"com.apple.Safari", "app-com.apple.Safari"},
                                                  {"spotify", "app-spotify"}}));
    EXPECT_EQ(*preloads, 1);  // only the deck with a Shortcut key preloads
    EXPECT_THAT(io().run(store().runningDeckBundleIds(workspace)),
                ElementsAre("com.apple.Safari", "org.gnome.Terminal", "com.apple.Safari",
                            "org.gnome.Terminal"));
}

TEST_F(DeckStoreTest, RunningListsAreReusedUntilTheWorkspaceAnswersOrTheDecksFileChange) {
    auto running = std::make_shared<std::set<std::string>>();
    auto version = std::make_shared<std::optional<std::uint64_t>>(1);
    workspace.runningApplication = [running](std::string id) {
        return runningInstance(running, std::move(id));
    };
    workspace.answersVersion = [version] { return *version; };
    const auto runningIds = [&] { return io().run(store().runningDeckBundleIds(workspace)); };
    EXPECT_TRUE(runningIds().empty());

    running->insert("org.gnome.Terminal");
    EXPECT_TRUE(runningIds().empty());  // the same answers
    *version = 2;
    EXPECT_THAT(runningIds(), ElementsAre("org.gnome.Terminal", "org.gnome.Terminal"));

    const DeckTemplate solo("", "Solo", {appTile(1, "Terminal", "org.gnome.Terminal")});
    running->insert("com.apple.Safari");
    io().run(store().saveDeck(DeckCategoryID::gaming, solo, workspace));  // a new decks file
    EXPECT_THAT(runningIds(),
                ElementsAre("com.apple.Safari", "org.gnome.Terminal", "org.gnome.Terminal"));

    *version = std::nullopt;  // not known: asked afresh every time
    running->clear();
    EXPECT_TRUE(runningIds().empty());
}

}  // namespace
}  // namespace velopad
