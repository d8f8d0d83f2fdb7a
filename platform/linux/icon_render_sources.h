#pragma once
// The icon sources of the two icon providers, bound to desktop entries and the user's icon
// theme. Each render reads the environment (XDG folders, theme choice) afresh.

#include <filesystem>
#include <optional>

#include "agent_core/app_icon_provider.h"
#include "agent_core/shortcut_icon_provider.h"
#include "platform/linux/icon_theme.h"

namespace velopad {

// The icon theme as the user has it now.
IconThemeLookup currentIconTheme();

// The icon of the desktop entry at `desktopFile` (its "Icon" key, a theme icon name or an
// absolute path) as a 128 × 128 PNG. Nothing when the entry names no icon that can be found
// and rendered.
std::optional<PngBytes> renderDesktopEntryIcon(const std::filesystem::path& desktopFile,
                                               const IconThemeLookup& theme);

// The generic application icon ("application-x-executable") as a 128 × 128 PNG.
std::optional<PngBytes> renderGenericApplicationIcon(const IconThemeLookup& theme);

// Applications: `url` is the application's desktop entry; its modification time is the
// application's content-modification date. An entry without a usable icon shows the generic
// application icon, as a file manager would.
AppIconSource desktopAppIconSource();

// Shortcuts: each is a desktop entry "<identifier>.desktop" in `shortcutsDirectory` whose
// optional "Icon" key names its icon. A Shortcut without an icon has none.
ShortcutIconSource desktopShortcutIconSource(std::filesystem::path shortcutsDirectory);

}  // namespace velopad
