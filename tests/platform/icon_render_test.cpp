// Rendering icon files into square PNGs without a display.

#include "platform/linux/icon_render.h"

#include <gtest/gtest.h>

#include "tests/support/icon_test_support.h"

namespace velopad {
namespace {

using testing::decodePng;

class IconRenderTest : public testing::SandboxTest {};

TEST_F(IconRenderTest, ScalesABitmapToFitAndCentresItOnTransparency) {
    const auto file = sandbox.root() / "wide.png";
    testing::writeSolidPng(file, 4, 2, 0xFF0000);
    const auto png = renderIconPng(file);
    ASSERT_TRUE(png);
    const auto image = decodePng(*png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 128);
    EXPECT_EQ(image->height, 128);
    EXPECT_EQ(image->alpha(64, 0), 0);    // above the band
    EXPECT_EQ(image->alpha(64, 127), 0);  // below it
    EXPECT_EQ(image->pixel(0, 64), 0xFF0000FFU);
    EXPECT_EQ(image->pixel(127, 40), 0xFF0000FFU);
    EXPECT_EQ(image->pixel(64, 87), 0xFF0000FFU);
}

TEST_F(IconRenderTest, DrawsAnSvgAtTheTargetSize) {
    const auto file = sandbox.root() / "tall.svg";
    testing::writeSolidSvg(file, 10, 20, "#00ff00");
    const auto png = renderIconPng(file);
    ASSERT_TRUE(png);
    const auto image = decodePng(*png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 128);
    EXPECT_EQ(image->height, 128);
    EXPECT_EQ(image->pixel(64, 0), 0x00FF00FFU);
    EXPECT_EQ(image->pixel(64, 127), 0x00FF00FFU);
    EXPECT_EQ(image->alpha(5, 64), 0);
    EXPECT_EQ(image->alpha(122, 64), 0);
}

TEST_F(IconRenderTest, SameFileGivesTheSameBytes) {
    const auto file = sandbox.root() / "icon.svg";
    testing::writeSolidSvg(file, 16, 16, "#123456");
    EXPECT_EQ(renderIconPng(file), renderIconPng(file));
}

TEST_F(IconRenderTest, UnreadableFilesGiveNothing) {
    testing::writeTextFile(sandbox.root() / "broken.png", "not an image");
    EXPECT_EQ(renderIconPng(sandbox.root() / "broken.png"), std::nullopt);
    EXPECT_EQ(renderIconPng(sandbox.root() / "missing.svg"), std::nullopt);
    EXPECT_EQ(renderIconPng(sandbox.root()), std::nullopt);
}

}  // namespace
}  // namespace velopad
