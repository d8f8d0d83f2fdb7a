// The built-in type faces and the glyph table's icons.

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>

#include "app/desktop/glyphs.h"
#include "qt_application.h"
#include "ui_kit/glyph_table.h"

namespace velopad {
namespace {

using DeckTypography::Family;

TEST(TypographyFont, ResolvesEveryFaceTheTypographyNames) {
    testing::qtApplication();
    const struct {
        Family family;
        int weight;
        const char* name;
        const char* style;
    } cases[] = {
        {Family::ui, 400, "Space Grotesk", "Regular"},
        {Family::ui, 600, "Space Grotesk", "SemiBold"},
        {Family::ui, 900, "Space Grotesk", "Bold"},
        {Family::display, 700, "Barlow Condensed", "Bold"},
        {Family::hand, 600, "Caveat", "Bold"},
    };
    for (const auto& c : cases) {
        const QFontInfo info(desktop::typographyFont(c.family, c.weight, 17));
        EXPECT_EQ(info.family().toStdString() + " " + info.styleName().toStdString(),
                  std::string(c.name) + " " + c.style)
            << c.weight;
        EXPECT_NEAR(info.pointSizeF(), 17, 0.5);  // rounded to whole pixels
    }
}

// The painted pixels of a glyph; solid ones must have the asked-for colour (faint edge pixels
// lose precision to premultiplied alpha).
int paintedPixels(const QPixmap& pixmap, QColor color, std::string_view symbol) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int painted = 0, wrong = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            painted += pixel.alpha() > 0;
            wrong += pixel.alpha() == 255 && pixel.rgb() != color.rgb();
        }
    }
    EXPECT_EQ(wrong, 0) << symbol;
    return painted;
}

TEST(GlyphPixmap, EveryTableSymbolDrawsATintedIconAndAnUnknownSymbolTheNeutralOne) {
    testing::qtApplication();
    const QColor orange(255, 149, 0);
    for (const auto& entry : GlyphTable::entries()) {
        EXPECT_GT(
            paintedPixels(desktop::glyphPixmap(entry.symbol, 32, orange), orange, entry.symbol), 20)
            << entry.symbol << " → " << entry.file;
    }

    EXPECT_FALSE(GlyphTable::contains("no.such.symbol"));
    const QPixmap unknown = desktop::glyphPixmap("no.such.symbol", 24, Qt::black);
    const QImage neutral = desktop::glyphPixmap("", 24, Qt::black).toImage();
    EXPECT_EQ(unknown.toImage(), neutral);
    EXPECT_GT(paintedPixels(unknown, Qt::black, "neutral"), 20);
    EXPECT_NE(desktop::glyphPixmap("globe", 24, Qt::black).toImage(), neutral);
}

}  // namespace
}  // namespace velopad
