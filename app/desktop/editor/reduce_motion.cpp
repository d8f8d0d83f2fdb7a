#include "app/desktop/editor/reduce_motion.h"

#include <gio/gio.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velopad::desktop {

namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blank = " \t\r";
    const auto first = text.find_first_not_of(blank);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blank) - first + 1);
}

bool gnomeAnimationsOff() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return false;
    GSettingsSchema* schema =
        g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (!schema) return false;
    const bool hasKey = g_settings_schema_has_key(schema, "enable-animations");
    g_settings_schema_unref(schema);
    if (!hasKey) return false;
    GSettings* settings = g_settings_new("org.gnome.desktop.interface");
    const bool off = !g_settings_get_boolean(settings, "enable-animations");
    g_object_unref(settings);
    return off;
}

std::filesystem::path kdeGlobalsPath() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
        return std::filesystem::path(config) / "kdeglobals";
    }
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0') {
        return std::filesystem::path(home) / ".config" / "kdeglobals";
    }
    return {};
}

}  // namespace

bool kdeGlobalsTurnAnimationsOff(std::string_view kdeglobals) {
    bool inKdeGroup = false;
    bool off = false;
    std::size_t start = 0;
    while (start <= kdeglobals.size()) {
        auto end = kdeglobals.find('\n', start);
        if (end == std::string_view::npos) end = kdeglobals.size();
        const std::string_view line = trimmed(kdeglobals.substr(start, end - start));
        start = end + 1;
        if (line.starts_with('[')) {
            inKdeGroup = line == "[KDE]";
            continue;
        }
        if (!inKdeGroup) continue;
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        if (trimmed(line.substr(0, equals)) != "AnimationDurationFactor") continue;
        const std::string value(trimmed(line.substr(equals + 1)));
        char* parsedEnd = nullptr;
        const double factor = std::strtod(value.c_str(), &parsedEnd);
        off = parsedEnd != value.c_str() && factor == 0;
    }
    return off;
}

bool desktopPrefersReducedMotion() {
    if (gnomeAnimationsOff()) return true;
    const auto path = kdeGlobalsPath();
    if (path.empty()) return false;
    std::ifstream file(path);
    if (!file) return false;
    std::stringstream text;
    text << file.rdbuf();
    return kdeGlobalsTurnAnimationsOff(text.str());
}

}  // namespace velopad::desktop
