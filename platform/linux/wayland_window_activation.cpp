#include "platform/linux/wayland_window_activation.h"

#include <glib/gstdio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/linux/session_bus_call.h"

namespace velopad {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kCallTimeout = std::chrono::seconds(5);

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The names a window of the application may carry, in lower case.
std::vector<std::string> windowNames(const WindowQuery& query) {
    std::vector<std::string> names;
    for (const auto& name : query.wmClasses) names.push_back(lowercase(name));
    if (!query.desktopId.empty()) names.push_back(lowercase(query.desktopId));
    return names;
}

// ---- KDE Plasma: a KWin script -------------------------------------------------------------

constexpr const char* kReplyPath = "/org/velopad/FocusReply";
constexpr const char* kReplyInterface = "org.velopad.FocusReply";
constexpr const char* kReplyXml = R"(<node><interface name="org.velopad.FocusReply">
  <method name="Done"><arg type="b" direction="in"/></method></interface></node>)";

// Finds the topmost normal window of the application, activates it and reports back whether
// KWin then holds it active. Plasma 6 names the calls windowList/activeWindow, 5.27
// clientList/activeClient.
std::string kwinScript(const WindowQuery& query, const std::string& replyTo) {
    nlohmann::json pids = nlohmann::json::array();
    for (const pid_t pid : query.pids) pids.push_back(pid);
    const nlohmann::json names = windowNames(query);
    return "(function () {\n"
           "  const pids = " +
           pids.dump() +
           ";\n"
           "  const names = " +
           names.dump() +
           ";\n"
           "  const six = typeof workspace.windowList === 'function';\n"
           "  const list = six ? workspace.windowList() : workspace.clientList();\n"
           "  const lower = (v) => String(v || '').toLowerCase();\n"
           "  const matches = (w) => pids.includes(w.pid) ||\n"
           "      names.includes(lower(w.desktopFileName)) ||\n"
           "      names.includes(lower(w.resourceClass)) || "
           "names.includes(lower(w.resourceName));\n"
           "  let target = null;\n"
           "  for (let i = list.length - 1; i >= 0 && !target; --i) {\n"
           "    const w = list[i];\n"
           "    if ((w.normalWindow || w.dialog) && matches(w)) target = w;\n"
           "  }\n"
           "  let ok = false;\n"
           "  if (target) {\n"
           "    if (target.minimized) target.minimized = false;\n"
           "    if (six) workspace.activeWindow = target; else workspace.activeClient = target;\n"
           "    const active = six ? workspace.activeWindow : workspace.activeClient;\n"
           "    ok = !!active && (active === target ||\n"
           "        String(active.internalId) === String(target.internalId));\n"
           "  }\n"
           "  callDBus(" +
           nlohmann::json(replyTo).dump() + ", '" + kReplyPath + "', '" + kReplyInterface +
           "', 'Done', ok);\n"
           "})();\n";
}

struct Reply {
    std::atomic<int> state{-1};  // -1 waiting, 0 not active, 1 active
};

void onReply(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    gboolean active = FALSE;
    g_variant_get(parameters, "(b)", &active);
    static_cast<Reply*>(data)->state = active ? 1 : 0;
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

// The thread-default main context for the life of the object, so the reply is dispatched here.
class PrivateContext {
  public:
    PrivateContext() : context_(g_main_context_new()) {
        g_main_context_push_thread_default(context_);
    }
    ~PrivateContext() {
        while (g_main_context_iteration(context_, FALSE)) {
        }
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    PrivateContext(const PrivateContext&) = delete;
    PrivateContext& operator=(const PrivateContext&) = delete;
    GMainContext* get() const { return context_; }

  private:
    GMainContext* context_;
};

WaylandActivation activateWithKWin(GDBusConnection* bus, const WindowQuery& query,
                                   std::chrono::milliseconds confirmWithin) {
    Reply reply;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kReplyXml, nullptr);
    const GDBusInterfaceVTable vtable{onReply, nullptr, nullptr, {}};
    const guint registration = g_dbus_connection_register_object(
        bus, kReplyPath, node->interfaces[0], &vtable, &reply, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    if (registration == 0) return WaylandActivation::failed;

    gchar* rawPath = nullptr;
    const int fd = g_file_open_tmp("velopad-focus-XXXXXX.js", &rawPath, nullptr);
    gio::Text scriptPath(rawPath);
    WaylandActivation outcome = WaylandActivation::failed;
    if (fd >= 0) {
        const std::string script = kwinScript(query, g_dbus_connection_get_unique_name(bus));
        const bool written =
            ::write(fd, script.data(), script.size()) == static_cast<ssize_t>(script.size());
        ::close(fd);
        static std::atomic<unsigned> serial{0};
        const std::string plugin =
            "velopad-focus-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
        auto loaded = callBus(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                              "loadScript", g_variant_new("(ss)", scriptPath.get(), plugin.c_str()),
                              G_VARIANT_TYPE("(i)"), kCallTimeout);
        if (auto* id = std::get_if<Variant>(&loaded); written && id) {
            gint32 scriptId = -1;
            g_variant_get(id->get(), "(i)", &scriptId);
            // Plasma 6 (and late 5.x) publish the script under /Scripting/Script<id>, 5.27
            // under /<id>.
            bool started = false;
            for (const std::string& path :
                 {"/Scripting/Script" + std::to_string(scriptId), "/" + std::to_string(scriptId)}) {
                auto ran = callBus(bus, "org.kde.KWin", path, "org.kde.kwin.Script", "run", nullptr,
                                   nullptr, kCallTimeout);
                if (std::holds_alternative<Variant>(ran)) {
                    started = true;
                    break;
                }
            }
            const auto deadline = Clock::now() + confirmWithin;
            while (started && reply.state < 0 && Clock::now() < deadline) {
                if (!g_main_context_iteration(g_main_context_get_thread_default(), FALSE)) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
            outcome = reply.state == 1 ? WaylandActivation::activated : WaylandActivation::failed;
            callBus(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript",
                    g_variant_new("(s)", plugin.c_str()), nullptr, kCallTimeout);
        }
        g_unlink(scriptPath.get());
    }
    g_dbus_connection_unregister_object(bus, registration);
    return outcome;
}

// ---- GNOME: the window-calls extension, else the application itself ---------------------

constexpr const char* kWindowsPath = "/org/gnome/Shell/Extensions/Windows";
constexpr const char* kWindowsInterface = "org.gnome.Shell.Extensions.Windows";

// The extension's window list, or nothing when it is not installed.
std::optional<nlohmann::json> listGnomeWindows(GDBusConnection* bus) {
    auto reply = callBus(bus, "org.gnome.Shell", kWindowsPath, kWindowsInterface, "List", nullptr,
                         G_VARIANT_TYPE("(s)"), kCallTimeout);
    auto* value = std::get_if<Variant>(&reply);
    if (!value) return std::nullopt;
    const gchar* text = nullptr;
    g_variant_get(value->get(), "(&s)", &text);
    auto windows = nlohmann::json::parse(text ? text : "", nullptr, false);
    if (!windows.is_array()) return std::nullopt;
    return windows;
}

std::optional<std::uint32_t> findGnomeWindow(const nlohmann::json& windows,
                                             const WindowQuery& query) {
    const auto names = windowNames(query);
    const auto text = [](const nlohmann::json& window, const char* key) {
        const auto found = window.find(key);
        return found != window.end() && found->is_string() ? lowercase(found->get<std::string>())
                                                           : std::string();
    };
    for (const auto& window : windows) {
        if (!window.is_object() || !window.contains("id") || !window["id"].is_number()) continue;
        const bool byPid = window.contains("pid") && window["pid"].is_number_integer() &&
                           std::find(query.pids.begin(), query.pids.end(),
                                     window["pid"].get<pid_t>()) != query.pids.end();
        const bool byName = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
            return name == text(window, "wm_class") || name == text(window, "wm_class_instance");
        });
        if (byPid || byName) return window["id"].get<std::uint32_t>();
    }
    return std::nullopt;
}

bool gnomeWindowHasFocus(GDBusConnection* bus, std::uint32_t id) {
    const auto windows = listGnomeWindows(bus);
    if (!windows) return false;
    for (const auto& window : *windows) {
        if (window.is_object() && window.value("id", std::uint64_t{0}) == id) {
            return window.value("focus", false);
        }
    }
    return false;
}

WaylandActivation activateWithGnome(GDBusConnection* bus, const WindowQuery& query,
                                    std::chrono::milliseconds confirmWithin) {
    if (nameHasOwner(bus, "org.gnome.Shell")) {
        if (const auto windows = listGnomeWindows(bus)) {
            const auto id = findGnomeWindow(*windows, query);
            if (!id) return WaylandActivation::failed;
            callBus(bus, "org.gnome.Shell", kWindowsPath, kWindowsInterface, "Activate",
                    g_variant_new("(u)", *id), nullptr, kCallTimeout);
            const auto deadline = Clock::now() + confirmWithin;
            while (Clock::now() < deadline) {
                if (gnomeWindowHasFocus(bus, *id)) return WaylandActivation::activated;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            return WaylandActivation::failed;
        }
    }
    if (!query.dbusActivatable || query.desktopId.empty()) return WaylandActivation::unavailable;
    return activateApplication(query.desktopId, confirmWithin) ? WaylandActivation::failed
                                                               : WaylandActivation::activated;
}

}  // namespace

DesktopSession DesktopSession::fromEnvironment() {
    return {environment("XDG_SESSION_TYPE"), environment("XDG_CURRENT_DESKTOP"),
            !environment("WAYLAND_DISPLAY").empty()};
}

bool DesktopSession::isWayland() const {
    return type == "wayland" || (type.empty() && waylandDisplay);
}

bool DesktopSession::isDesktop(std::string_view name) const {
    std::string_view rest = desktops;
    while (!rest.empty()) {
        const auto end = std::min(rest.find(':'), rest.size());
        if (rest.substr(0, end) == name) return true;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return false;
}

WaylandActivation activateWaylandWindow(const DesktopSession& session, const WindowQuery& query,
                                        std::chrono::milliseconds confirmWithin) {
    const PrivateContext context;  // before the connection: its replies are dispatched here
    const auto bus = connectSessionBus();
    if (!bus) return WaylandActivation::unavailable;
    const bool kde = session.isDesktop("KDE");
    const bool gnome = session.isDesktop("GNOME");
    if (kde || (!gnome && nameHasOwner(bus.get(), "org.kde.KWin"))) {
        if (!nameHasOwner(bus.get(), "org.kde.KWin")) return WaylandActivation::unavailable;
        return activateWithKWin(bus.get(), query, confirmWithin);
    }
    if (gnome || nameHasOwner(bus.get(), "org.gnome.Shell") || query.dbusActivatable) {
        return activateWithGnome(bus.get(), query, confirmWithin);
    }
    return WaylandActivation::unavailable;
}

}  // namespace velopad
