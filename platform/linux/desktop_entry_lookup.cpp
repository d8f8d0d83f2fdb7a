#include "platform/linux/desktop_entry_lookup.h"

#include <gio/gdesktopappinfo.h>

#include <system_error>

#include "platform/linux/gio_handles.h"

namespace velopad {
namespace {

constexpr std::string_view kSuffix = ".desktop";

std::optional<std::filesystem::path> canonicalPath(const std::filesystem::path& path) {
    std::error_code error;
    auto resolved = std::filesystem::canonical(path, error);
    if (error) return std::nullopt;
    return resolved;
}

std::optional<std::filesystem::path> resolvedExecutable(GAppInfo* info) {
    const char* program = g_app_info_get_executable(info);
    if (!program || !*program) return std::nullopt;
    gio::Text found(g_find_program_in_path(program));
    if (!found) return std::nullopt;
    return canonicalPath(found.get());
}

// Exec's arguments after the program, unquoted as the Exec key's rules say; arguments that hold
// a field code are filled in per launch and say nothing about the entry, so they are left out.
std::vector<std::string> execArguments(GDesktopAppInfo* info) {
    std::vector<std::string> arguments;
    const char* exec = g_app_info_get_commandline(G_APP_INFO(info));
    gchar** argv = nullptr;
    if (!exec || !g_shell_parse_argv(exec, nullptr, &argv, nullptr)) return arguments;
    for (gchar** argument = argv + 1; *argv && *argument; ++argument) {
        std::string text = *argument;
        bool fieldCode = false;
        std::string plain;
        for (std::size_t at = 0; at < text.size(); ++at) {
            if (text[at] == '%' && at + 1 < text.size()) {
                if (text[at + 1] != '%') fieldCode = true;
                plain += '%';
                ++at;
            } else {
                plain += text[at];
            }
        }
        if (!fieldCode) arguments.push_back(std::move(plain));
    }
    g_strfreev(argv);
    return arguments;
}

std::optional<DesktopEntry> describe(GDesktopAppInfo* desktopInfo) {
    if (g_desktop_app_info_get_is_hidden(desktopInfo)) return std::nullopt;
    auto* info = G_APP_INFO(desktopInfo);
    std::string id = gio::toString(g_app_info_get_id(info));
    const char* filename = g_desktop_app_info_get_filename(desktopInfo);
    if (!id.ends_with(kSuffix) || !filename) return std::nullopt;
    id.resize(id.size() - kSuffix.size());
    if (!isAcceptableDesktopId(id)) return std::nullopt;

    DesktopEntry entry;
    entry.id = std::move(id);
    entry.file = filename;
    entry.name = gio::toString(g_app_info_get_name(info));
    entry.executable = resolvedExecutable(info);
    entry.arguments = execArguments(desktopInfo);
    if (const char* wmClass = g_desktop_app_info_get_startup_wm_class(desktopInfo);
        wmClass && *wmClass) {
        entry.startupWMClass = wmClass;
    }
    entry.shown = g_app_info_should_show(info);
    entry.dbusActivatable = g_desktop_app_info_get_boolean(desktopInfo, "DBusActivatable");
    return entry;
}

}  // namespace

bool isAcceptableDesktopId(std::string_view id) {
    if (id.empty() || id.find('/') != std::string_view::npos ||
        id.find("..") != std::string_view::npos) {
        return false;
    }
    for (const unsigned char c : id) {
        if (c < 0x20 || c == 0x7f) return false;
    }
    return g_utf8_validate(id.data(), static_cast<gssize>(id.size()), nullptr);
}

std::optional<DesktopEntry> findDesktopEntry(std::string_view id) {
    if (!isAcceptableDesktopId(id)) return std::nullopt;
    const std::string desktopId = std::string(id) + std::string(kSuffix);
    gio::Object<GDesktopAppInfo> info(g_desktop_app_info_new(desktopId.c_str()));
    if (!info) return std::nullopt;
    auto entry = describe(info.get());
    // GIO maps "-" in an ID to sub-directories; the answer must be the entry for this exact ID.
    if (!entry || entry->id != id) return std::nullopt;
    return entry;
}

std::optional<DesktopEntry> listedDesktopEntryAt(const std::filesystem::path& file) {
    const auto wanted = canonicalPath(file);
    if (!wanted || file.extension() != kSuffix) return std::nullopt;
    // The ID is the file's path below its applications folder with "/" turned into "-"
    // ("a/b/c.desktop" is "a-b-c"); the folder itself is not known here, so try each depth.
    constexpr int deepest = 8;
    std::string id = file.stem().string();
    std::filesystem::path folder = file.parent_path();
    for (int depth = 0; depth <= deepest; ++depth) {
        auto entry = findDesktopEntry(id);
        if (entry && canonicalPath(entry->file) == wanted) return entry;
        if (folder.filename().empty() || folder.filename() == "applications") break;
        id = folder.filename().string() + "-" + id;
        folder = folder.parent_path();
    }
    return std::nullopt;
}

std::vector<DesktopEntry> listDesktopEntries() {
    std::vector<DesktopEntry> entries;
    GList* all = g_app_info_get_all();
    for (GList* item = all; item; item = item->next) {
        auto* info = static_cast<GAppInfo*>(item->data);
        if (!G_IS_DESKTOP_APP_INFO(info)) continue;
        if (auto entry = describe(G_DESKTOP_APP_INFO(info))) entries.push_back(std::move(*entry));
    }
    g_list_free_full(all, g_object_unref);
    return entries;
}

}  // namespace velopad
