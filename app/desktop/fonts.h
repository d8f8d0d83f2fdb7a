#pragma once
// The product's type faces, built into the binary and registered for this process.

#include <QFont>

#include "ui_kit/deck_typography.h"

namespace velopad::desktop {

// Registers every built-in font file with the application's font database. Once per process;
// later calls do nothing. Needs a QGuiApplication.
void registerFonts();

// The font of `family` at `weight` (100 to 900) and `pointSize`: the face that
// DeckTypography::faceName names ("SpaceGrotesk-SemiBold", "Caveat-Bold", …).
QFont typographyFont(DeckTypography::Family family, int weight, qreal pointSize);

}  // namespace velopad::desktop
