#include "app/editor/deck_editor_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/steady_timer.hpp>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include "app/decks/deck_store.h"
#include "protocol/deck_tile_factories.h"
#include "tests/support/io_thread.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::string shortcutId = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
const std::string goneShortcutId = "11111111-2222-3333-4444-555555555555";

const std::vector<AppBundleInfo> scannedApps = {
    {"Chrome", "com.google.Chrome", "chrome"},      {"Discord", "com.hnc.Discord", "discord"},
    {"Finder", "com.apple.finder", "finder"},       {"Messages", "com.apple.MobileSMS", "messages"},
    {"Music", "com.apple.Music", "music"},          {"OBS", "com.obsproject.obs-studio", "obs"},
    {"Safari", "com.apple.Safari", "safari"},       {"Spotify", "com.spotify.client", "spotify"},
    {"Terminal", "com.apple.Terminal", "terminal"}, {"Uninstalled", "org.example.gone", "x"},
};

Task<std::optional<fs::path>> installedAt(std::string bundleId) {
    if (bundleId == "org.example.gone") co_return std::nullopt;
    co_return fs::path("/usr/share/applications") / (bundleId + ".desktop");
}

// What the fakes answer and what they saw.
struct World {
    std::vector<CatalogShortcut> shortcuts;
    std::optional<std::string> listingFailure;
    bool phoneConnected = false;
    bool pushed = false;
    std::optional<bool> pushedBeforePhoneCheck;
    int closeRequests = 0;
};

Task<std::vector<CatalogShortcut>> listShortcuts(std::shared_ptr<World> world) {
    if (world->listingFailure) throw std::runtime_error(*world->listingFailure);
    co_return world->shortcuts;
}

Task<std::map<std::string, PngBytes>> shortcutIcons() {
    co_return std::map<std::string, PngBytes>{{"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d", {1, 2, 3}}};
}

// A push that takes a while, so a phone check that does not wait for it is caught.
Task<void> slowPush(std::shared_ptr<World> world) {
    asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::milliseconds(50));
    co_await timer.async_wait(asio::use_awaitable);
    world->pushed = true;
}

std::vector<std::string> idsOf(const std::vector<DeckTile>& tiles) {
    std::vector<std::string> ids;
    for (const auto& tile : tiles) ids.push_back(tile.id);
    return ids;
}

class DeckEditorModelTest : public testing::SandboxTest {
  protected:
    DeckEditorModelTest() {
        context.executor = io.executor();
        context.pool = &io.pool();
        context.deckStore = &store;
        context.workspace.urlForApplication = [](std::string id) { return installedAt(id); };
        context.installedApps.scanApplicationBundles = [] { return scannedApps; };
        context.installedApps.iconForApplication = [](const fs::path&) {
            return std::optional<RgbaImage>(
                RgbaImage{64, 64, std::vector<std::uint8_t>(64 * 64 * 4, 200)});
        };
        context.listShortcuts = [world = world] { return listShortcuts(world); };
        context.shortcutIcons = [] { return shortcutIcons(); };
        context.isPhoneConnected = [world = world] {
            world->pushedBeforePhoneCheck = world->pushed;
            return world->phoneConnected;
        };
        context.onSaved = [world = world] { return slowPush(world); };
        context.requestClose = [world = world] { ++world->closeRequests; };
    }
    ~DeckEditorModelTest() override { io.drain(); }

    std::shared_ptr<DeckEditorModel> loadedModel() {
        auto model = DeckEditorModel::create(context);
        io.run(model->load());
        return model;
    }
    bool edit(DeckEditorModel& model, DeckEditorModel::Edit change) {
        return io.run(model.update(std::move(change)));
    }
    DeckTemplate stored(DeckCategoryID category) {
        return io.run(store.loadDeck(category, context.workspace));
    }

    test::IoThread io;
    fs::path decksFile = sandbox.root() / "decks" / "decks.json";
    DeckStore store{io.executor(), io.pool(), decksFile, [](std::string_view) {}};
    std::shared_ptr<World> world = std::make_shared<World>();
    DeckEditorContext context;
};

// --- The edit rules, on the state alone ---

DeckEditorState stateWith(std::vector<DeckTile> tiles) {
    DeckEditorState state;
    std::vector<InstalledApp> apps;
    for (const auto& app : scannedApps) {
        if (app.bundleId != "org.example.gone") {
            apps.push_back({app.label, app.bundleId, app.iconName, {}, {}});
        }
    }
    state.installedApps = std::make_shared<const std::vector<InstalledApp>>(apps);
    state.catalogShortcuts = {{"Standup", shortcutId}};
    state.shortcutsLoadState = {ShortcutsLoadState::Kind::loaded, {}};
    DeckEditorState::renumber(tiles);
    state.adoptDeck("Streaming", tiles);
    return state;
}

std::vector<DeckTile> appKeys(int count) {
    std::vector<DeckTile> tiles;
    for (int i = 1; i <= count; ++i) tiles.push_back(appTile(i, "App", "app." + std::to_string(i)));
    return tiles;
}

TEST(DeckEditorRules, DropsAddOrMoveAndNeverDuplicate) {
    const std::vector<DeckTile> eight = [] {
        auto tiles = appKeys(6);
        tiles.push_back(appTile(7, "Safari", "com.apple.Safari"));
        tiles.push_back(appTile(8, "App", "app.8"));
        return tiles;
    }();
    struct Case {
        const char* name;
        std::vector<DeckTile> tiles;
        std::vector<std::string> texts;
        int index;
        bool changed;
        std::vector<std::string> ids;  // empty: the deck is unchanged
    };
    const std::vector<Case> cases = {
        {"Safari at 7 dropped on slot 3 moves",
         eight,
         {"com.apple.Safari"},
         2,
         true,
         {"app.1", "app.2", "com.apple.Safari", "app.3", "app.4", "app.5", "app.6", "app.8"}},
        {"beyond the end appends",
         appKeys(2),
         {"com.apple.Music"},
         40,
         true,
         {"app.1", "app.2", "com.apple.Music"}},
        {"a key moved beyond the end goes last",
         appKeys(3),
         {"app.1"},
         40,
         true,
         {"app.2", "app.3", "app.1"}},
        {"action id", appKeys(1), {"system.volume.mute"}, 0, true, {"system.volume.mute", "app.1"}},
        {"catalog Shortcut, any letter case",
         appKeys(1),
         {"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"},
         1,
         true,
         {"app.1", shortcutId}},
        {"only the first text counts",
         appKeys(1),
         {"com.apple.Safari", "com.apple.Music"},
         1,
         true,
         {"app.1", "com.apple.Safari"}},
        {"no text", appKeys(1), {}, 0, false, {}},
        {"empty text", appKeys(1), {""}, 0, false, {}},
        {"application not installed", appKeys(1), {"org.example.gone"}, 0, false, {}},
        {"25th key refused", appKeys(24), {"com.apple.Safari"}, 3, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeckEditorState state = stateWith(c.tiles);
        state.setDropTarget(c.index, true);
        EXPECT_EQ(state.drop(c.texts, c.index), c.changed);
        EXPECT_THAT(idsOf(state.tiles),
                    ElementsAreArray(c.ids.empty() ? idsOf(state.savedTiles) : c.ids));
        for (std::size_t i = 0; i < state.tiles.size(); ++i) EXPECT_EQ(state.tiles[i].slot, i + 1);
        EXPECT_FALSE(state.dropTargetIndex.has_value());
        EXPECT_FALSE(state.isDeckDragActive);
        EXPECT_EQ(state.syncLabel(), std::string_view(c.changed ? "Unsaved" : "Synced"));
    }
}

TEST(DeckEditorRules, AFullDeckRefusesAdditionsButStillMoves) {
    DeckEditorState state = stateWith(appKeys(24));
    EXPECT_TRUE(state.isFull());
    EXPECT_FALSE(state.addCard(DeckTileKind::app, "com.apple.Safari"));
    EXPECT_FALSE(state.addCard(DeckTileKind::action, "system.volume.up"));
    EXPECT_FALSE(state.drop({shortcutId}, 0));
    EXPECT_EQ(state.tiles.size(), 24u);

    EXPECT_TRUE(state.drop({"app.24"}, 0));
    EXPECT_EQ(state.tiles.front().id, "app.24");
    EXPECT_EQ(state.tiles.size(), 24u);
    EXPECT_EQ(state.slotCount(), 24u);
}

TEST(DeckEditorRules, ClickingACardAppendsItOnce) {
    DeckEditorState state = stateWith(appKeys(2));
    EXPECT_TRUE(state.addCard(DeckTileKind::shortcut, shortcutId));
    EXPECT_FALSE(state.addCard(DeckTileKind::shortcut, shortcutId));
    ASSERT_EQ(state.tiles.size(), 3u);
    EXPECT_EQ(state.tiles[2].label, "Standup");
    EXPECT_EQ(state.tiles[2].slot, 3);
    EXPECT_TRUE(state.showFirstShortcutTip);

    const auto cards = state.cards(LibraryTab::shortcuts);
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_TRUE(cards[0].isInDeck);

    EXPECT_TRUE(state.removeTile(0));
    EXPECT_THAT(idsOf(state.tiles), ElementsAre("app.2", shortcutId));
    EXPECT_EQ(state.tiles[1].slot, 2);
}

TEST(DeckEditorRules, SearchAndTheSuggestedCardLine) {
    DeckEditorState state = stateWith({});
    state.searchText = "sAf";
    const auto apps = state.cards(LibraryTab::apps);
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].payload, "com.apple.Safari");
    state.searchText = "vol";
    EXPECT_EQ(state.cards(LibraryTab::actions).size(), 2u);
    state.searchText = "";
    EXPECT_EQ(state.cards(LibraryTab::actions).size(), 3u);

    EXPECT_EQ(state.suggestedCardMissingLine(),
              "Cursor isn\u2019t installed. Wispr Flow isn\u2019t installed.");
    auto apps2 = *state.installedApps;
    apps2.push_back({"cursor", "cursor", std::nullopt, {}, {}});
    state.installedApps = std::make_shared<const std::vector<InstalledApp>>(apps2);
    EXPECT_EQ(state.suggestedCardMissingLine(), "Wispr Flow isn\u2019t installed.");
}

// --- Loading and saving through a real deck store ---

TEST_F(DeckEditorModelTest, LoadsTheDeckApplicationsShortcutsAndIcons) {
    const DeckTile renamed =
        shortcutTile(2, "Old Name", "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", "bolt");
    const DeckTile gone = shortcutTile(3, "Gone", goneShortcutId, "bolt");
    io.run(store.saveDeck(DeckCategoryID::streaming,
                          DeckTemplate("streaming", "Mine",
                                       {appTile(1, "Safari", "com.apple.Safari"), renamed, gone}),
                          context.workspace));
    world->shortcuts = {{"New Name", shortcutId}};

    auto model = DeckEditorModel::create(context);
    EXPECT_TRUE(model->state().missingShortcutIdentifiers().empty());  // nothing loaded yet
    io.run(model->load());
    const DeckEditorState state = model->state();

    EXPECT_EQ(state.deckName, "Mine");
    EXPECT_EQ(state.installedApps->size(), scannedApps.size() - 1);  // one is not installed
    EXPECT_TRUE(state.installedApps->front().icon.isValid());
    EXPECT_EQ(state.tiles[1].label, "New Name");
    EXPECT_EQ(state.tiles[1].iconSymbol, "bolt");
    EXPECT_EQ(state.syncLabel(), "Unsaved");
    EXPECT_THAT(state.missingShortcutIdentifiers(), ElementsAre(goneShortcutId));
    EXPECT_TRUE(state.isMissing(state.tiles[2]));
    ASSERT_NE(state.shortcutIconFor(state.tiles[1]), nullptr);
    EXPECT_EQ(*state.shortcutIconFor(state.tiles[1]), (PngBytes{1, 2, 3}));
    EXPECT_EQ(state.shortcutIconFor(state.tiles[2]), nullptr);
}

TEST_F(DeckEditorModelTest, ShortcutsListingFailsThenRecovers) {
    world->listingFailure = "The Shortcuts tool could not be found.";
    auto model = loadedModel();
    EXPECT_EQ(model->state().shortcutsLoadState,
              (ShortcutsLoadState{ShortcutsLoadState::Kind::failed,
                                  "The Shortcuts tool could not be found."}));

    world->listingFailure.reset();
    io.run(model->loadShortcuts());
    EXPECT_EQ(model->state().shortcutsLoadState.kind, ShortcutsLoadState::Kind::empty);

    world->shortcuts = {{"Standup", shortcutId}};
    io.run(model->loadShortcuts());
    EXPECT_EQ(model->state().shortcutsLoadState.kind, ShortcutsLoadState::Kind::loaded);
    EXPECT_EQ(model->state().cards(LibraryTab::shortcuts).size(), 1u);
}

TEST_F(DeckEditorModelTest, SavingStoresPushesAndClosesOnlyWithAPhone) {
    struct Case {
        DeckCategoryID category;
        bool phone;
        const char* storedName;
    };
    for (const Case c : {Case{DeckCategoryID::streaming, false, "Streaming"},
                         Case{DeckCategoryID::gaming, true, "Gaming"}}) {
        SCOPED_TRACE(c.storedName);
        *world = World{};
        world->phoneConnected = c.phone;
        auto model = loadedModel();
        io.run(model->selectCategory(c.category));
        EXPECT_TRUE(edit(*model, [](DeckEditorState& s) {
            s.deckName = "  \n ";
            return s.drop({"system.volume.up"}, 0);
        }));
        io.run(model->save());

        const DeckEditorState state = model->state();
        EXPECT_EQ(stored(c.category).name, c.storedName);
        EXPECT_EQ(stored(c.category).tiles.front().id, "system.volume.up");
        EXPECT_EQ(world->pushedBeforePhoneCheck, true);
        EXPECT_EQ(world->closeRequests, c.phone ? 1 : 0);
        EXPECT_EQ(state.infoMessage,
                  c.phone ? std::nullopt
                          : std::optional<std::string>(
                                "Saved on this computer \u2014 connect iPhone to update."));
        EXPECT_FALSE(state.isSaving);
        EXPECT_EQ(state.syncLabel(), "Synced");
        EXPECT_EQ(state.deckName, c.storedName);
    }
}

TEST_F(DeckEditorModelTest, AFailedSaveKeepsEveryEdit) {
    auto model = loadedModel();
    // Two keys of one application: the store refuses with its own text.
    edit(*model, [](DeckEditorState& s) {
        s.tiles.push_back(appTile(0, "Safari", "com.apple.Safari"));
        s.tiles.push_back(appTile(0, "Safari", "com.apple.Safari"));
        DeckEditorState::renumber(s.tiles);
        return true;
    });
    const auto edited = model->state().tiles;
    io.run(model->save());
    EXPECT_EQ(model->state().errorMessage, "com.apple.Safari is already on the deck.");
    EXPECT_EQ(model->state().tiles, edited);

    // The file cannot be written: its directory is in the way of a plain file.
    edit(*model, [](DeckEditorState& s) {
        s.tiles.pop_back();
        s.deckName = "Kept";
        return true;
    });
    const auto before = model->state();
    fs::remove_all(decksFile.parent_path());
    testing::writeTextFile(decksFile.parent_path(), "in the way");
    io.run(model->save());

    const DeckEditorState after = model->state();
    ASSERT_TRUE(after.errorMessage.has_value());
    EXPECT_FALSE(after.errorMessage->empty());
    EXPECT_EQ(after.tiles, before.tiles);
    EXPECT_EQ(after.deckName, "Kept");
    EXPECT_EQ(after.syncLabel(), "Unsaved");
    EXPECT_FALSE(after.isSaving);
    EXPECT_FALSE(world->pushed);
    EXPECT_EQ(world->closeRequests, 0);
}

TEST_F(DeckEditorModelTest, ResetStoresAndPushesTheDefaults) {
    auto model = loadedModel();
    edit(*model, [](DeckEditorState& s) { return s.removeTile(0); });
    io.run(model->save());
    ASSERT_NE(stored(DeckCategoryID::streaming).tiles.front().id, "com.obsproject.obs-studio");
    world->pushed = false;

    io.run(model->reset());
    EXPECT_EQ(stored(DeckCategoryID::streaming).tiles.front().id, "com.obsproject.obs-studio");
    EXPECT_EQ(model->state().tiles, stored(DeckCategoryID::streaming).tiles);
    EXPECT_EQ(model->state().syncLabel(), "Synced");
    EXPECT_TRUE(world->pushed);
}

}  // namespace
}  // namespace velopad
