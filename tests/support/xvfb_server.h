#pragma once
// A private X server for window tests: Xvfb on a free display (chosen by Xvfb itself through
// -displayfd), optionally with the openbox window manager, both stopped by PID at the end.

#include <sys/types.h>

#include <optional>
#include <string>

namespace velopad::testing {

class XvfbServer {
  public:
    enum class WindowManager { none, openbox };

    // Throws std::runtime_error when the server or window manager cannot be started.
    explicit XvfbServer(WindowManager windowManager);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Whether Xvfb (and openbox) can be found on PATH.
    static bool available(WindowManager windowManager);

    const std::string& display() const { return display_; }  // ":<number>"

    // Observed from the outside: the window manager's _NET_ACTIVE_WINDOW and the window that
    // holds the input focus, and the first window whose title is exactly `title`.
    std::optional<unsigned long> activeWindow() const;
    unsigned long focusedWindow() const;
    std::optional<unsigned long> windowTitled(const std::string& title) const;

  private:
    void stop();

    std::string display_;
    pid_t server_ = 0;
    pid_t windowManager_ = 0;
};

}  // namespace velopad::testing
