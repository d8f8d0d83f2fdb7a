#include "platform/linux/gio_app_launch.h"

#include <gio/gdesktopappinfo.h>

#include "platform/linux/application_unit_name.h"
#include "platform/linux/desktop_entry_lookup.h"
#include "platform/linux/gio_handles.h"
#include "platform/linux/session_bus.h"
#include "platform/linux/session_bus_call.h"

namespace velopad {
namespace {

// How long the user's systemd manager may take to create an application's scope.
constexpr int scopeCallTimeoutMs = 2000;

// A started application goes into a transient scope of the user's systemd manager, named the
// way desktops name theirs, so it is found by its scope like an application the desktop
// started. The scope is asked for right after the spawn, from GIO's callback, before the launch
// returns: GIO waits for the exec, so a child held back before it would never get there. A child
// that forks within that moment leaves those children outside the scope (GNOME Shell and KDE
// accept the same); the process itself, and everything it starts later, is inside.
struct ScopedLaunch {
    std::string applicationId;
    std::string description;
    gio::Object<GDBusConnection> bus;  // nothing without a session bus: no scope, as before
    GPid pid = 0;
};

void startScope(const ScopedLaunch& launch) {
    const auto unit = applicationScopeName("velopad", launch.applicationId,
                                           static_cast<unsigned long>(launch.pid));
    if (!launch.bus || !unit) return;
    const auto pid = static_cast<guint32>(launch.pid);
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a(sv)"));
    g_variant_builder_add(&properties, "(sv)", "Description",
                          g_variant_new_string(launch.description.c_str()));
    g_variant_builder_add(&properties, "(sv)", "PIDs",
                          g_variant_new_fixed_array(G_VARIANT_TYPE_UINT32, &pid, 1, sizeof pid));
    // Let systemd forget a scope whose application failed, as it does one that ended well.
    g_variant_builder_add(&properties, "(sv)", "CollectMode",
                          g_variant_new_string("inactive-or-failed"));
    GVariant* parameters =
        g_variant_new("(ssa(sv)@a(sa(sv)))", unit->c_str(), "fail", &properties,
                      g_variant_new_array(G_VARIANT_TYPE("(sa(sv))"), nullptr, 0));
    // Never started on demand: a bus that merely knows the name has no manager behind it.
    // Without one (or when it refuses) the application simply runs where the agent does.
    GError* rawError = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        launch.bus.get(), "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
        "org.freedesktop.systemd1.Manager", "StartTransientUnit", parameters, G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, scopeCallTimeoutMs, nullptr, &rawError);
    const gio::Error error(rawError);
    if (reply) g_variant_unref(reply);
}

void startedProcess(GDesktopAppInfo*, GPid pid, gpointer data) {
    auto& launch = *static_cast<ScopedLaunch*>(data);
    launch.pid = pid;
    startScope(launch);
}

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

    // Connected before the spawn, so the scope follows it without a connection's delay.
    ScopedLaunch launch{entry->id, entry->name, connectSessionBus()};
    GError* rawError = nullptr;
    const gboolean launched = g_desktop_app_info_launch_uris_as_manager(
        info.get(), nullptr, context.get(), G_SPAWN_SEARCH_PATH, nullptr, nullptr, startedProcess,
        &launch, &rawError);
    gio::Error error(rawError);
    if (!launched) throw ApplicationLaunchError(validText(error ? error->message : nullptr));
    return launch.pid > 0;
}

}  // namespace velopad
