#include "platform/linux/x11_window_activation.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <optional>

namespace velopad {
namespace {

using Clock = std::chrono::steady_clock;

// Xlib's default error handler ends the process; a failed request here only means "no".
thread_local bool tRequestFailed = false;

int recordXError(Display*, XErrorEvent*) {
    tRequestFailed = true;
    return 0;
}

void installErrorHandler() {
    static std::once_flag once;
    std::call_once(once, [] { XSetErrorHandler(recordXError); });
}

void ignoreLostConnection(Display*, void*) {}

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

struct Atoms {
    Atom activeWindow, clientList, clientListStacking, wmPid, supported, supportingWmCheck;

    explicit Atoms(Display* display)
        : activeWindow(XInternAtom(display, "_NET_ACTIVE_WINDOW", False)),
          clientList(XInternAtom(display, "_NET_CLIENT_LIST", False)),
          clientListStacking(XInternAtom(display, "_NET_CLIENT_LIST_STACKING", False)),
          wmPid(XInternAtom(display, "_NET_WM_PID", False)),
          supported(XInternAtom(display, "_NET_SUPPORTED", False)),
          supportingWmCheck(XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False)) {}
};

// A 32-bit list property (windows, atoms, cardinals); empty when absent or of another type.
std::vector<unsigned long> listProperty(Display* display, Window window, Atom property, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    tRequestFailed = false;
    const int status = XGetWindowProperty(display, window, property, 0, 1 << 16, False, type,
                                          &actualType, &format, &count, &remaining, &data);
    std::vector<unsigned long> values;
    if (status == Success && !tRequestFailed && data && actualType == type && format == 32) {
        // Xlib hands 32-bit items out as longs.
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        values.assign(items, items + count);
    }
    if (data) XFree(data);
    return values;
}

std::optional<unsigned long> singleProperty(Display* display, Window window, Atom property,
                                            Atom type) {
    auto values = listProperty(display, window, property, type);
    if (values.empty()) return std::nullopt;
    return values.front();
}

bool hasEwmhWindowManager(Display* display, Window root, const Atoms& atoms) {
    const auto check = singleProperty(display, root, atoms.supportingWmCheck, XA_WINDOW);
    if (!check || singleProperty(display, *check, atoms.supportingWmCheck, XA_WINDOW) != check) {
        return false;
    }
    const auto supported = listProperty(display, root, atoms.supported, XA_ATOM);
    return std::find(supported.begin(), supported.end(), atoms.activeWindow) != supported.end();
}

// Candidate windows, bottom of the stack first.
std::vector<Window> clientWindows(Display* display, Window root, const Atoms& atoms) {
    auto windows = listProperty(display, root, atoms.clientListStacking, XA_WINDOW);
    if (windows.empty()) windows = listProperty(display, root, atoms.clientList, XA_WINDOW);
    if (!windows.empty()) return {windows.begin(), windows.end()};

    // No window manager lists clients: the viewable children of the root are the windows.
    std::vector<Window> viewable;
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count) && children) {
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(display, children[i], &attributes) &&
                attributes.map_state == IsViewable && !attributes.override_redirect) {
                viewable.push_back(children[i]);
            }
        }
        XFree(children);
    }
    return viewable;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

bool classMatches(Display* display, Window window, const std::vector<std::string>& wmClasses) {
    XClassHint hint{};
    tRequestFailed = false;
    if (!XGetClassHint(display, window, &hint) || tRequestFailed) return false;
    bool matches = false;
    for (const auto& wanted : wmClasses) {
        if ((hint.res_name && equalIgnoringCase(hint.res_name, wanted)) ||
            (hint.res_class && equalIgnoringCase(hint.res_class, wanted))) {
            matches = true;
        }
    }
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return matches;
}

// The window to activate: a window of the best-ranked process, else one whose class matches;
// among equals the topmost.
std::optional<Window> findWindow(Display* display, const std::vector<Window>& windows,
                                 const Atoms& atoms, const WindowQuery& query) {
    std::optional<Window> best;
    std::size_t bestRank = 0;
    for (const Window window : windows) {
        std::size_t rank = 0;
        if (const auto pid = singleProperty(display, window, atoms.wmPid, XA_CARDINAL)) {
            const auto found =
                std::find(query.pids.begin(), query.pids.end(), static_cast<pid_t>(*pid));
            if (found != query.pids.end()) {
                rank = 2 + query.pids.size() - static_cast<std::size_t>(found - query.pids.begin());
            }
        }
        if (rank == 0 && classMatches(display, window, query.wmClasses)) rank = 1;
        if (rank > 0 && rank >= bestRank) {
            best = window;
            bestRank = rank;
        }
    }
    return best;
}

bool waitForActiveWindow(Display* display, Window root, const Atoms& atoms, Window target,
                         Clock::time_point deadline) {
    auto isActive = [&] {
        return singleProperty(display, root, atoms.activeWindow, XA_WINDOW) == target;
    };
    while (true) {
        while (XPending(display) > 0) {
            XEvent event{};
            XNextEvent(display, &event);
            if (event.type == PropertyNotify && event.xproperty.atom == atoms.activeWindow &&
                isActive()) {
                return true;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return isActive();
        pollfd descriptor{ConnectionNumber(display), POLLIN, 0};
        ::poll(&descriptor, 1, static_cast<int>(left.count()));
    }
}

bool activateThroughWindowManager(Display* display, Window root, const Atoms& atoms, Window target,
                                  Clock::time_point deadline) {
    XSelectInput(display, root, PropertyChangeMask);
    if (singleProperty(display, root, atoms.activeWindow, XA_WINDOW) == target) return true;

    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = target;
    request.xclient.message_type = atoms.activeWindow;
    request.xclient.format = 32;
    request.xclient.data.l[0] = 2;  // source: a pager, acting on the user's explicit request
    request.xclient.data.l[1] = CurrentTime;
    request.xclient.data.l[2] = 0;
    tRequestFailed = false;
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &request);
    XFlush(display);
    if (tRequestFailed) return false;
    return waitForActiveWindow(display, root, atoms, target, deadline);
}

bool focusDirectly(Display* display, Window target) {
    tRequestFailed = false;
    XRaiseWindow(display, target);
    XSetInputFocus(display, target, RevertToParent, CurrentTime);
    XSync(display, False);
    if (tRequestFailed) return false;
    Window focused = 0;
    int revert = 0;
    XGetInputFocus(display, &focused, &revert);
    return focused == target;
}

}  // namespace

bool activateX11Window(const std::string& displayName, const WindowQuery& query,
                       std::chrono::milliseconds confirmWithin) {
    if (displayName.empty() || (query.pids.empty() && query.wmClasses.empty())) return false;
    const auto deadline = Clock::now() + confirmWithin;
    installErrorHandler();

    DisplayHandle display(XOpenDisplay(displayName.c_str()));
    if (!display) return false;
    XSetIOErrorExitHandler(display.get(), ignoreLostConnection, nullptr);

    const Atoms atoms(display.get());
    const Window root = DefaultRootWindow(display.get());
    const auto target =
        findWindow(display.get(), clientWindows(display.get(), root, atoms), atoms, query);
    if (!target) return false;

    if (hasEwmhWindowManager(display.get(), root, atoms)) {
        return activateThroughWindowManager(display.get(), root, atoms, *target, deadline);
    }
    return focusDirectly(display.get(), *target);
}

}  // namespace velopad
