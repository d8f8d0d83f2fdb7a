#pragma once
// The installed applications as the desktop's menus show them: the application entries GIO
// lists that should be shown (NoDisplay, Hidden, OnlyShowIn and NotShowIn respected).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "agent_core/installed_apps_catalog.h"

namespace velopad {

// The shown entries, each desktop-file ID once (the entry GIO prefers for it), labelled with
// their Name (the ID when Name is empty), sorted by label with a case-insensitive comparison in
// the current locale; equal labels keep GIO's order. Blocking.
std::vector<AppBundleInfo> scanApplicationBundles();

// Lower case (Unicode), every space removed: "Alpha Beta" → "alphabeta".
std::string iconNameForLabel(const std::string& label);

// The entry's icon (or the generic application icon when it has none) at `side` × `side`
// pixels. Blocking.
std::optional<RgbaImage> desktopEntryIconImage(const std::filesystem::path& desktopFile,
                                               int side = kInstalledAppIconSide);

// The two above, for loadInstalledApps.
InstalledAppsSource linuxInstalledAppsSource();

}  // namespace velopad
