// The deck model: built-in actions, keys and their JSON form, the built-in decks and
// how they are fitted to the installed applications.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "protocol/builtin_action.h"
#include "protocol/deck_category.h"
#include "protocol/deck_template_filter.h"
#include "protocol/deck_templates.h"
#include "protocol/deck_tile_factories.h"
#include "protocol/json_fields.h"
#include "protocol/json_text.h"

namespace velopad {
namespace {

using Ids = std::vector<std::string>;
constexpr auto none = std::nullopt;

using SlotIds = std::vector<std::pair<std::int64_t, std::string>>;
SlotIds slotsAndIds(const std::vector<DeckTile>& tiles) {
    SlotIds result;
    for (const DeckTile& tile : tiles) result.emplace_back(tile.slot, tile.id);
    return result;
}

DeckTile decode(std::string_view text) { return decodeDeckTile(parseJsonText(text)); }

TEST(DeckTileJson, KindAndIdAreInferredWhenAbsentAndGivenOnesWin) {
    const struct {
        const char* text;
        DeckTileKind kind;
        const char* id;
    } cases[] = {
        {R"({"slot":3,"label":"l","bundleId":"","actionId":"a"})", DeckTileKind::action, "a"},
        {R"({"slot":4,"label":"l","bundleId":"","shortcutIdentifier":"s"})", DeckTileKind::shortcut,
         "s"},
        {R"({"slot":1,"label":"l","bundleId":"b"})", DeckTileKind::app, "b"},
        // Both present: "action" wins; a null actionId counts as absent.
        {R"({"slot":1,"label":"l","bundleId":"","actionId":"a","shortcutIdentifier":"s"})",
         DeckTileKind::action, "a"},
        {R"({"slot":1,"label":"l","bundleId":"","actionId":null,"shortcutIdentifier":"s"})",
         DeckTileKind::shortcut, "s"},
        {R"({"id":"mine","kind":"app","slot":2,"label":"l","bundleId":"b","actionId":"a"})",
         DeckTileKind::app, "mine"},
        // A given kind without its identifier: the id falls back to bundleId.
        {R"({"kind":"action","slot":2,"label":"l","bundleId":"b"})", DeckTileKind::action, "b"},
    };
    for (const auto& c : cases) {
        const DeckTile tile = decode(c.text);
        EXPECT_EQ(tile.kind, c.kind) << c.text;
        EXPECT_EQ(tile.id, c.id) << c.text;
    }
}

TEST(DeckTileJson, RequiredKeysAndTypes) {
    for (const char* text : {
             R"({"slot":1,"label":"l","actionId":"a"})",    // no bundleId, even for an action
             R"({"label":"l","bundleId":"b"})",             // no slot
             R"({"slot":1.5,"label":"l","bundleId":"b"})",  // fractional slot
             R"({"slot":1,"label":"l","bundleId":"b","kind":"App"})",  // not a raw value
             R"({"slot":1,"label":"l","bundleId":"b","alternateBundleIds":"x"})",
         })
        EXPECT_THROW(decode(text), DecodeError) << text;
    for (const char* text : {R"({"name":"D","tiles":[]})", R"({"id":"d","tiles":[]})",
                             R"({"id":"d","name":"D"})", R"({"id":"d","name":"D","tiles":{}})"})
        EXPECT_THROW(decodeDeckTemplate(text), DecodeError) << text;
}

// Each action key in its wire form, with its action's raw value, symbol and label; absent
// optionals are left out.
TEST(DeckTileJson, ActionKeysCarryTheActionsRawValueSymbolAndLabel) {
    const std::pair<BuiltinAction, std::string> cases[] = {
        {BuiltinAction::volumeDown,
         R"({"actionId":"system.volume.down","bundleId":"","iconSymbol":"speaker.wave.1.fill",)"
         R"("id":"system.volume.down","kind":"action","label":"Vol )"
         "\xe2\x88\x92"
         R"(","slot":5})"},
        {BuiltinAction::volumeUp,
         R"({"actionId":"system.volume.up","bundleId":"","iconSymbol":"speaker.wave.3.fill",)"
         R"("id":"system.volume.up","kind":"action","label":"Vol +","slot":5})"},
        {BuiltinAction::volumeMute,
         R"({"actionId":"system.volume.mute","bundleId":"","iconSymbol":"speaker.slash.fill",)"
         R"("id":"system.volume.mute","kind":"action","label":"Mute","slot":5})"},
    };
    for (const auto& [action, text] : cases) {
        const DeckTile tile = actionTile(action, 5);
        EXPECT_EQ(writeJsonText(tile), text);
        EXPECT_EQ(decode(text), tile);
    }
    const DeckTile app =
        appTile(2, "Discord", "com.hnc.Discord", "discord", Ids{"com.discord.Discord"});
    EXPECT_EQ(decode(writeJsonText(app)), app);
}

// The two templates key by key: the macOS bundle identifiers first, then the desktop-file IDs
// of the same application on Linux.
struct Row {
    const char *label, *bundleId, *iconName;
    std::optional<Ids> alternates;
};

void expectDeck(const DeckTemplate& deck, const char* id, const char* name,
                const std::vector<Row>& rows) {
    EXPECT_EQ(deck.id, id);
    EXPECT_EQ(deck.name, name);
    ASSERT_EQ(deck.tiles.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.label);
        EXPECT_EQ(deck.tiles[i],
                  (DeckTile{r.bundleId, std::int64_t(i + 1), DeckTileKind::app, r.label, r.bundleId,
                            none, none, r.iconName, none, r.alternates}));
    }
}

const Ids kObs{"com.obsproject.OBS", "com.obsproject.Studio"};
const Ids kDiscord{"com.discord.Discord", "com.discordapp.Discord", "discord"};
const Ids kSpotify{"com.spotify.Client", "spotify"};
const Ids kTerminal{"org.gnome.Terminal", "org.gnome.Console", "org.kde.konsole"};
const Ids kSettings{"com.apple.SystemPreferences", "org.gnome.Settings", "gnome-control-center",
                    "systemsettings"};

TEST(DeckTemplatesTest, BothTemplatesAreTheTables) {
    expectDeck(DeckTemplates::templateFor(DeckCategoryID::streaming), "streaming", "Streaming",
               {{"OBS", "com.obsproject.obs-studio", "obs", kObs},
                {"Discord", "com.hnc.Discord", "discord", kDiscord},
                {"Chrome", "com.google.Chrome", "chrome", Ids{"google-chrome"}},
                {"Safari", "com.apple.Safari", "safari", none},
                {"Spotify", "com.spotify.client", "spotify", kSpotify},
                {"Twitch", "com.twitch.desktop", "twitch", none},
                {"Streamlabs", "com.streamlabs.desktop", "streamlabs", none},
                {"Messages", "com.apple.MobileSMS", "messages", none},
                {"Music", "com.apple.Music", "music", none},
                {"Terminal", "com.apple.Terminal", "terminal", kTerminal},
                {"Finder", "com.apple.finder", "finder", none},
                {"Settings", "com.apple.systempreferences", "settings", kSettings}});
    expectDeck(
        DeckTemplates::templateFor(DeckCategoryID::gaming), "gaming", "Gaming",
        {{"Steam", "com.valvesoftware.steam", "steam", Ids{"com.valvesoftware.Steam", "steam"}},
         {"Discord", "com.hnc.Discord", "discord", kDiscord},
         {"GeForce NOW", "com.nvidia.geforcenow", "geforcenow", none},
         {"Epic Games", "com.epicgames.EpicGamesLauncher", "epic", none},
         {"Safari", "com.apple.Safari", "safari", none},
         {"Messages", "com.apple.MobileSMS", "messages", none},
         {"Spotify", "com.spotify.client", "spotify", kSpotify},
         {"OBS", "com.obsproject.obs-studio", "obs", kObs},
         {"Terminal", "com.apple.Terminal", "terminal", kTerminal},
         {"Finder", "com.apple.finder", "finder", none},
         {"Music", "com.apple.Music", "music", none},
         {"Settings", "com.apple.systempreferences", "settings", kSettings}});
}

TEST(DeckTemplateTest, ConstructionSortsBySlotStablyButDecodingKeepsOrder) {
    const DeckTemplate deck("d", "D",
                            {appTile(2, "B", "b"), appTile(1, "A", "a"), appTile(2, "C", "c")});
    EXPECT_EQ(slotsAndIds(deck.tiles), (SlotIds{{1, "a"}, {2, "b"}, {2, "c"}}));

    const DeckTemplate decoded =
        decodeDeckTemplate(R"({"id":"d","name":"D","tiles":[{"slot":2,"label":"B","bundleId":"b"},)"
                           R"({"slot":1,"label":"A","bundleId":"a"}]})");
    EXPECT_EQ(slotsAndIds(decoded.tiles), (SlotIds{{2, "b"}, {1, "a"}}));
}

using DeckTemplateFilter::memberOf;

// Template tiles take the first installed of their identifiers; others pass unchanged.
TEST(DeckTemplateFilterTest, SnapshotFitsTheDeckToTheInstalledAppsAndListsRunningOnesInOrder) {
    const DeckTemplate deck(
        "streaming", "Streaming",
        {appTile(1, "Terminal", "com.apple.Terminal", "terminal", kTerminal),
         actionTile(BuiltinAction::volumeUp, 2), shortcutTile(3, "Lights", "0A1B", "lightbulb"),
         appTile(4, "Chrome", "google-chrome"), appTile(5, "Files", "org.gnome.Nautilus"),
         appTile(6, "Chrome again", "google-chrome")});
    const auto installed = memberOf({"org.gnome.Console", "org.kde.konsole", "google-chrome"});
    const auto allButConsole = [](std::string_view id) { return id != "org.gnome.Console"; };
    const DeckSnapshotPayload snapshot =
        DeckTemplateFilter::makeSnapshot(deck, installed, allButConsole);
    EXPECT_EQ(snapshot.deckId, "streaming");
    EXPECT_EQ(snapshot.name, "Streaming");
    EXPECT_EQ(slotsAndIds(snapshot.tiles), (SlotIds{{1, "org.gnome.Console"},
                                                    {2, "system.volume.up"},
                                                    {3, "0A1B"},
                                                    {4, "google-chrome"},
                                                    {6, "google-chrome"}}));
    EXPECT_EQ(snapshot.tiles[0],
              appTile(1, "Terminal", "org.gnome.Console", "terminal", kTerminal));
    EXPECT_EQ(snapshot.runningBundleIds, (Ids{"google-chrome", "google-chrome"}));
    EXPECT_TRUE(snapshot.iconRevisions.empty());
}

}  // namespace
}  // namespace velopad
