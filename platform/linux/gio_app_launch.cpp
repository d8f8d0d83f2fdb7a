#include "platform/linux/gio_app_launch.h"

#include <gio/gdesktopappinfo.h>

#include "platform/linux/desktop_entry_lookup.h"
#include "platform/linux/gio_handles.h"
#include "platform/linux/session_bus.h"

namespace velopad {
namespace {

void recordPid(GDesktopAppInfo*, GPid pid, gpointer data) { *static_cast<GPid*>(data) = pid; }

std::string validText(const char* text) {
    if (!text || !*text) return "Failed to launch application";
    return gio::takeString(g_utf8_make_valid(text, -1));
}

}  // namespace

bool launchDesktopEntry(const std::filesystem::path& desktopFile,
                        const std::optional<std::string>& display) {
    // Only entries GIO lists for their own ID are started, whatever path is handed in.
    const auto entry = listedDesktopEntryAt(desktopFile);
    if (!entry) return false;
    // GIO sends a D-Bus activation without waiting for its answer; we wait, so a service that
    // cannot be started or refuses is a failure, not a success.
    if (entry->dbusActivatable && sessionBusAvailable()) {
        if (auto error = activateApplication(entry->id)) {
            throw ApplicationLaunchError(validText(error->message.c_str()));
        }
        return true;
    }
    gio::Object<GDesktopAppInfo> info(g_desktop_app_info_new_from_filename(entry->file.c_str()));
    if (!info || g_desktop_app_info_get_is_hidden(info.get())) return false;

    gio::Object<GAppLaunchContext> context(g_app_launch_context_new());
    if (display) {
        g_app_launch_context_setenv(context.get(), "DISPLAY", display->c_str());
    } else {
        g_app_launch_context_unsetenv(context.get(), "DISPLAY");
    }

    GPid pid = 0;
    GError* rawError = nullptr;
    const gboolean launched = g_desktop_app_info_launch_uris_as_manager(
        info.get(), nullptr, context.get(), G_SPAWN_SEARCH_PATH, nullptr, nullptr, recordPid, &pid,
        &rawError);
    gio::Error error(rawError);
    if (!launched) throw ApplicationLaunchError(validText(error ? error->message : nullptr));
    return pid > 0;
}

}  // namespace velopad
