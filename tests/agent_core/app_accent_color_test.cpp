// Accent colours of icons: vivid pixels dominate, grey and transparent icons still get one.

#include "agent_core/app_accent_color.h"

#include <gtest/gtest.h>

namespace velopad {
namespace {

RgbaImage filled(int side, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    RgbaImage image{side, side, {}};
    for (int i = 0; i < side * side; ++i) image.pixels.insert(image.pixels.end(), {r, g, b, a});
    return image;
}

void expectColor(const std::optional<RgbColor>& color, double r, double g, double b) {
    ASSERT_TRUE(color);
    EXPECT_NEAR(color->red, r, 0.005);
    EXPECT_NEAR(color->green, g, 0.005);
    EXPECT_NEAR(color->blue, b, 0.005);
    EXPECT_EQ(color->alpha, 1.0);
}

TEST(AppAccentColor, VividIconsKeepTheirColourGreyAndDarkOnesAreLiftedAndClearOnesHaveNone) {
    expectColor(accentColor(filled(3, 0, 0, 255, 255)), 0, 0, 1);  // smaller than the sample
    // Grey: hue 0, saturation raised to 0.55, brightness 0.5 raised to 0.75.
    expectColor(accentColor(filled(64, 128, 128, 128, 255)), 0.75, 0.3375, 0.3375);
    // Dark green keeps its hue and saturation, brightness raised to 0.75.
    expectColor(accentColor(filled(16, 0, 51, 0, 255)), 0, 0.75, 0);
    // Pixels at half opacity or less do not count.
    EXPECT_FALSE(accentColor(filled(64, 255, 0, 0, 127)));
    // Premultiplied and back: a 60 % opaque blue is still blue.
    expectColor(accentColor(filled(64, 0, 0, 255, 153)), 0, 0, 1);
    EXPECT_FALSE(accentColor(RgbaImage{4, 4, std::vector<std::uint8_t>(10)}));  // too short
}

TEST(AppAccentColor, VividPixelsOutweighGreyOnes) {
    // Left half saturated red (weight 1.15), right half white (weight 0.15).
    RgbaImage image{8, 8, {}};
    for (int i = 0; i < 64; ++i) {
        const std::uint8_t greenAndBlue = i % 8 < 4 ? 0 : 255;
        image.pixels.insert(image.pixels.end(), {255, greenAndBlue, greenAndBlue, 255});
    }
    const double g = 0.15 / 1.30;  // the white pixels' share of green and blue
    // Average (1, g, g): saturation 1 - g, brightness 1.
    expectColor(accentColor(image), 1, g, g);
}

}  // namespace
}  // namespace velopad
