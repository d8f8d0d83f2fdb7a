#pragma once
// The workspace operations bound to a Linux desktop: desktop entries found and started through
// GIO, running instances found in /proc, windows activated through the Wayland compositor
// (KWin, GNOME Shell) or X11 (EWMH).

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "agent_core/async.h"
#include "agent_core/workspace_client.h"
#include "platform/linux/wayland_window_activation.h"

namespace velopad {

struct LinuxWorkspaceOptions {
    // The X11 display whose windows are activated and on which started applications open;
    // nothing on a desktop without X11.
    std::optional<std::string> display;
    // The desktop session: on Wayland, windows are activated through the compositor first.
    DesktopSession session;
    std::filesystem::path procRoot = "/proc";
    uid_t uid = 0;  // whose processes count as running applications
    std::chrono::milliseconds activationTimeout{1500};

    // DISPLAY (when set and not empty), the session and the effective user, read once, now.
    static LinuxWorkspaceOptions fromEnvironment();
};

// Every operation runs its blocking work on `pool`, which must outlive the client and every
// handle it returned.
WorkspaceClient makeLinuxWorkspaceClient(
    asio::thread_pool& pool,
    LinuxWorkspaceOptions options = LinuxWorkspaceOptions::fromEnvironment());

}  // namespace velopad
