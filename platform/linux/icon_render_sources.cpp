#include "platform/linux/icon_render_sources.h"

#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
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

// Path, size and modification time of a file; empty text when it cannot be examined.
std::string fileStamp(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) return {};
    return file.string() + '\n' + std::to_string(status.st_size) + '\n' +
           std::to_string(status.st_mtim.tv_sec) + '.' + std::to_string(status.st_mtim.tv_nsec);
}

// The stamp of the icon file the entry at `desktopFile` shows, resolved lately: a theme lookup
// examines hundreds of folders, so which file an entry shows is looked up again only when the entry
// or the theme changed or after a few seconds; the file itself is examined every time.
std::string recentEntryIconStamp(const fs::path& desktopFile, const std::string& themeName) {
    using Clock = std::chrono::steady_clock;
    constexpr auto trustFor = std::chrono::seconds(5);
    static std::mutex mutex;
    static std::map<std::string, std::pair<Clock::time_point, std::optional<fs::path>>> resolved;

    std::error_code error;
    const auto modified = fs::last_write_time(desktopFile, error);
    const std::string key = desktopFile.string() + '\n' + themeName + '\n' +
                            std::to_string(modified.time_since_epoch().count());
    const auto now = Clock::now();
    std::optional<fs::path> iconFile;
    bool known = false;
    {
        std::lock_guard lock(mutex);
        if (auto it = resolved.find(key);
            it != resolved.end() && now - it->second.first < trustFor) {
            iconFile = it->second.second;
            known = true;
        }
    }
    if (!known) {
        const std::string iconName = desktopEntryIconName(desktopFile);
        if (!iconName.empty()) {
            iconFile = IconThemeLookup(IconSearchPaths::fromEnvironment(), themeName)
                           .find(iconName, kIconSide);
        }
        std::lock_guard lock(mutex);
        if (resolved.size() >= 512) resolved.clear();
        resolved.insert_or_assign(key, std::make_pair(now, iconFile));
    }
    return iconFile ? fileStamp(*iconFile) : std::string();
}

// The entry a Shortcut identifier names: the first spelling that is a file, else any file whose
// name matches ignoring case.
std::optional<fs::path> shortcutEntryFile(const fs::path& directory,
                                          const std::string& identifier) {
    if (!isSafeStem(identifier)) return std::nullopt;
    std::error_code error;
    for (const std::string& candidate :
         {identifier, changeCase(identifier, ::tolower), changeCase(identifier, ::toupper)}) {
        const fs::path file = directory / (candidate + std::string(kDesktopSuffix));
        if (fs::is_regular_file(file, error)) return file;
    }
    const std::string wanted = changeCase(identifier, ::tolower);
    for (const auto& file : desktopEntries(directory)) {
        if (changeCase(file.stem().string(), ::tolower) == wanted) return file;
    }
    return std::nullopt;
}

std::string shortcutStamp(const fs::path& directory, const std::string& identifier) {
    const auto file = shortcutEntryFile(directory, identifier);
    if (!file) return {};
    return fileStamp(*file) + '\n' +
           recentEntryIconStamp(*file, IconThemeLookup::currentThemeName());
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
    source.iconStamp = [](const fs::path& url, const std::string& appearance) {
        return recentEntryIconStamp(url, appearance);
    };
    return source;
}

ShortcutIconSource desktopShortcutIconSource(fs::path shortcutsDirectory) {
    ShortcutIconSource source;
    source.fetchIcon = [directory = shortcutsDirectory](const std::string& identifier) {
        return fetchShortcutIcon(directory, identifier);
    };
    source.fetchAllIcons = [directory = shortcutsDirectory] {
        return fetchAllShortcutIcons(directory);
    };
    source.stamp = [directory = std::move(shortcutsDirectory)](const std::string& identifier) {
        return shortcutStamp(directory, identifier);
    };
    source.appearance = [] { return IconThemeLookup::currentThemeName(); };
    return source;
}

}  // namespace velopad
