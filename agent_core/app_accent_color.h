#pragma once
// The accent colour of an application icon, used by the deck editor's library and key cells:
// the icon's vivid pixels averaged, kept bright and coloured.

#include <cstdint>
#include <optional>
#include <vector>

namespace velopad {

// An image as rows of RGBA pixels, 8 bits a channel, not premultiplied.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width × height × 4 bytes

    bool isValid() const {
        return width > 0 && height > 0 &&
               pixels.size() == static_cast<std::size_t>(width) * height * 4;
    }
    friend bool operator==(const RgbaImage&, const RgbaImage&) = default;
};

// An sRGB colour, every channel in 0…1.
struct RgbColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    friend bool operator==(const RgbColor&, const RgbColor&) = default;
};

// sRGB 0.43, 0.91, 0.96, opaque: the accent of icons that give none.
const RgbColor& defaultAccent();

// The icon drawn into 8 × 8 pixels; each pixel above half opacity counts, weighted by its
// saturation ((max − min) / max, plus 0.15 so grey pixels still count); the weighted average
// becomes a colour whose saturation is at least 0.55 and brightness at least 0.75. Nothing
// for an invalid image or one without a pixel above half opacity.
std::optional<RgbColor> accentColor(const RgbaImage& image);

}  // namespace velopad
