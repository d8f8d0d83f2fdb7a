#pragma once
// The product's type faces: which font face a family and weight resolve to, and the point
// size of each text style. The font files themselves are registered by the desktop shell.

#include <string>
#include <string_view>

namespace velopad::DeckTypography {

enum class Family { ui, display, hand };

// "SpaceGrotesk", "BarlowCondensed", "Caveat".
std::string_view familyName(Family family);

enum class Weight { ultraLight, thin, light, regular, medium, semibold, bold, heavy, black };

// 100 (ultra-light) to 900 (black) in steps of 100.
int weightValue(Weight weight);

// Family name + "-" + style. `ui` and `display`: up to 450 "Regular", up to 550 "Medium", up to
// 650 "SemiBold", above "Bold". `hand`: 600 and above "Bold", otherwise "Regular".
std::string faceName(Family family, int weight);
std::string faceName(Family family, Weight weight);

enum class TextStyle {
    largeTitle,
    title,
    title2,
    title3,
    headline,
    subheadline,
    body,
    callout,
    footnote,
    caption,
    caption2,
};

// Point size of a text style: large title 34 down to caption 2 11.
double pointSize(TextStyle style);

// Caption for onboarding views.
inline constexpr std::string_view onboardingCaption = "Tap a key \u2014 the Mac opens it.";

}  // namespace velopad::DeckTypography
