// Rendering icon files into square PNGs without a display.

#include "platform/linux/icon_render.h"

#include <gtest/gtest.h>

#include "tests/support/icon_test_support.h"

namespace velopad {
namespace {

class IconRenderTest : public testing::SandboxTest {
  protected:
    // The rendered icon, decoded; it must be 128 × 128.
    testing::DecodedPng rendered(const std::filesystem::path& file) {
        const auto png = renderIconPng(file);
        auto image = png ? testing::decodePng(*png) : std::nullopt;
        EXPECT_TRUE(image && image->width == 128 && image->height == 128) << file;
        return image.value_or(testing::DecodedPng{128, 128, std::vector<std::uint8_t>(65536)});
    }
};

TEST_F(IconRenderTest, FitsBitmapsAndSvgsCentredOnTransparency) {
    testing::writeSolidPng(sandbox.root() / "wide.png", 4, 2, 0xFF0000);
    const auto wide = rendered(sandbox.root() / "wide.png");
    EXPECT_EQ(wide.alpha(64, 0), 0);    // above the band
    EXPECT_EQ(wide.alpha(64, 127), 0);  // below it
    EXPECT_EQ(wide.pixel(0, 64), 0xFF0000FFU);
    EXPECT_EQ(wide.pixel(127, 40), 0xFF0000FFU);
    EXPECT_EQ(wide.pixel(64, 87), 0xFF0000FFU);

    testing::writeSolidSvg(sandbox.root() / "tall.svg", 10, 20, "#00ff00");
    const auto tall = rendered(sandbox.root() / "tall.svg");
    EXPECT_EQ(tall.pixel(64, 0), 0x00FF00FFU);
    EXPECT_EQ(tall.pixel(64, 127), 0x00FF00FFU);
    EXPECT_EQ(tall.alpha(5, 64), 0);
    EXPECT_EQ(tall.alpha(122, 64), 0);
    EXPECT_EQ(renderIconPng(sandbox.root() / "tall.svg"),
              renderIconPng(sandbox.root() / "tall.svg"));
}

TEST_F(IconRenderTest, UnreadableFilesGiveNothing) {
    testing::writeTextFile(sandbox.root() / "broken.png", "not an image");
    for (const auto& file :
         {sandbox.root() / "broken.png", sandbox.root() / "missing.svg", sandbox.root()}) {
        EXPECT_EQ(renderIconPng(file), std::nullopt) << file;
    }
}

}  // namespace
}  // namespace velopad
