#include "ui_kit/deck_typography.h"

#include <gtest/gtest.h>

namespace velopad {
namespace {

using namespace DeckTypography;

TEST(DeckTypographyTest, FaceNamesFollowTheWeightThresholds) {
    EXPECT_EQ(faceName(Family::hand, Weight::semibold), "Caveat-Bold");
    EXPECT_EQ(faceName(Family::hand, Weight::medium), "Caveat-Regular");
    EXPECT_EQ(faceName(Family::display, Weight::semibold), "BarlowCondensed-SemiBold");
    EXPECT_EQ(faceName(Family::display, Weight::medium), "BarlowCondensed-Medium");
    EXPECT_EQ(faceName(Family::ui, Weight::regular), "SpaceGrotesk-Regular");
    EXPECT_EQ(faceName(Family::ui, Weight::ultraLight), "SpaceGrotesk-Regular");
    EXPECT_EQ(faceName(Family::ui, Weight::bold), "SpaceGrotesk-Bold");
    EXPECT_EQ(faceName(Family::ui, Weight::black), "SpaceGrotesk-Bold");

    struct Case {
        int weight;
        const char* ui;
        const char* hand;
    };
    const Case cases[] = {{450, "SpaceGrotesk-Regular", "Caveat-Regular"},
                          {451, "SpaceGrotesk-Medium", "Caveat-Regular"},
                          {550, "SpaceGrotesk-Medium", "Caveat-Regular"},
                          {599, "SpaceGrotesk-SemiBold", "Caveat-Regular"},
                          {600, "SpaceGrotesk-SemiBold", "Caveat-Bold"},
                          {650, "SpaceGrotesk-SemiBold", "Caveat-Bold"},
                          {651, "SpaceGrotesk-Bold", "Caveat-Bold"}};
    for (const Case& c : cases) {
        EXPECT_EQ(faceName(Family::ui, c.weight), c.ui) << c.weight;
        EXPECT_EQ(faceName(Family::hand, c.weight), c.hand) << c.weight;
    }
}

TEST(DeckTypographyTest, PointSizesPerTextStyle) {
    EXPECT_EQ(pointSize(TextStyle::largeTitle), 34);
    EXPECT_EQ(pointSize(TextStyle::title2), 22);
    EXPECT_EQ(pointSize(TextStyle::headline), 17);
    EXPECT_EQ(pointSize(TextStyle::subheadline), 15);
    EXPECT_EQ(pointSize(TextStyle::callout), 16);
    EXPECT_EQ(pointSize(TextStyle::caption2), 11);
}

TEST(DeckTypographyTest, OnboardingCaptionUsesAnEmDash) {
    EXPECT_EQ(onboardingCaption, "Tap a key \xe2\x80\x94 the Mac opens it.");
}

}  // namespace
}  // namespace velopad
