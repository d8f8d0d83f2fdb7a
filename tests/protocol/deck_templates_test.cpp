#include "protocol/deck_templates.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
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

TEST(BuiltinActionTest, RawValuesLabelsAndSymbols) {
    EXPECT_EQ(rawValue(BuiltinAction::volumeDown), "system.volume.down");
    EXPECT_EQ(label(BuiltinAction::volumeDown), "Vol \xe2\x88\x92");  // U+2212 MINUS SIGN
    EXPECT_NE(label(BuiltinAction::volumeDown), "Vol -");
    EXPECT_EQ(label(BuiltinAction::volumeUp), "Vol +");
    EXPECT_EQ(symbolName(BuiltinAction::volumeMute), "speaker.slash.fill");
    EXPECT_EQ(builtinActionFromRawValue("system.volume.up"), BuiltinAction::volumeUp);
    EXPECT_EQ(builtinActionFromRawValue("system.volume.UP"), std::nullopt);
    EXPECT_EQ(builtinActionFromRawValue(""), std::nullopt);
}

TEST(DeckCategoryTest, RawValuesAndDisplayNames) {
    EXPECT_EQ(rawValue(DeckCategoryID::gaming), "gaming");
    EXPECT_EQ(displayName(DeckCategoryID::streaming), "Streaming");
    EXPECT_EQ(deckCategoryFromRawValue("streaming"), DeckCategoryID::streaming);
    EXPECT_EQ(deckCategoryFromRawValue("Gaming"), std::nullopt);
}

TEST(DeckTileFactoriesTest, TilesOfEachKindKeepTheirInvariants) {
    const DeckTile action = actionTile(BuiltinAction::volumeUp, 3);
    EXPECT_EQ(action.id, "system.volume.up");
    EXPECT_EQ(action.actionId, "system.volume.up");
    EXPECT_EQ(action.bundleId, "");
    EXPECT_EQ(action.iconSymbol, "speaker.wave.3.fill");
    EXPECT_EQ(action.iconName, std::nullopt);

    const DeckTile shortcut = shortcutTile(4, "Lights", "0A1B2C3D-0000-4000-8000-00000000000A",
                                           std::string(defaultShortcutSymbol));
    EXPECT_EQ(shortcut.id, "0A1B2C3D-0000-4000-8000-00000000000A");
    EXPECT_EQ(shortcut.kind, DeckTileKind::shortcut);
    EXPECT_EQ(shortcut.iconSymbol, "arrow.triangle.turn.up.right.diamond.fill");
}

TEST(DeckTemplatesTest, StreamingTemplateIsTheTableWithLinuxAlternates) {
    const DeckTemplate& deck = DeckTemplates::templateFor(DeckCategoryID::streaming);
    ASSERT_EQ(deck.tiles.size(), 12u);
    EXPECT_EQ(deck.id, "streaming");
    EXPECT_EQ(deck.name, "Streaming");
    const char* labels[] = {"OBS",        "Discord",  "Chrome", "Safari",   "Spotify", "Twitch",
                            "Streamlabs", "Messages", "Music",  "Terminal", "Finder",  "Settings"};
    for (int i = 0; i < 12; ++i) {
        const DeckTile& tile = deck.tiles[i];
        EXPECT_EQ(tile.slot, i + 1);
        EXPECT_EQ(tile.label, labels[i]);
        EXPECT_EQ(tile.kind, DeckTileKind::app);
        EXPECT_EQ(tile.id, tile.bundleId);
        EXPECT_EQ(tile.actionId, std::nullopt);
        EXPECT_EQ(tile.iconSymbol, std::nullopt);
    }
    EXPECT_EQ(deck.tiles[0].bundleId, "com.obsproject.obs-studio");
    EXPECT_EQ(deck.tiles[0].alternateBundleIds,
              (Ids{"com.obsproject.OBS", "com.obsproject.Studio"}));
    EXPECT_EQ(deck.tiles[2].alternateBundleIds, Ids{"google-chrome"});
    EXPECT_EQ(deck.tiles[3].alternateBundleIds, std::nullopt);  // Safari
    EXPECT_EQ(deck.tiles[11].bundleId, "com.apple.systempreferences");
    EXPECT_EQ(deck.tiles[11].alternateBundleIds,
              (Ids{"com.apple.SystemPreferences", "org.gnome.Settings", "gnome-control-center",
                   "systemsettings"}));
}

TEST(DeckTemplatesTest, GamingTemplateStartsWithSteam) {
    const DeckTemplate& deck = DeckTemplates::templateFor(DeckCategoryID::gaming);
    ASSERT_EQ(deck.tiles.size(), 12u);
    EXPECT_EQ(deck.id, "gaming");
    EXPECT_EQ(deck.tiles[0].label, "Steam");
    EXPECT_EQ(deck.tiles[0].slot, 1);
    EXPECT_EQ(deck.tiles[0].alternateBundleIds, (Ids{"com.valvesoftware.Steam", "steam"}));
    EXPECT_EQ(deck.tiles[1].alternateBundleIds,
              (Ids{"com.discord.Discord", "com.discordapp.Discord", "discord"}));
    EXPECT_EQ(deck.tiles[2].label, "GeForce NOW");
    EXPECT_EQ(deck.tiles[3].iconName, "epic");
    EXPECT_EQ(deck.tiles[7].label, "OBS");
    EXPECT_EQ(deck.tiles[8].alternateBundleIds,
              (Ids{"org.gnome.Terminal", "org.gnome.Console", "org.kde.konsole"}));
    EXPECT_EQ(deck.tiles[11].label, "Settings");
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
    const char* cases[] = {
        R"({"name":"D","tiles":[]})",
        R"({"id":"d","tiles":[]})",
        R"({"id":"d","name":"D"})",
        R"({"id":"d","name":"D","tiles":{}})",
        R"([])",
        R"({"id":"d",)",
    };
    for (const char* text : cases) EXPECT_THROW(decodeDeckTemplate(text), DecodeError) << text;
}

TEST(DeckTemplateTest, StreamingTemplateRoundTripsThroughItsJSON) {
    const std::string text = DeckTemplates::streamingTemplateJSON();
    EXPECT_EQ(decodeDeckTemplate(text), DeckTemplates::streaming());
    EXPECT_LT(text.find("\"id\""), text.find("\"name\""));  // sorted keys
}

}  // namespace
}  // namespace velopad
