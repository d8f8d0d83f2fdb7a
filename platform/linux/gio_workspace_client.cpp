#include "platform/linux/gio_workspace_client.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <utility>

#include "platform/linux/desktop_entry_lookup.h"
#include "platform/linux/gio_app_launch.h"
#include "platform/linux/process_scan.h"
#include "platform/linux/wayland_window_activation.h"
#include "platform/linux/x11_window_activation.h"

namespace velopad {
namespace {

struct Binding {
    asio::thread_pool* pool;
    LinuxWorkspaceOptions options;
};
using BindingPtr = std::shared_ptr<const Binding>;

// On Wayland the compositor is asked first; X11 (also XWayland, for the windows of X11
// applications there) keeps the EWMH request.
bool activateBlocking(const Binding& binding, const WindowQuery& query) {
    const auto& options = binding.options;
    if (options.session.isWayland() &&
        activateWaylandWindow(options.session, query, options.activationTimeout) ==
            WaylandActivation::activated) {
        return true;
    }
    return options.display && activateX11Window(*options.display, query, options.activationTimeout);
}

Task<bool> activate(BindingPtr binding, WindowQuery query) {
    co_return co_await runBlocking(
        *binding->pool, [&binding, &query] { return activateBlocking(*binding, query); });
}

std::optional<WindowQuery> findRunning(const Binding& binding, const std::string& id) {
    if (!isAcceptableDesktopId(id)) return std::nullopt;
    const auto entry = findDesktopEntry(id);
    const ApplicationProcessQuery processQuery{
        id, entry ? entry->executable : std::optional<std::filesystem::path>()};
    auto pids = applicationProcesses(scanProcesses(binding.options.procRoot, binding.options.uid),
                                     processQuery);
    if (pids.empty()) return std::nullopt;

    WindowQuery windowQuery{std::move(pids), {id}, id, entry && entry->dbusActivatable};
    if (entry && entry->startupWMClass) windowQuery.wmClasses.push_back(*entry->startupWMClass);
    return windowQuery;
}

Task<std::optional<RunningApplicationClient>> runningApplication(BindingPtr binding,
                                                                 std::string id) {
    auto query =
        co_await runBlocking(*binding->pool, [&binding, &id] { return findRunning(*binding, id); });
    if (!query) co_return std::nullopt;
    co_return RunningApplicationClient{
        [binding, query = std::move(*query)] { return activate(binding, query); }};
}

Task<std::optional<std::filesystem::path>> urlForApplication(BindingPtr binding, std::string id) {
    co_return co_await runBlocking(*binding->pool, [&id]() -> std::optional<std::filesystem::path> {
        auto entry = findDesktopEntry(id);
        if (!entry) return std::nullopt;
        return std::move(entry->file);
    });
}

Task<bool> openApplication(BindingPtr binding, std::filesystem::path url) {
    co_return co_await runBlocking(*binding->pool, [&binding, &url] {
        return launchDesktopEntry(url, binding->options.display);
    });
}

Task<std::vector<std::string>> runningApplicationIds(BindingPtr binding) {
    co_return co_await runBlocking(*binding->pool, [&binding] {
        const auto entries = listDesktopEntries();
        std::vector<std::string> ids;
        std::set<std::string> seen;
        for (const auto& process : scanProcesses(binding->options.procRoot, binding->options.uid)) {
            for (const auto& entry : entries) {
                if (seen.contains(entry.id)) continue;
                if (processBelongsTo(process, {entry.id, entry.executable})) {
                    seen.insert(entry.id);
                    ids.push_back(entry.id);
                }
            }
        }
        return ids;
    });
}

}  // namespace

LinuxWorkspaceOptions LinuxWorkspaceOptions::fromEnvironment() {
    LinuxWorkspaceOptions options;
    if (const char* display = std::getenv("DISPLAY"); display && *display) {
        options.display = display;
    }
    options.uid = ::geteuid();
    options.session = DesktopSession::fromEnvironment();
    return options;
}

WorkspaceClient makeLinuxWorkspaceClient(asio::thread_pool& pool, LinuxWorkspaceOptions options) {
    auto binding = std::make_shared<const Binding>(Binding{&pool, std::move(options)});
    WorkspaceClient client;
    client.urlForApplication = [binding](std::string id) {
        return velopad::urlForApplication(binding, std::move(id));
    };
    client.runningApplication = [binding](std::string id) {
        return velopad::runningApplication(binding, std::move(id));
    };
    client.openApplication = [binding](std::filesystem::path url) {
        return velopad::openApplication(binding, std::move(url));
    };
    client.runningApplicationIds = [binding] { return velopad::runningApplicationIds(binding); };
    return client;
}

}  // namespace velopad
