#include "protocol/deck_templates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/builtin_action.h"
#include "protocol/deck_category.h"
#include "protocol/deck_tile_factories.h"
#include "protocol/json_fields.h"
#include "protocol/shortcut_symbol.h"

namespace velopad {
namespace {

using Ids = std::vector<std::string>;
constexpr auto none = std::nullopt;

TEST(BuiltinActionTest, RawValuesLabelsAndSymbols) {
    const struct {
        BuiltinAction action;
        const char *raw, *label, *symbol;
    } cases[] = {
        {BuiltinAction::volumeDown, "system.volume.down", "Vol \xe2\x88\x92",
         "speaker.wave.1.fill"},
        {BuiltinAction::volumeUp, "system.volume.up", "Vol +", "speaker.wave.3.fill"},
        {BuiltinAction::volumeMute, "system.volume.mute", "Mute", "speaker.slash.fill"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rawValue(c.action), c.raw);
        EXPECT_EQ(label(c.action), c.label);
        EXPECT_EQ(symbolName(c.action), c.symbol);
        EXPECT_EQ(builtinActionFromRawValue(c.raw), c.action);
    }
    EXPECT_EQ(builtinActionFromRawValue("system.volume.UP"), none);
    EXPECT_EQ(builtinActionFromRawValue(""), none);
}

TEST(DeckCategoryTest, RawValuesAndDisplayNames) {
    EXPECT_EQ(rawValue(DeckCategoryID::gaming), "gaming");
    EXPECT_EQ(displayName(DeckCategoryID::gaming), "Gaming");
    EXPECT_EQ(rawValue(DeckCategoryID::streaming), "streaming");
    EXPECT_EQ(displayName(DeckCategoryID::streaming), "Streaming");
    EXPECT_EQ(deckCategoryFromRawValue("streaming"), DeckCategoryID::streaming);
    EXPECT_EQ(deckCategoryFromRawValue("gaming"), DeckCategoryID::gaming);
    EXPECT_EQ(deckCategoryFromRawValue("Gaming"), none);
}

TEST(DeckTileFactoriesTest, TilesOfEachKindKeepTheirInvariants) {
    EXPECT_EQ(actionTile(BuiltinAction::volumeUp, 3),
              (DeckTile{"system.volume.up", 3, DeckTileKind::action, "Vol +", "",
                        "system.volume.up", none, none, "speaker.wave.3.fill", none}));
    const char* id = "0A1B2C3D-0000-4000-8000-00000000000A";
    EXPECT_EQ(shortcutTile(4, "Lights", id, std::string(defaultShortcutSymbol)),
              (DeckTile{id, 4, DeckTileKind::shortcut, "Lights", "", none, id, none,
                        "arrow.triangle.turn.up.right.diamond.fill", none}));
    EXPECT_EQ(appTile(5, "Files", "org.gnome.Nautilus", "files", Ids{"nautilus"}),
              (DeckTile{"org.gnome.Nautilus", 5, DeckTileKind::app, "Files", "org.gnome.Nautilus",
                        none, none, "files", none, Ids{"nautilus"}}));
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

TEST(DeckTemplatesTest, StreamingTemplateIsTheTable) {
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
}

TEST(DeckTemplatesTest, GamingTemplateIsTheTable) {
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
    EXPECT_EQ(deck.tiles[0].label, "A");
    EXPECT_EQ(deck.tiles[1].label, "B");
    EXPECT_EQ(deck.tiles[2].label, "C");

    const DeckTemplate decoded =
        decodeDeckTemplate(R"({"id":"d","name":"D","tiles":[{"slot":2,"label":"B","bundleId":"b"},)"
                           R"({"slot":1,"label":"A","bundleId":"a"}]})");
    EXPECT_EQ(decoded.tiles[0].label, "B");
    EXPECT_EQ(decoded.tiles[1].id, "a");
}

TEST(DeckTemplateTest, DecodingRequiresAllThreeKeys) {
    for (const char* text :
         {R"({"name":"D","tiles":[]})", R"({"id":"d","tiles":[]})", R"({"id":"d","name":"D"})",
          R"({"id":"d","name":"D","tiles":{}})", R"([])", R"({"id":"d",)"})
        EXPECT_THROW(decodeDeckTemplate(text), DecodeError) << text;
}

TEST(DeckTemplateTest, StreamingTemplateReadsBackFromItsIndentedJSON) {
    const std::string text = DeckTemplates::streamingTemplateJSON();
    EXPECT_EQ(decodeDeckTemplate(text), DeckTemplates::streaming());
    EXPECT_EQ(text.rfind("{\n  \"id\": \"streaming\",\n  \"name\": \"Streaming\",\n", 0), 0u);
}

}  // namespace
}  // namespace velopad
