#include "ui_kit/tile_appearance.h"

#include <gtest/gtest.h>

#include "protocol/deck_tile_factories.h"
#include "ui_kit/first_character.h"

namespace velopad {
namespace {

constexpr TileColor kFallbackTop{0.22, 0.51, 0.96};
constexpr TileColor kFallbackBottom{0.11, 0.31, 0.85};

TEST(TileAppearanceTest, AppTilesUseTheirIconNameThenTheirLabel) {
    const TileAppearance discord = appearance(appTile(1, "Chat", "discord", "discord"));
    EXPECT_EQ(discord.glyph, "bubble.left.and.bubble.right.fill");
    EXPECT_EQ(discord.gradient[1], (TileColor{0.49, 0.23, 0.93}));

    const TileAppearance safari = appearance(appTile(1, "Safari", "org.example.browser"));
    EXPECT_EQ(safari.glyph, "safari.fill");

    const TileAppearance obs = appearance(appTile(1, "OBS", "com.obsproject.Studio", "obs"));
    EXPECT_EQ(obs.gradient[0], TileColor::systemPurple());
    EXPECT_EQ(obs.gradient[1], (TileColor{0.45, 0.16, 0.85}));
}

TEST(TileAppearanceTest, UnlistedAppsShowTheirFirstLetterOnBlue) {
    const TileAppearance steam = appearance(appTile(1, "Steam", "steam", "steam"));
    EXPECT_EQ(steam.glyph, "S");
    EXPECT_EQ(steam.gradient, (std::array{kFallbackTop, kFallbackBottom}));

    // The first character, whole: "É" and "e" + U+0301.
    EXPECT_EQ(appearance(appTile(1, std::string("\xc3\x89") + "diteur", "x")).glyph, "\xc3\x89");
    EXPECT_EQ(appearance(appTile(1, std::string("e\xcc\x81") + "cran", "x")).glyph, "e\xcc\x81");
    EXPECT_EQ(appearance(appTile(1, "", "x")).glyph, "");
}

TEST(TileAppearanceTest, ActionAndShortcutTilesShowTheirSymbolOrADefault) {
    DeckTile action = actionTile(BuiltinAction::volumeUp, 1);
    EXPECT_EQ(appearance(action).glyph, "speaker.wave.3.fill");
    action.iconSymbol.reset();
    EXPECT_EQ(appearance(action).glyph, "slider.horizontal.3");
    EXPECT_EQ(appearance(action).gradient[1], (TileColor{0.04, 0.52, 1.0}));

    DeckTile shortcut = shortcutTile(2, "Lights", "id", "lightbulb");
    EXPECT_EQ(appearance(shortcut).glyph, "lightbulb");
    shortcut.iconSymbol.reset();
    EXPECT_EQ(appearance(shortcut).glyph, "arrow.triangle.turn.up.right.diamond.fill");
    EXPECT_EQ(appearance(shortcut).gradient[0], (TileColor{0.98, 0.55, 0.2}));
}

TEST(FirstCharacterTest, KeepsMarksJoinersAndFlagsTogether) {
    EXPECT_EQ(firstCharacter("abc"), "a");
    EXPECT_EQ(firstCharacter("\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa!"),
              "\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa");
    EXPECT_EQ(firstCharacter("\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb x"),
              "\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb");  // woman + ZWJ + laptop
    // An invalid byte and a truncated sequence each become U+FFFD.
    EXPECT_EQ(firstCharacter(std::string("\xff") + "abc"), "\xef\xbf\xbd");
    EXPECT_EQ(firstCharacter("\xe2\x82"), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace velopad
