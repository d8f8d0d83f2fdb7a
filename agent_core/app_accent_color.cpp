#include "agent_core/app_accent_color.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace velopad {
namespace {

constexpr int kSample = 8;

// Premultiplied RGBA in 0…1.
using Pixel = std::array<double, 4>;

// The image scaled to 8 × 8 by area averaging in premultiplied space, each channel then
// quantised to 8 bits as a bitmap context stores it.
std::array<std::array<std::uint8_t, 4>, kSample * kSample> sample(const RgbaImage& image) {
    std::array<std::array<std::uint8_t, 4>, kSample * kSample> result{};
    const double scaleX = static_cast<double>(image.width) / kSample;
    const double scaleY = static_cast<double>(image.height) / kSample;
    for (int oy = 0; oy < kSample; ++oy) {
        const double y0 = oy * scaleY, y1 = (oy + 1) * scaleY;
        for (int ox = 0; ox < kSample; ++ox) {
            const double x0 = ox * scaleX, x1 = (ox + 1) * scaleX;
            Pixel sum{};
            double area = 0;
            for (int sy = static_cast<int>(y0); sy < image.height && sy < y1; ++sy) {
                const double coverY = std::min<double>(sy + 1, y1) - std::max<double>(sy, y0);
                for (int sx = static_cast<int>(x0); sx < image.width && sx < x1; ++sx) {
                    const double cover =
                        coverY * (std::min<double>(sx + 1, x1) - std::max<double>(sx, x0));
                    if (cover <= 0) continue;
                    const auto* p =
                        &image.pixels[(static_cast<std::size_t>(sy) * image.width + sx) * 4];
                    const double a = p[3] / 255.0;
                    sum[0] += cover * a * p[0] / 255.0;
                    sum[1] += cover * a * p[1] / 255.0;
                    sum[2] += cover * a * p[2] / 255.0;
                    sum[3] += cover * a;
                    area += cover;
                }
            }
            auto& out = result[static_cast<std::size_t>(oy * kSample + ox)];
            for (int c = 0; c < 4; ++c) {
                const double value = area > 0 ? sum[static_cast<std::size_t>(c)] / area : 0;
                out[static_cast<std::size_t>(c)] =
                    static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
            }
        }
    }
    return result;
}

struct Hsv {
    double hue, saturation, value;  // hue in 0…1
};

Hsv toHsv(double r, double g, double b) {
    const double mx = std::max({r, g, b});
    const double mn = std::min({r, g, b});
    const double delta = mx - mn;
    double hue = 0;
    if (delta > 0) {
        if (mx == r) {
            hue = std::fmod((g - b) / delta, 6.0);
        } else if (mx == g) {
            hue = (b - r) / delta + 2;
        } else {
            hue = (r - g) / delta + 4;
        }
        hue /= 6;
        if (hue < 0) hue += 1;
    }
    return {hue, mx > 0 ? delta / mx : 0, mx};
}

RgbColor fromHsv(const Hsv& hsv) {
    const double h = hsv.hue * 6;
    const double c = hsv.value * hsv.saturation;
    const double x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1));
    const double m = hsv.value - c;
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(h) % 6) {
        case 0:
            r = c, g = x;
            break;
        case 1:
            r = x, g = c;
            break;
        case 2:
            g = c, b = x;
            break;
        case 3:
            g = x, b = c;
            break;
        case 4:
            r = x, b = c;
            break;
        default:
            r = c, b = x;
            break;
    }
    return {r + m, g + m, b + m, 1};
}

}  // namespace

const RgbColor& defaultAccent() {
    static const RgbColor accent{0.43, 0.91, 0.96, 1};
    return accent;
}

std::optional<RgbColor> accentColor(const RgbaImage& image) {
    if (!image.isValid()) return std::nullopt;
    double sumR = 0, sumG = 0, sumB = 0, total = 0;
    for (const auto& pixel : sample(image)) {
        const double a = pixel[3] / 255.0;
        if (a <= 0.5) continue;
        const double r = pixel[0] / 255.0 / a;
        const double g = pixel[1] / 255.0 / a;
        const double b = pixel[2] / 255.0 / a;
        const double mx = std::max({r, g, b});
        const double mn = std::min({r, g, b});
        const double weight = mx > 0 ? (mx - mn) / mx + 0.15 : 0.15;
        sumR += r * weight;
        sumG += g * weight;
        sumB += b * weight;
        total += weight;
    }
    if (total == 0) return std::nullopt;
    const Hsv hsv = toHsv(std::min(sumR / total, 1.0), std::min(sumG / total, 1.0),
                          std::min(sumB / total, 1.0));
    return fromHsv({hsv.hue, std::max(hsv.saturation, 0.55), std::max(hsv.value, 0.75)});
}

}  // namespace velopad
