#include "app/decks/deck_store_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/decks/deck_store_error.h"
#include "protocol/deck_tile_factories.h"

namespace velopad {
namespace {

using DeckStoreRules::validatedDeck;

DeckTemplate deckOf(std::vector<DeckTile> tiles) { return {"streaming", "Mine", std::move(tiles)}; }

std::vector<DeckTile> appKeys(int count) {
    std::vector<DeckTile> tiles;
    for (int i = 1; i <= count; ++i) tiles.push_back(appTile(i, "A", "app." + std::to_string(i)));
    return tiles;
}

const std::string shortcutId = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";

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
            (void)validatedDeck(deckOf(c.tiles));
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

}  // namespace
}  // namespace velopad
