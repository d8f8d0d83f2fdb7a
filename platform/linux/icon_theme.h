#pragma once
// Icon lookup as the freedesktop Icon Theme Specification describes it: the user's theme and the
// themes it inherits from, then "hicolor", then the plain pixmap folders. Absolute icon paths
// are taken as they are. Lookups read the disk every time; nothing is cached.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velopad {

struct IconSearchPaths {
    std::vector<std::filesystem::path> baseDirs;  // each holds <theme>/index.theme and its folders
    std::vector<std::filesystem::path> pixmapDirs;  // un-themed icons, looked up by file name

    // $HOME/.icons, $XDG_DATA_HOME/icons, each $XDG_DATA_DIRS/icons; then /usr/share/pixmaps.
    static IconSearchPaths fromEnvironment();
};

class IconThemeLookup {
  public:
    IconThemeLookup(IconSearchPaths paths, std::string themeName);

    // The file that best shows `iconName` at `size` pixels, or nothing.
    [[nodiscard]] std::optional<std::filesystem::path> find(std::string_view iconName,
                                                            int size) const;

    [[nodiscard]] const std::string& themeName() const noexcept { return themeName_; }

    // The user's chosen icon theme, read afresh on every call: on Plasma, kdeglobals'
    // [Icons] Theme; then GNOME's GSettings org.gnome.desktop.interface icon-theme where the
    // schema is installed (its default only on GNOME itself); then gtk-icon-theme-name from
    // the GTK settings files; else "hicolor".
    static std::string currentThemeName();

  private:
    IconSearchPaths paths_;
    std::string themeName_;
};

}  // namespace velopad
