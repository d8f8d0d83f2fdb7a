#pragma once
// Bringing an application's window forward on a Wayland desktop, where clients may not raise
// windows themselves: through the compositor's own interfaces on the session bus. Blocking:
// call from a worker thread.
//
//   KDE Plasma (5.27 and 6)  a KWin script that finds the window (desktop file name, resource
//                            class or pid) and activates it; it reports back whether KWin then
//                            holds that window active.
//   GNOME                    the window-calls extension (org.gnome.Shell.Extensions.Windows)
//                            when installed, checked by the window's focus afterwards; else, for
//                            D-Bus activatable applications, org.freedesktop.Application.Activate
//                            (the application raises its own window).

#include <chrono>
#include <string>

#include "platform/linux/x11_window_activation.h"

namespace velopad {

struct DesktopSession {
    std::string type;             // XDG_SESSION_TYPE: "wayland", "x11", … (may be empty)
    std::string desktops;         // XDG_CURRENT_DESKTOP: "KDE", "ubuntu:GNOME", …
    bool waylandDisplay = false;  // WAYLAND_DISPLAY is set

    // From the environment, now.
    static DesktopSession fromEnvironment();

    // A Wayland session: said so, or a Wayland display without a word about the type.
    [[nodiscard]] bool isWayland() const;
    // Whether `name` ("KDE", "GNOME") is one of the current desktops.
    [[nodiscard]] bool isDesktop(std::string_view name) const;
};

enum class WaylandActivation {
    activated,    // the compositor reports the window active (or the application answered)
    failed,       // the desktop's interface answered, but no window matched or it stayed back
    unavailable,  // no interface of this desktop answers on the session bus
};

// Activates the application's window through whatever the session's compositor offers; the
// path is chosen from the session and from what answers on the bus.
WaylandActivation activateWaylandWindow(const DesktopSession& session, const WindowQuery& query,
                                        std::chrono::milliseconds confirmWithin);

}  // namespace velopad
