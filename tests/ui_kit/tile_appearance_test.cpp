// How a key looks: its glyph, colours and type faces.

#include "ui_kit/tile_appearance.h"

#include <gtest/gtest.h>

#include "protocol/deck_tile_factories.h"
#include "ui_kit/deck_typography.h"
#include "ui_kit/first_character.h"

namespace velopad {
namespace {

TEST(TileAppearanceTest, AppTilesUseTheirIconNameThenTheirLabelThenTheirFirstLetterOnBlue) {
    EXPECT_EQ(appearance(appTile(1, "Chat", "discord", "discord")).glyph,
              "bubble.left.and.bubble.right.fill");
    EXPECT_EQ(appearance(appTile(1, "Safari", "org.example.browser")).glyph, "safari.fill");

    const TileAppearance steam = appearance(appTile(1, "Steam", "steam", "steam"));
    EXPECT_EQ(steam.glyph, "S");
    EXPECT_EQ(steam.gradient,
              (std::array{TileColor{0.22, 0.51, 0.96}, TileColor{0.11, 0.31, 0.85}}));
    EXPECT_EQ(appearance(appTile(1, std::string("e\xcc\x81") + "cran", "x")).glyph, "e\xcc\x81");
}

TEST(TileAppearanceTest, ActionAndShortcutTilesShowTheirSymbolOrADefault) {
    DeckTile action = actionTile(BuiltinAction::volumeUp, 1);
    EXPECT_EQ(appearance(action).glyph, "speaker.wave.3.fill");
    action.iconSymbol.reset();
    EXPECT_EQ(appearance(action).glyph, "slider.horizontal.3");

    DeckTile shortcut = shortcutTile(2, "Lights", "id", "lightbulb");
    EXPECT_EQ(appearance(shortcut).glyph, "lightbulb");
    shortcut.iconSymbol.reset();
    EXPECT_EQ(appearance(shortcut).glyph, "arrow.triangle.turn.up.right.diamond.fill");
}

TEST(FirstCharacterTest, KeepsMarksJoinersAndFlagsTogether) {
    EXPECT_EQ(firstCharacter("\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa!"),
              "\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa");
    EXPECT_EQ(firstCharacter("\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb x"),
              "\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb");  // woman + ZWJ + laptop
    // An invalid byte and a truncated sequence each become U+FFFD.
    EXPECT_EQ(firstCharacter(std::string("\xff") + "abc"), "\xef\xbf\xbd");
    EXPECT_EQ(firstCharacter("\xe2\x82"), "\xef\xbf\xbd");
}

TEST(DeckTypographyTest, FaceNamesFollowTheWeightThresholds) {
    using namespace DeckTypography;
    EXPECT_EQ(faceName(Family::display, Weight::semibold), "BarlowCondensed-SemiBold");
    EXPECT_EQ(faceName(Family::display, Weight::medium), "BarlowCondensed-Medium");
    const struct {
        int weight;
        const char *ui, *hand;
    } cases[] = {{450, "SpaceGrotesk-Regular", "Caveat-Regular"},
                 {451, "SpaceGrotesk-Medium", "Caveat-Regular"},
                 {550, "SpaceGrotesk-Medium", "Caveat-Regular"},
                 {599, "SpaceGrotesk-SemiBold", "Caveat-Regular"},
                 {600, "SpaceGrotesk-SemiBold", "Caveat-Bold"},
                 {650, "SpaceGrotesk-SemiBold", "Caveat-Bold"},
                 {651, "SpaceGrotesk-Bold", "Caveat-Bold"}};
    for (const auto& c : cases) {
        EXPECT_EQ(faceName(Family::ui, c.weight), c.ui) << c.weight;
        EXPECT_EQ(faceName(Family::hand, c.weight), c.hand) << c.weight;
    }
}

}  // namespace
}  // namespace velopad
