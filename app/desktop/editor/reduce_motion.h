#pragma once
// Whether the desktop asks for less motion: GNOME's "enable-animations" turned off, or KDE's
// animation speed set to instant (AnimationDurationFactor=0 in kdeglobals).

#include <string_view>

namespace velopad::desktop {

// Reads the settings once; quick enough for the GUI thread (a dconf lookup and a small file).
bool desktopPrefersReducedMotion();

// Whether the text of a kdeglobals file turns animations off.
bool kdeGlobalsTurnAnimationsOff(std::string_view kdeglobals);

}  // namespace velopad::desktop
