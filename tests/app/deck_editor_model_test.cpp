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

const std::string shortcutId = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
const std::string goneShortcutId = "11111111-2222-3333-4444-555555555555";

const std::vector<AppBundleInfo> scannedApps = {
    {"Music", "com.apple.Music", "music"},
    {"Safari", "com.apple.Safari", "safari"},
    {"Uninstalled", "org.example.gone", "x"},
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

DeckEditorState stateWith(std::vector<DeckTile> tiles) {
    DeckEditorState state;
    state.installedApps = std::make_shared<const std::vector<InstalledApp>>(
        std::vector<InstalledApp>{{"Music", "com.apple.Music", "music", {}, {}},
                                  {"Safari", "com.apple.Safari", "safari", {}, {}}});
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

std::string joinedIds(const std::vector<DeckTile>& tiles) {
    std::string ids;
    for (const auto& tile : tiles) ids += (ids.empty() ? "" : " ") + tile.id;
    return ids;
}

TEST(DeckEditorRules, DropsAddOrMoveAndNeverDuplicate) {
    auto eight = appKeys(8);
    eight[6] = appTile(7, "Safari", "com.apple.Safari");
    struct Case {
        std::vector<DeckTile> tiles;
        std::vector<std::string> texts;
        int index;
        std::string ids;  // empty: the deck is unchanged
    };
    const std::string music = "com.apple.Music", safari = "com.apple.Safari";
    const std::vector<Case> cases = {
        {eight, {safari}, 2, "app.1 app.2 com.apple.Safari app.3 app.4 app.5 app.6 app.8"},
        {appKeys(2), {music}, 40, "app.1 app.2 com.apple.Music"},  // beyond the end: appended
        {appKeys(3), {"app.1"}, 40, "app.2 app.3 app.1"},
        {appKeys(24), {"app.24"}, 0, "app.24 " + joinedIds(appKeys(23))},  // a full deck moves
        {appKeys(1), {"system.volume.mute"}, 0, "system.volume.mute app.1"},
        {appKeys(1), {"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"}, 1, "app.1 " + shortcutId},
        {appKeys(1), {safari, music}, 1, "app.1 com.apple.Safari"},  // the first text counts
        {appKeys(1), {}, 0, ""},
        {appKeys(1), {"org.example.gone"}, 0, ""},  // not installed
        {appKeys(24), {shortcutId}, 3, ""},         // no 25th key
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.texts.empty() ? "no text" : c.texts[0] + " on " + std::to_string(c.index));
        DeckEditorState state = stateWith(c.tiles);
        state.setDropTarget(c.index, true);
        EXPECT_EQ(state.drop(c.texts, c.index), !c.ids.empty());
        EXPECT_EQ(joinedIds(state.tiles), c.ids.empty() ? joinedIds(state.savedTiles) : c.ids);
        for (std::size_t i = 0; i < state.tiles.size(); ++i) EXPECT_EQ(state.tiles[i].slot, i + 1);
        EXPECT_FALSE(state.dropTargetIndex.has_value());
        EXPECT_FALSE(state.isDeckDragActive);
        EXPECT_EQ(state.syncLabel(), std::string_view(c.ids.empty() ? "Synced" : "Unsaved"));
    }
}

TEST(DeckEditorRules, CardsAppendOnceRemovingTakesAKeyAndTheLibrarySearchesAndSuggests) {
    DeckEditorState full = stateWith(appKeys(24));
    EXPECT_FALSE(full.addCard(DeckTileKind::action, "system.volume.up"));
    EXPECT_EQ(full.tiles.size(), 24u);

    DeckEditorState state = stateWith(appKeys(2));
    EXPECT_TRUE(state.addCard(DeckTileKind::shortcut, shortcutId));
    EXPECT_FALSE(state.addCard(DeckTileKind::shortcut, shortcutId));
    ASSERT_EQ(state.tiles.size(), 3u);
    EXPECT_EQ(state.tiles[2].label, "Standup");
    EXPECT_TRUE(state.showFirstShortcutTip);
    EXPECT_TRUE(state.cards(LibraryTab::shortcuts).at(0).isInDeck);

    EXPECT_FALSE(state.removeTile(3));
    EXPECT_FALSE(state.removeTile(-1));
    EXPECT_TRUE(state.removeTile(0));
    EXPECT_EQ(joinedIds(state.tiles), "app.2 " + shortcutId);
    EXPECT_EQ(state.tiles[1].slot, 2);

    state = stateWith({});
    state.searchText = "sAf";
    const auto apps = state.cards(LibraryTab::apps);
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].payload, "com.apple.Safari");
    state.searchText = "vol";
    EXPECT_EQ(state.cards(LibraryTab::actions).size(), 2u);

    EXPECT_EQ(state.suggestedCardMissingLine(),
              "Cursor isn\u2019t installed. Wispr Flow isn\u2019t installed.");
    auto withCursor = *state.installedApps;
    withCursor.push_back({"cursor", "cursor", std::nullopt, {}, {}});
    state.installedApps = std::make_shared<const std::vector<InstalledApp>>(withCursor);
    EXPECT_EQ(state.suggestedCardMissingLine(), "Wispr Flow isn\u2019t installed.");
}

TEST_F(DeckEditorModelTest, LoadsTheDeckApplicationsShortcutsAndIcons) {
    const DeckTemplate mine(
        "streaming", "Mine",
        {appTile(1, "Safari", "com.apple.Safari"), shortcutTile(2, "Old Name", shortcutId, "bolt"),
         shortcutTile(3, "Gone", goneShortcutId, "bolt")});
    io.run(store.saveDeck(DeckCategoryID::streaming, mine, context.workspace));
    world->shortcuts = {{"New Name", shortcutId}};

    const DeckEditorState state = loadedModel()->state();

    EXPECT_EQ(state.deckName, "Mine");
    EXPECT_EQ(state.installedApps->size(), scannedApps.size() - 1);  // one is not installed
    EXPECT_TRUE(state.installedApps->front().icon.isValid());
    EXPECT_EQ(state.tiles[1].label, "New Name");
    EXPECT_EQ(state.syncLabel(), "Unsaved");
    EXPECT_THAT(state.missingShortcutIdentifiers(), ElementsAre(goneShortcutId));
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
    EXPECT_EQ(model->state().cards(LibraryTab::shortcuts).size(), 1u);
}

TEST_F(DeckEditorModelTest, SavingStoresPushesAndClosesOnlyWithAPhone) {
    for (const bool phone : {false, true}) {
        const DeckCategoryID category = phone ? DeckCategoryID::gaming : DeckCategoryID::streaming;
        const std::string defaultName = phone ? "Gaming" : "Streaming";
        *world = World{};
        world->phoneConnected = phone;
        auto model = loadedModel();
        io.run(model->selectCategory(category));
        EXPECT_TRUE(edit(*model, [](DeckEditorState& s) {
            s.deckName = "  \n ";
            return s.drop({"system.volume.up"}, 0);
        }));
        io.run(model->save());

        const DeckEditorState state = model->state();
        EXPECT_EQ(stored(category).name, defaultName);
        EXPECT_EQ(stored(category).tiles.front().id, "system.volume.up");
        EXPECT_EQ(world->pushedBeforePhoneCheck, true);
        EXPECT_EQ(world->closeRequests, phone ? 1 : 0);
        EXPECT_EQ(state.infoMessage,
                  phone ? std::nullopt
                        : std::optional<std::string>(
                              "Saved on this computer \u2014 connect iPhone to update."));
        EXPECT_EQ(state.syncLabel(), "Synced");
        EXPECT_EQ(state.deckName, defaultName);
    }
}

TEST_F(DeckEditorModelTest, AFailedSaveKeepsEveryEditAndPushesNothing) {
    auto model = loadedModel();
    // Two keys of one application: the store refuses with its own text.
    edit(*model, [](DeckEditorState& s) {
        s.tiles.insert(s.tiles.end(), 2, appTile(0, "Safari", "com.apple.Safari"));
        s.deckName = "Kept";
        DeckEditorState::renumber(s.tiles);
        return true;
    });
    const auto before = model->state();
    io.run(model->save());

    const DeckEditorState after = model->state();
    EXPECT_EQ(after.errorMessage, "com.apple.Safari is already on the deck.");
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
