#include "platform/linux/icon_render_sources.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/icon_render.h"

namespace velopad {
namespace fs = std::filesystem;
namespace {

constexpr const char* kDesktopGroup = "Desktop Entry";
constexpr std::string_view kDesktopSuffix = ".desktop";

// The entry's "Icon" value (localised where the entry has a translation), or empty text.
std::string desktopEntryIconName(const fs::path& desktopFile) {
    GKeyFile* file = g_key_file_new();
    std::string name;
    if (g_key_file_load_from_file(file, desktopFile.c_str(), G_KEY_FILE_NONE, nullptr)) {
        gchar* value = g_key_file_get_locale_string(file, kDesktopGroup, "Icon", nullptr, nullptr);
        if (value != nullptr) {
            name = value;
            g_free(value);
        }
    }
    g_key_file_free(file);
    return name;
}

std::string changeCase(std::string text, int (*convert)(int)) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [convert](unsigned char c) { return static_cast<char>(convert(c)); });
    return text;
}

// Identifiers come from the network: only plain file-name stems are looked up.
bool isSafeStem(const std::string& identifier) {
    return !identifier.empty() && identifier.front() != '.' &&
           identifier.find('/') == std::string::npos && identifier.find('\0') == std::string::npos;
}

// The "*.desktop" files of `directory`, sorted by name so every listing has one order.
std::vector<fs::path> desktopEntries(const fs::path& directory) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path& path = it->path();
        if (path.extension() == kDesktopSuffix && it->is_regular_file(error)) {
            entries.push_back(path);
        }
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::optional<PngBytes> renderShortcutEntry(const fs::path& desktopFile,
                                            const IconThemeLookup& theme) {
    const std::string iconName = desktopEntryIconName(desktopFile);
    if (iconName.empty()) {
        return std::nullopt;
    }
    const auto iconFile = theme.find(iconName, kIconSide);
    return iconFile ? renderIconPng(*iconFile) : std::nullopt;
}

std::optional<PngBytes> fetchShortcutIcon(const fs::path& directory,
                                          const std::string& identifier) {
    if (!isSafeStem(identifier)) {
        return std::nullopt;
    }
    const IconThemeLookup theme = currentIconTheme();
    std::vector<std::string> candidates;
    for (std::string candidate :
         {identifier, changeCase(identifier, ::tolower), changeCase(identifier, ::toupper)}) {
        if (std::find(candidates.begin(), candidates.end(), candidate) == candidates.end()) {
            candidates.push_back(std::move(candidate));
        }
    }
    std::error_code error;
    for (const auto& candidate : candidates) {
        const fs::path file = directory / (candidate + std::string(kDesktopSuffix));
        if (fs::is_regular_file(file, error)) {
            if (auto png = renderShortcutEntry(file, theme)) {
                return png;
            }
        }
    }
    // Any other spelling of the identifier: the first entry that matches ignoring case.
    const std::string wanted = changeCase(identifier, ::tolower);
    for (const auto& file : desktopEntries(directory)) {
        if (changeCase(file.stem().string(), ::tolower) == wanted &&
            !desktopEntryIconName(file).empty()) {
            return renderShortcutEntry(file, theme);
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, PngBytes>> fetchAllShortcutIcons(const fs::path& directory) {
    const IconThemeLookup theme = currentIconTheme();
    std::vector<std::pair<std::string, PngBytes>> icons;
    for (const auto& file : desktopEntries(directory)) {
        if (auto png = renderShortcutEntry(file, theme)) {
            icons.emplace_back(file.stem().string(), std::move(*png));
        }
    }
    return icons;
}

}  // namespace

IconThemeLookup currentIconTheme() {
    return IconThemeLookup(IconSearchPaths::fromEnvironment(), IconThemeLookup::currentThemeName());
}

std::optional<PngBytes> renderDesktopEntryIcon(const fs::path& desktopFile,
                                               const IconThemeLookup& theme) {
    return renderShortcutEntry(desktopFile, theme);
}

std::optional<PngBytes> renderGenericApplicationIcon(const IconThemeLookup& theme) {
    constexpr std::string_view kGenericIcon = "application-x-executable";
    auto iconFile = theme.find(kGenericIcon, kIconSide);
    if (!iconFile) {
        // hicolor has no generic icons; Adwaita is the usual place for them.
        iconFile = IconThemeLookup(IconSearchPaths::fromEnvironment(), "Adwaita")
                       .find(kGenericIcon, kIconSide);
    }
    return iconFile ? renderIconPng(*iconFile) : std::nullopt;
}

AppIconSource desktopAppIconSource() {
    AppIconSource source;
    source.contentModificationDate = [](const fs::path& url) -> std::optional<fs::file_time_type> {
        std::error_code error;
        const auto modified = fs::last_write_time(url, error);
        if (error) {
            return std::nullopt;
        }
        return modified;
    };
    source.renderIcon = [](const fs::path& url) -> std::optional<PngBytes> {
        const IconThemeLookup theme = currentIconTheme();
        if (auto png = renderDesktopEntryIcon(url, theme)) {
            return png;
        }
        return renderGenericApplicationIcon(theme);
    };
    source.appearance = [] { return IconThemeLookup::currentThemeName(); };
    return source;
}

ShortcutIconSource desktopShortcutIconSource(fs::path shortcutsDirectory) {
    ShortcutIconSource source;
    source.fetchIcon = [directory = shortcutsDirectory](const std::string& identifier) {
        return fetchShortcutIcon(directory, identifier);
    };
    source.fetchAllIcons = [directory = std::move(shortcutsDirectory)] {
        return fetchAllShortcutIcons(directory);
    };
    source.appearance = [] { return IconThemeLookup::currentThemeName(); };
    return source;
}

}  // namespace velopad
