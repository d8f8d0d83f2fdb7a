#pragma once
// The launch and focus rules for the phone's "app.launch" and "app.focus" requests.

#include <optional>
#include <string>

#include "agent_core/async.h"
#include "agent_core/workspace_client.h"
#include "protocol/payloads.h"

namespace velopad {

enum class AppLauncherAction { launch, focus };

struct AppLauncherError {
    AppErrorCode code = AppErrorCode::notFound;
    std::optional<std::string> message;

    friend bool operator==(const AppLauncherError&, const AppLauncherError&) = default;
};

// `ok` for `bundleId`, or an error for it carrying the wire code and message.
struct [[nodiscard]] AppLauncherOutcome {
    std::string bundleId;
    std::optional<AppLauncherError> error;  // nothing: the request succeeded

    static AppLauncherOutcome ok(std::string bundleId);
    static AppLauncherOutcome failure(std::string bundleId, AppErrorCode code,
                                      std::optional<std::string> message);

    bool isOK() const { return !error.has_value(); }

    friend bool operator==(const AppLauncherOutcome&, const AppLauncherOutcome&) = default;
};

// The launcher keeps no state; the workspace is its only collaborator. The identifier is used
// exactly as received (no trimming, no case folding). Callers keep the launcher alive while
// they await it.
struct AppLauncher {
    WorkspaceClient workspace;

    // Brings a running instance forward, or opens the installed application. Never throws.
    Task<AppLauncherOutcome> launch(std::string bundleId) const;

    // Brings a running instance forward; never opens the application. Never throws.
    Task<AppLauncherOutcome> focus(std::string bundleId) const;

    Task<AppLauncherOutcome> perform(AppLauncherAction action, std::string bundleId) const;
};

}  // namespace velopad
