#include "agent_core/app_launcher.h"

#include <exception>
#include <utility>

namespace velopad {
namespace {

constexpr const char* kFocusFailed = "Failed to activate application";
constexpr const char* kNotInstalled = "No application found for bundle identifier";
constexpr const char* kNotRunning = "Application is not running";
constexpr const char* kLaunchFailed = "Failed to launch application";

AppLauncherOutcome activationOutcome(std::string bundleId, bool activated) {
    if (activated) return AppLauncherOutcome::ok(std::move(bundleId));
    return AppLauncherOutcome::failure(std::move(bundleId), AppErrorCode::focusFailed,
                                       kFocusFailed);
}

}  // namespace

AppLauncherOutcome AppLauncherOutcome::ok(std::string bundleId) {
    return AppLauncherOutcome{std::move(bundleId), std::nullopt};
}

AppLauncherOutcome AppLauncherOutcome::failure(std::string bundleId, AppErrorCode code,
                                               std::optional<std::string> message) {
    return AppLauncherOutcome{std::move(bundleId), AppLauncherError{code, std::move(message)}};
}

Task<AppLauncherOutcome> AppLauncher::launch(std::string bundleId) const {
    const WorkspaceClient client = workspace;

    auto running = co_await client.runningApplication(bundleId);
    if (running) {
        // Already running: bring it forward instead of opening a second instance.
        const bool activated = co_await running->activate();
        co_return activationOutcome(std::move(bundleId), activated);
    }

    const auto url = co_await client.urlForApplication(bundleId);
    if (!url) {
        co_return AppLauncherOutcome::failure(std::move(bundleId), AppErrorCode::notFound,
                                              kNotInstalled);
    }

    // No co_return inside the try block: GCC 12 destroys the coroutine's locals twice there.
    bool opened = false;
    std::optional<std::string> systemFailure;
    try {
        opened = co_await client.openApplication(*url);
    } catch (const std::exception& error) {
        systemFailure = error.what();
        if (systemFailure->empty()) systemFailure = kLaunchFailed;
    }
    if (systemFailure) {
        co_return AppLauncherOutcome::failure(std::move(bundleId), AppErrorCode::launchFailed,
                                              std::move(systemFailure));
    }
    if (!opened) {
        co_return AppLauncherOutcome::failure(std::move(bundleId), AppErrorCode::launchFailed,
                                              kLaunchFailed);
    }
    co_return AppLauncherOutcome::ok(std::move(bundleId));
}

Task<AppLauncherOutcome> AppLauncher::focus(std::string bundleId) const {
    const WorkspaceClient client = workspace;

    auto running = co_await client.runningApplication(bundleId);
    if (!running) {
        co_return AppLauncherOutcome::failure(std::move(bundleId), AppErrorCode::notFound,
                                              kNotRunning);
    }
    const bool activated = co_await running->activate();
    co_return activationOutcome(std::move(bundleId), activated);
}

Task<AppLauncherOutcome> AppLauncher::perform(AppLauncherAction action,
                                              std::string bundleId) const {
    switch (action) {
        case AppLauncherAction::launch:
            co_return co_await launch(std::move(bundleId));
        case AppLauncherAction::focus:
            break;
    }
    co_return co_await focus(std::move(bundleId));
}

}  // namespace velopad
