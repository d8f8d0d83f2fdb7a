#include "platform/linux/gio_workspace_client.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/linux/desktop_entry_lookup.h"
#include "platform/linux/gio_app_launch.h"
#include "platform/linux/running_applications_monitor.h"
#include "platform/linux/wayland_window_activation.h"
#include "platform/linux/x11_window_activation.h"

namespace velopad {
namespace {

struct Binding {
    asio::thread_pool* pool;
    LinuxWorkspaceOptions options;
    std::unique_ptr<RunningApplicationsMonitor> monitor;
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

std::optional<WindowQuery> windowQueryFor(const std::string& id, ApplicationState state) {
    if (!isAcceptableDesktopId(id) || state.pids.empty()) return std::nullopt;
    const auto& entry = state.entry;
    WindowQuery windowQuery{std::move(state.pids), {id}, id, entry && entry->dbusActivatable};
    if (entry && entry->startupWMClass) windowQuery.wmClasses.push_back(*entry->startupWMClass);
    return windowQuery;
}

Task<std::optional<RunningApplicationClient>> runningApplication(BindingPtr binding,
                                                                 std::string id) {
    // The monitor's view when it is current, else brought up to date on the pool (written out
    // here rather than awaited from a helper: pings ask it for every deck application).
    std::optional<ApplicationState> state = binding->monitor->current(id);
    if (!state) {
        state = co_await runBlocking(*binding->pool,
                                     [&binding, &id] { return binding->monitor->refresh(id); });
    }
    auto query = windowQueryFor(id, std::move(*state));
    if (!query) co_return std::nullopt;
    co_return RunningApplicationClient{
        [binding, query = std::move(*query)] { return activate(binding, query); }};
}

Task<std::optional<std::filesystem::path>> urlForApplication(BindingPtr binding, std::string id) {
    // The monitor's view when it is current, else brought up to date on the pool (written out
    // here rather than awaited from a helper: pings ask it for every deck application).
    std::optional<ApplicationState> state = binding->monitor->current(id);
    if (!state) {
        state = co_await runBlocking(*binding->pool,
                                     [&binding, &id] { return binding->monitor->refresh(id); });
    }
    if (!state->entry) co_return std::nullopt;
    co_return state->entry->file;
}

Task<bool> openApplication(BindingPtr binding, std::filesystem::path url) {
    const bool launched = co_await runBlocking(*binding->pool, [&binding, &url] {
        return launchDesktopEntry(url, binding->options.display);
    });
    binding->monitor->invalidate();
    co_return launched;
}

Task<std::vector<std::string>> runningApplicationIds(BindingPtr binding) {
    co_return co_await runBlocking(*binding->pool, [&binding] {
        return binding->monitor->runningAmong(listDesktopEntries());
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
    RunningApplicationsOptions monitoring;
    monitoring.procRoot = options.procRoot;
    monitoring.uid = options.uid;
    auto monitor = std::make_unique<RunningApplicationsMonitor>(std::move(monitoring));
    auto binding =
        std::make_shared<const Binding>(Binding{&pool, std::move(options), std::move(monitor)});
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
    client.answersVersion = [binding] { return binding->monitor->currentVersion(); };
    return client;
}

}  // namespace velopad
