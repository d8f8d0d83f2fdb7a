#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "protocol/deck_tile.h"
#include "protocol/json_text.h"

namespace velopad {
namespace {

DeckTile decode(std::string_view text) { return decodeDeckTile(parseJsonText(text)); }

TEST(DeckTileJson, KindAndIdAreInferredWhenAbsent) {
    const DeckTile action =
        decode(R"({"slot":3,"label":"Vol +","bundleId":"","actionId":"system.volume.up"})");
    EXPECT_EQ(action.kind, DeckTileKind::action);
    EXPECT_EQ(action.id, "system.volume.up");

    const DeckTile shortcut = decode(
        R"({"slot":4,"label":"Stream","bundleId":"","shortcutIdentifier":"0F3E2A4B-1111-2222-3333-444455556666"})");
    EXPECT_EQ(shortcut.kind, DeckTileKind::shortcut);
    EXPECT_EQ(shortcut.id, "0F3E2A4B-1111-2222-3333-444455556666");

    const DeckTile app =
        decode(R"({"slot":1,"label":"OBS","bundleId":"com.obsproject.obs-studio"})");
    EXPECT_EQ(app.kind, DeckTileKind::app);
    EXPECT_EQ(app.id, "com.obsproject.obs-studio");

    // Both present: "action" wins; a null actionId counts as absent.
    EXPECT_EQ(
        decode(R"({"slot":1,"label":"l","bundleId":"","actionId":"a","shortcutIdentifier":"s"})")
            .kind,
        DeckTileKind::action);
    EXPECT_EQ(
        decode(R"({"slot":1,"label":"l","bundleId":"","actionId":null,"shortcutIdentifier":"s"})")
            .kind,
        DeckTileKind::shortcut);
}

TEST(DeckTileJson, ExplicitKindAndIdWin) {
    const DeckTile tile =
        decode(R"({"id":"mine","kind":"app","slot":2,"label":"l","bundleId":"b","actionId":"a"})");
    EXPECT_EQ(tile.id, "mine");
    EXPECT_EQ(tile.kind, DeckTileKind::app);
    // Explicit kind without its identifier: the id falls back to bundleId.
    EXPECT_EQ(decode(R"({"kind":"action","slot":2,"label":"l","bundleId":"b"})").id, "b");
    EXPECT_EQ(decode(R"({"kind":"shortcut","slot":2,"label":"l","bundleId":""})").id, "");
}

TEST(DeckTileJson, RequiredKeysAndTypes) {
    for (const char* text : {
             R"({"slot":1,"label":"l","actionId":"a"})",    // no bundleId, even for an action
             R"({"label":"l","bundleId":"b"})",             // no slot
             R"({"slot":1,"bundleId":"b"})",                // no label
             R"({"slot":"1","label":"l","bundleId":"b"})",  // slot as text
             R"({"slot":1.5,"label":"l","bundleId":"b"})",  // fractional slot
             R"({"slot":1,"label":"l","bundleId":"b","kind":"App"})",  // not a raw value
             R"({"slot":1,"label":"l","bundleId":"b","kind":3})",
             R"({"slot":1,"label":"l","bundleId":"b","alternateBundleIds":"x"})",
             R"({"slot":1,"label":"l","bundleId":"b","iconName":false})",
             R"(["slot"])",
         }) {
        EXPECT_THROW(decode(text), DecodeError) << text;
    }
}

TEST(DeckTileJson, EncodingOmitsAbsentOptionals) {
    const DeckTile action{"system.volume.mute",
                          5,
                          DeckTileKind::action,
                          "Mute",
                          "",
                          "system.volume.mute",
                          std::nullopt,
                          std::nullopt,
                          "speaker.slash.fill",
                          std::nullopt};
    EXPECT_EQ(writeJsonText(action),
              R"({"actionId":"system.volume.mute","bundleId":"","iconSymbol":"speaker.slash.fill",)"
              R"("id":"system.volume.mute","kind":"action","label":"Mute","slot":5})");
    EXPECT_EQ(decode(writeJsonText(action)), action);

    const DeckTile app{"com.hnc.Discord", 2,
                       DeckTileKind::app, "Discord",
                       "com.hnc.Discord", std::nullopt,
                       std::nullopt,      "discord",
                       std::nullopt,      std::vector<std::string>{"com.discord.Discord"}};
    EXPECT_EQ(decode(writeJsonText(app)), app);
    EXPECT_EQ(nlohmann::json(app).get<DeckTile>(), app);
}

TEST(DeckTileJson, DerivedId) {
    EXPECT_EQ(derivedTileId(DeckTileKind::app, "b", std::string("a"), std::string("s")), "b");
    EXPECT_EQ(derivedTileId(DeckTileKind::action, "b", std::string("a"), std::nullopt), "a");
    EXPECT_EQ(derivedTileId(DeckTileKind::action, "b", std::nullopt, std::string("s")), "b");
    EXPECT_EQ(derivedTileId(DeckTileKind::shortcut, "b", std::nullopt, std::string("s")), "s");
    EXPECT_EQ(derivedTileId(DeckTileKind::shortcut, "b", std::string("a"), std::nullopt), "b");
}

}  // namespace
}  // namespace velopad
