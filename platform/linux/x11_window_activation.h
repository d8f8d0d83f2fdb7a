#pragma once
// Bringing an application's window forward on an X11 display (also XWayland), through the
// window manager's EWMH _NET_ACTIVE_WINDOW request. Blocking: call from a worker thread.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace velopad {

struct WindowQuery {
    // Processes of the application, best first; a window whose _NET_WM_PID is one of them wins.
    std::vector<pid_t> pids;
    // WM_CLASS names or classes (compared without case) that also identify the application's
    // windows, e.g. its StartupWMClass and its desktop-file ID.
    std::vector<std::string> wmClasses;
    // The desktop-file ID (Wayland compositors name windows by it) and whether the entry is
    // D-Bus activatable (such an application can be asked to raise its own window).
    std::string desktopId;
    bool dbusActivatable = false;
};

// Activates the topmost window that matches `query` on `displayName` (":0"). True once the
// window manager reports it active (or, with no EWMH window manager, once it holds the input
// focus). False without a display name, when the display cannot be opened, when no window
// matches, or when activation is not confirmed within `confirmWithin`.
bool activateX11Window(const std::string& displayName, const WindowQuery& query,
                       std::chrono::milliseconds confirmWithin = std::chrono::milliseconds(1500));

}  // namespace velopad
