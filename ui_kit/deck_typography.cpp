#include "ui_kit/deck_typography.h"

namespace velopad::DeckTypography {

std::string_view familyName(Family family) {
    switch (family) {
        case Family::ui:
            return "SpaceGrotesk";
        case Family::display:
            return "BarlowCondensed";
        case Family::hand:
            return "Caveat";
    }
    return "SpaceGrotesk";
}

int weightValue(Weight weight) {
    switch (weight) {
        case Weight::ultraLight:
            return 100;
        case Weight::thin:
            return 200;
        case Weight::light:
            return 300;
        case Weight::regular:
            return 400;
        case Weight::medium:
            return 500;
        case Weight::semibold:
            return 600;
        case Weight::bold:
            return 700;
        case Weight::heavy:
            return 800;
        case Weight::black:
            return 900;
    }
    return 400;
}

std::string faceName(Family family, int weight) {
    std::string_view style;
    if (family == Family::hand) {
        style = weight >= 600 ? "Bold" : "Regular";
    } else if (weight <= 450) {
        style = "Regular";
    } else if (weight <= 550) {
        style = "Medium";
    } else if (weight <= 650) {
        style = "SemiBold";
    } else {
        style = "Bold";
    }
    std::string name(familyName(family));
    name += '-';
    name += style;
    return name;
}

std::string faceName(Family family, Weight weight) { return faceName(family, weightValue(weight)); }

double pointSize(TextStyle style) {
    switch (style) {
        case TextStyle::largeTitle:
            return 34;
        case TextStyle::title:
            return 28;
        case TextStyle::title2:
            return 22;
        case TextStyle::title3:
            return 20;
        case TextStyle::headline:
            return 17;
        case TextStyle::subheadline:
            return 15;
        case TextStyle::body:
            return 17;
        case TextStyle::callout:
            return 16;
        case TextStyle::footnote:
            return 13;
        case TextStyle::caption:
            return 12;
        case TextStyle::caption2:
            return 11;
    }
    return 17;
}

}  // namespace velopad::DeckTypography
