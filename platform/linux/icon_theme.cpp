#include "platform/linux/icon_theme.h"

#include <gio/gio.h>
#include <glib.h>
#include <sys/stat.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace velopad {
namespace fs = std::filesystem;
namespace {

constexpr std::array<std::string_view, 3> kExtensions{".png", ".svg", ".xpm"};

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileDeleter>;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::vector<std::string> splitPathList(const std::string& list) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        if (end > start) {
            parts.push_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

KeyFile loadKeyFile(const fs::path& file) {
    KeyFile keyFile(g_key_file_new());
    g_key_file_set_list_separator(keyFile.get(), ',');
    if (!g_key_file_load_from_file(keyFile.get(), file.c_str(), G_KEY_FILE_NONE, nullptr)) {
        return nullptr;
    }
    return keyFile;
}

std::string readString(GKeyFile* file, const char* group, const char* key) {
    gchar* value = g_key_file_get_string(file, group, key, nullptr);
    std::string text = value != nullptr ? value : "";
    g_free(value);
    return text;
}

int readInt(GKeyFile* file, const char* group, const char* key, int fallback) {
    GError* error = nullptr;
    const int value = g_key_file_get_integer(file, group, key, &error);
    if (error != nullptr) {
        g_error_free(error);
        return fallback;
    }
    return value;
}

std::vector<std::string> readList(GKeyFile* file, const char* group, const char* key) {
    std::vector<std::string> items;
    gsize count = 0;
    gchar** values = g_key_file_get_string_list(file, group, key, &count, nullptr);
    for (gsize i = 0; i < count; ++i) {
        if (values[i][0] != '\0') {
            items.emplace_back(values[i]);
        }
    }
    g_strfreev(values);
    return items;
}

enum class DirectoryType { fixed, scalable, threshold };

struct ThemeDirectory {
    std::string subdir;
    DirectoryType type = DirectoryType::threshold;
    int size = 0;
    int minSize = 0;
    int maxSize = 0;
    int threshold = 2;

    [[nodiscard]] int distanceTo(int wanted) const {
        int low = size;
        int high = size;
        if (type == DirectoryType::scalable) {
            low = minSize;
            high = maxSize;
        } else if (type == DirectoryType::threshold) {
            low = size - threshold;
            high = size + threshold;
        }
        if (wanted < low) {
            return low - wanted;
        }
        return wanted > high ? wanted - high : 0;
    }
};

struct ThemeIndex {
    std::vector<std::string> inherits;
    std::vector<ThemeDirectory> directories;
};

bool isPlainName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

// The index of `theme` from the first base folder that has one (the icon theme standard's rule);
// its folder list applies to the same theme in every base folder.
std::optional<ThemeIndex> loadTheme(const IconSearchPaths& paths, const std::string& theme) {
    for (const auto& base : paths.baseDirs) {
        const KeyFile file = loadKeyFile(base / theme / "index.theme");
        if (!file) {
            continue;
        }
        ThemeIndex index;
        index.inherits = readList(file.get(), "Icon Theme", "Inherits");
        for (const auto& subdir : readList(file.get(), "Icon Theme", "Directories")) {
            const char* group = subdir.c_str();
            if (!g_key_file_has_group(file.get(), group) ||
                readInt(file.get(), group, "Scale", 1) != 1) {
                continue;
            }
            ThemeDirectory directory;
            directory.subdir = subdir;
            directory.size = readInt(file.get(), group, "Size", 0);
            directory.minSize = readInt(file.get(), group, "MinSize", directory.size);
            directory.maxSize = readInt(file.get(), group, "MaxSize", directory.size);
            directory.threshold = readInt(file.get(), group, "Threshold", 2);
            const std::string type = readString(file.get(), group, "Type");
            directory.type = type == "Fixed"      ? DirectoryType::fixed
                             : type == "Scalable" ? DirectoryType::scalable
                                                  : DirectoryType::threshold;
            index.directories.push_back(std::move(directory));
        }
        return index;
    }
    return std::nullopt;
}

bool isDirectory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool isRegularFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Theme indexes as last read, each checked against its index.theme file on every use (a stat
// per base folder), so a batch of lookups parses each index once.
std::shared_ptr<const ThemeIndex> cachedTheme(const IconSearchPaths& paths,
                                              const std::string& theme) {
    struct Entry {
        std::string file;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        std::shared_ptr<const ThemeIndex> index;
    };
    static std::mutex mutex;
    static std::map<std::string, Entry> cache;

    std::string key = theme;
    Entry current;
    for (const auto& base : paths.baseDirs) {
        key += '\n' + base.string();
        if (!current.file.empty()) continue;
        const std::string file = base.string() + '/' + theme + "/index.theme";
        struct stat status {};
        if (::stat(file.c_str(), &status) == 0) {
            current = {file, status.st_dev, status.st_ino, status.st_size, status.st_mtim, nullptr};
        }
    }
    if (current.file.empty()) return nullptr;
    const auto same = [&current](const Entry& entry) {
        return entry.file == current.file && entry.device == current.device &&
               entry.inode == current.inode && entry.size == current.size &&
               entry.modified.tv_sec == current.modified.tv_sec &&
               entry.modified.tv_nsec == current.modified.tv_nsec;
    };
    {
        std::lock_guard lock(mutex);
        if (auto it = cache.find(key); it != cache.end() && same(it->second)) {
            return it->second.index;
        }
    }
    auto index = loadTheme(paths, theme);
    if (!index) return nullptr;
    current.index = std::make_shared<const ThemeIndex>(std::move(*index));
    std::lock_guard lock(mutex);
    if (cache.size() > 64) cache.clear();
    cache.insert_or_assign(key, current);
    return current.index;
}

std::optional<fs::path> lookupInTheme(const IconSearchPaths& paths, const std::string& theme,
                                      const ThemeIndex& index, const std::string& name, int size) {
    // Only the base folders that hold this theme at all.
    std::vector<std::string> themeFolders;
    for (const auto& base : paths.baseDirs) {
        std::string folder = base.string() + '/' + theme + '/';
        if (isDirectory(folder)) themeFolders.push_back(std::move(folder));
    }
    std::optional<fs::path> closest;
    int closestDistance = INT_MAX;
    for (const auto& directory : index.directories) {
        for (const auto& themeFolder : themeFolders) {
            const std::string folder = themeFolder + directory.subdir + '/';
            if (!isDirectory(folder)) {
                continue;
            }
            for (const auto extension : kExtensions) {
                std::string candidate = folder + name;
                candidate += extension;
                if (!isRegularFile(candidate)) {
                    continue;
                }
                const int distance = directory.distanceTo(size);
                if (distance == 0) {
                    return fs::path(candidate);
                }
                if (distance < closestDistance) {
                    closestDistance = distance;
                    closest = fs::path(candidate);
                }
            }
        }
    }
    return closest;
}

std::optional<fs::path> findInThemeChain(const IconSearchPaths& paths, const std::string& theme,
                                         const std::string& name, int size,
                                         std::set<std::string>& visited) {
    if (!isPlainName(theme) || !visited.insert(theme).second) {
        return std::nullopt;
    }
    const auto index = cachedTheme(paths, theme);
    if (!index) {
        return std::nullopt;
    }
    if (auto found = lookupInTheme(paths, theme, *index, name, size)) {
        return found;
    }
    for (const auto& parent : index->inherits) {
        if (auto found = findInThemeChain(paths, parent, name, size, visited)) {
            return found;
        }
    }
    return std::nullopt;
}

std::string themeFromGtkSettings() {
    std::string configHome = environment("XDG_CONFIG_HOME");
    if (configHome.empty()) {
        configHome = environment("HOME") + "/.config";
    }
    for (const char* file : {"gtk-4.0/settings.ini", "gtk-3.0/settings.ini"}) {
        if (const KeyFile settings = loadKeyFile(fs::path(configHome) / file)) {
            std::string name = readString(settings.get(), "Settings", "gtk-icon-theme-name");
            if (!name.empty()) {
                return name;
            }
        }
    }
    return {};
}

// The entries of XDG_CURRENT_DESKTOP ("ubuntu:GNOME", "KDE").
bool desktopIs(std::string_view wanted) {
    const std::string desktops = environment("XDG_CURRENT_DESKTOP");
    std::size_t start = 0;
    while (start <= desktops.size()) {
        const std::size_t end = std::min(desktops.find(':', start), desktops.size());
        if (std::string_view(desktops).substr(start, end - start) == wanted) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// GNOME's choice. On GNOME the schema's default counts (it is what GNOME shows); elsewhere only
// a value the user set, since an untouched default says nothing about another desktop's theme.
std::string themeFromGSettings(bool defaultCounts) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
        return {};
    }
    GSettingsSchema* schema =
        g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (schema == nullptr) {
        return {};
    }
    std::string name;
    if (g_settings_schema_has_key(schema, "icon-theme")) {
        GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
        GVariant* value = defaultCounts ? g_settings_get_value(settings, "icon-theme")
                                        : g_settings_get_user_value(settings, "icon-theme");
        if (value != nullptr) {
            if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
                name = g_variant_get_string(value, nullptr);
            }
            g_variant_unref(value);
        }
        g_object_unref(settings);
    }
    g_settings_schema_unref(schema);
    return name;
}

// Plasma's choice: [Icons] Theme= in kdeglobals, the user's file first, then the system's.
std::string themeFromKdeGlobals() {
    std::string configHome = environment("XDG_CONFIG_HOME");
    if (configHome.empty()) {
        configHome = environment("HOME") + "/.config";
    }
    std::string configDirs = environment("XDG_CONFIG_DIRS");
    if (configDirs.empty()) {
        configDirs = "/etc/xdg";
    }
    std::vector<std::string> folders{configHome};
    for (auto& folder : splitPathList(configDirs)) {
        folders.push_back(std::move(folder));
    }
    for (const auto& folder : folders) {
        // kdeglobals is an INI file that GKeyFile may refuse as a whole (KDE's "[$e]" marks):
        // read the one key by hand.
        std::ifstream file(fs::path(folder) / "kdeglobals");
        std::string line;
        bool inIcons = false;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.starts_with('[')) {
                inIcons = line == "[Icons]";
            } else if (inIcons && line.starts_with("Theme")) {
                const auto equals = line.find('=');
                std::string key = line.substr(0, equals);
                while (!key.empty() && key.back() == ' ') {
                    key.pop_back();
                }
                if (equals != std::string::npos && (key == "Theme" || key == "Theme[$e]")) {
                    std::string value = line.substr(equals + 1);
                    value.erase(0, value.find_first_not_of(' '));
                    if (!value.empty()) {
                        return value;
                    }
                }
            }
        }
    }
    return {};
}

}  // namespace

IconSearchPaths IconSearchPaths::fromEnvironment() {
    IconSearchPaths paths;
    const std::string home = environment("HOME");
    if (!home.empty()) {
        paths.baseDirs.push_back(fs::path(home) / ".icons");
    }
    std::string dataHome = environment("XDG_DATA_HOME");
    if (dataHome.empty() && !home.empty()) {
        dataHome = home + "/.local/share";
    }
    if (!dataHome.empty()) {
        paths.baseDirs.push_back(fs::path(dataHome) / "icons");
    }
    std::string dataDirs = environment("XDG_DATA_DIRS");
    if (dataDirs.empty()) {
        dataDirs = "/usr/local/share:/usr/share";
    }
    for (const auto& dir : splitPathList(dataDirs)) {
        paths.baseDirs.push_back(fs::path(dir) / "icons");
    }
    paths.pixmapDirs.emplace_back("/usr/share/pixmaps");
    return paths;
}

IconThemeLookup::IconThemeLookup(IconSearchPaths paths, std::string themeName)
    : paths_(std::move(paths)), themeName_(std::move(themeName)) {}

std::optional<fs::path> IconThemeLookup::find(std::string_view iconName, int size) const {
    std::error_code error;
    if (!iconName.empty() && iconName.front() == '/') {
        fs::path file(iconName);
        return fs::is_regular_file(file, error) ? std::optional(file) : std::nullopt;
    }
    if (!isPlainName(iconName)) {
        return std::nullopt;
    }
    // Desktop entries sometimes name an icon with its file extension; themes store it without.
    std::string name(iconName);
    for (const auto extension : kExtensions) {
        if (name.size() > extension.size() && name.ends_with(extension)) {
            name.resize(name.size() - extension.size());
            break;
        }
    }
    std::set<std::string> visited;
    if (auto found = findInThemeChain(paths_, themeName_, name, size, visited)) {
        return found;
    }
    if (auto found = findInThemeChain(paths_, "hicolor", name, size, visited)) {
        return found;
    }
    for (const auto& folder : paths_.pixmapDirs) {
        for (const auto extension : kExtensions) {
            fs::path candidate = folder / (name + std::string(extension));
            if (fs::is_regular_file(candidate, error)) {
                return candidate;
            }
        }
    }
    return std::nullopt;
}

std::string IconThemeLookup::currentThemeName() {
    const bool plasma = desktopIs("KDE");
    std::string name = plasma ? themeFromKdeGlobals() : std::string();
    if (name.empty()) {
        name = themeFromGSettings(desktopIs("GNOME"));
    }
    if (name.empty()) {
        name = themeFromGtkSettings();
    }
    return isPlainName(name) ? name : "hicolor";
}

}  // namespace velopad
