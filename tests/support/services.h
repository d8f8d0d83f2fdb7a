#pragma once
// Private desktop services for tests, each started for one object and stopped by its PID when
// the object ends (and by the kernel should the test process die first).

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

// A bus in the sandbox's runtime directory that lets everyone own any name, its address set in
// `variable` while the sandbox lives. What it starts on demand (dconf-service, …) stops with it.
class DBusSession {
  public:
    explicit DBusSession(Sandbox& sandbox,
                         const std::string& variable = "DBUS_SESSION_BUS_ADDRESS");
    ~DBusSession();

    const std::string& address() const { return address_; }

  private:
    std::string address_;
    Child bus_;
};

// A Secret Service on its own session bus: gnome-keyring-daemon (secrets only), its login
// keyring created and unlocked with the password "pw" under the sandbox's XDG_DATA_HOME.
class KeyringSession {
  public:
    explicit KeyringSession(Sandbox& sandbox);

    const std::string& busAddress() const { return bus_.address(); }
    // secret-tool with `arguments` (and `input` for "store"): its exit status and output.
    std::pair<int, std::string> secretTool(const std::vector<std::string>& arguments,
                                           const std::string& input = "") const;

  private:
    DBusSession bus_;
    Child keyring_;
};

// A PulseAudio server in the sandbox whose default output is the null sink "test".
class PulseAudioServer {
  public:
    explicit PulseAudioServer(Sandbox& sandbox);

    // pactl with `arguments`: its output; throws if it fails.
    std::string pactl(const std::vector<std::string>& arguments) const;
    // Raw channel volumes (65536 is 100 %) and mute state of a sink.
    std::vector<long> sinkVolumes(const std::string& sink = "test") const;
    bool sinkMuted(const std::string& sink = "test") const;
    void setSinkVolume(const std::string& value, const std::string& sink = "test") const;
    void setSinkMuted(bool muted, const std::string& sink = "test") const;

  private:
    Child server_;
};

// Xvfb on a display it picks itself, optionally managed by openbox; windows are observed with
// xdotool.
class XvfbServer {
  public:
    enum class WindowManager { none, openbox };
    explicit XvfbServer(WindowManager windowManager);

    static bool available(WindowManager windowManager);      // on PATH
    const std::string& display() const { return display_; }  // ":<number>"

    std::optional<unsigned long> activeWindow() const;  // _NET_ACTIVE_WINDOW
    unsigned long focusedWindow() const;                // the input focus
    std::optional<unsigned long> windowTitled(const std::string& title) const;

  private:
    std::string display_;
    Child server_;
    Child windowManager_;
};

// Whether this process's network namespace has no interface but "lo".
bool onlyLoopbackInterfaces();

// A resolved service as avahi-browse reports it.
struct BrowsedService {
    std::string name;  // unescaped
    std::string type;
    std::string domain;
    int port = 0;
    std::string txt;  // as printed: empty, or quoted strings separated by spaces

    friend bool operator==(const BrowsedService&, const BrowsedService&) = default;
};

// A private system bus (libdbus reads DBUS_SYSTEM_BUS_ADDRESS once, so keep one for the whole
// suite) and on demand an avahi-daemon on loopback only; it multicasts, so it starts only in a
// private network namespace (scripts/in-private-netns).
class AvahiTestServices {
  public:
    AvahiTestServices();

    void startDaemon();  // waits until it serves
    void stopDaemon() { daemon_ = Child(); }
    // The resolved services of `type`, sorted by name.
    std::vector<BrowsedService> browse(const std::string& type = "_harborlink._tcp") const;

  private:
    Sandbox sandbox_;
    DBusSession bus_;
    Child daemon_;
};

}  // namespace velopad::testing
