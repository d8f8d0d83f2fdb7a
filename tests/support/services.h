#pragma once
// Private desktop services for tests, each started for one object and stopped by its PID when
// the object ends (and by the kernel should the test process die first).

#include <net/if.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

// A bus in the sandbox's runtime directory that lets everyone own any name, its address set in
// `variable` while the sandbox lives. What it starts on demand (dconf-service, …) stops with it.
class DBusSession {
  public:
    explicit DBusSession(Sandbox& sandbox, const std::string& variable = "DBUS_SESSION_BUS_ADDRESS")
        : address_("unix:path=" + (sandbox.runtimeDir() / "session-bus").string()) {
        // The bus prints its address once it serves.
        bus_ = startPrintingLine({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                  "--address=" + address_, "--print-address=1"})
                   .first;
        sandbox.setEnv(variable, address_);
    }
    ~DBusSession() { runCapturingOutput({"pkill", "-TERM", "-P", std::to_string(bus_.pid())}); }

    const std::string& address() const { return address_; }

  private:
    std::string address_;
    Child bus_;
};

inline bool sessionBusHasOwner(const std::string& name) {
    return runCapturingOutput({"dbus-send", "--session", "--print-reply",
                               "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus.NameHasOwner", "string:" + name})
               .second.find("boolean true") != std::string::npos;
}

// A Secret Service on its own session bus: gnome-keyring-daemon (secrets only), its login
// keyring created and unlocked with the password "pw" under the sandbox's XDG_DATA_HOME.
class KeyringSession {
  public:
    explicit KeyringSession(Sandbox& sandbox) : bus_(sandbox) {
        sandbox.setEnv("DISPLAY", std::nullopt);  // no prompts, no X11 autolaunch
        const auto password = sandbox.root() / "keyring-password";
        writeTextFile(password, "pw");
        keyring_ = startService({"sh", "-c",
                                 "exec gnome-keyring-daemon --foreground --unlock "
                                 "--components=secrets <\"$0\"",
                                 password.string()},
                                [] { return sessionBusHasOwner("org.freedesktop.secrets"); });
    }

    const std::string& busAddress() const { return bus_.address(); }

  private:
    DBusSession bus_;
    Child keyring_;
};

// A PulseAudio server in the sandbox whose default output is the null sink "test".
class PulseAudioServer {
  public:
    explicit PulseAudioServer(Sandbox& sandbox) {
        sandbox.setEnv("PULSE_SERVER", std::nullopt);
        sandbox.setEnv("DISPLAY", std::nullopt);  // libpulse would also look for a server on X11
        server_ = startService(
            {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
             "--system=no", "--use-pid-file=no", "--load=module-native-protocol-unix",
             "--load=module-null-sink sink_name=test"},
            [&] {
                return std::filesystem::exists(sandbox.runtimeDir() / "pulse" / "native") &&
                       runCapturingOutput({"pactl", "get-default-sink"}).first == 0;
            });
    }

    // pactl with `arguments`: its output; throws if it fails.
    std::string pactl(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), "pactl");
        auto [status, output] = runCapturingOutput(arguments);
        if (status != 0) throw std::runtime_error("pactl failed: " + arguments[1]);
        return output;
    }
    // Raw channel volumes (65536 is 100 %) of a sink, from
    // "Volume: front-left: 63570 /  97% / -0.79 dB,   front-right: 63570 / ...".
    std::vector<long> sinkVolumes(const std::string& sink = "test") const {
        const std::string output = pactl({"get-sink-volume", sink});
        static const std::regex channel(R"(:\s*(\d+)\s*/)");
        std::vector<long> volumes;
        for (std::sregex_iterator it(output.begin(), output.end(), channel), end; it != end; ++it)
            volumes.push_back(std::stol((*it)[1]));
        return volumes;
    }
    bool sinkMuted(const std::string& sink = "test") const {
        return pactl({"get-sink-mute", sink}).find("yes") != std::string::npos;
    }

  private:
    Child server_;
};

// Xvfb on a display it picks itself, optionally managed by openbox; windows are observed with
// xdotool.
class XvfbServer {
  public:
    enum class WindowManager { none, openbox };
    explicit XvfbServer(WindowManager windowManager) {
        std::tie(server_, display_) =
            startPrintingLine({"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten",
                               "tcp", "-noreset"});
        display_.insert(0, ":");
        if (windowManager == WindowManager::none) return;
        // openbox runs its --startup command once it manages windows; a window mapped before may
        // never be shown.
        windowManager_ =
            startPrintingLine(onDisplay({"openbox", "--sm-disable", "--startup", "echo managing"}))
                .first;
    }

    static bool available(WindowManager windowManager) {  // on PATH
        return runCapturingOutput({"sh", "-c",
                                   windowManager == WindowManager::none
                                       ? "command -v Xvfb"
                                       : "command -v Xvfb && command -v openbox"})
                   .first == 0;
    }
    const std::string& display() const { return display_; }  // ":<number>"

    std::optional<unsigned long> activeWindow() const {  // _NET_ACTIVE_WINDOW
        return windowId({"xdotool", "getactivewindow"});
    }
    unsigned long focusedWindow() const {  // the input focus
        return windowId({"xdotool", "getwindowfocus", "-f"}).value_or(0);
    }
    std::optional<unsigned long> windowTitled(const std::string& title) const {
        return windowId({"xdotool", "search", "--name", "^" + title + "$"});
    }

  private:
    // `argv` run on this display; the XDG search paths of the tests point at private folders, and
    // openbox needs its own configuration and theme (without a theme it quits).
    std::vector<std::string> onDisplay(std::vector<std::string> argv) const {
        argv.insert(argv.begin(),
                    {"env", "-u", "XDG_CONFIG_DIRS", "-u", "XDG_DATA_DIRS", "DISPLAY=" + display_});
        return argv;
    }
    std::optional<unsigned long> windowId(const std::vector<std::string>& argv) const {
        const std::string output = runCapturingOutput(onDisplay(argv)).second;
        return output.empty() ? std::nullopt : std::optional(std::stoul(output));
    }

    std::string display_;
    Child server_;
    Child windowManager_;
};

// Whether this process's network namespace has no interface but "lo".
inline bool onlyLoopbackInterfaces() {
    struct if_nameindex* interfaces = if_nameindex();
    bool onlyLoopback = interfaces != nullptr;
    for (auto* entry = interfaces; onlyLoopback && entry->if_index != 0; ++entry)
        onlyLoopback = std::string(entry->if_name) == "lo";
    if (interfaces) if_freenameindex(interfaces);
    return onlyLoopback;
}

// A resolved service as avahi-browse reports it.
struct BrowsedService {
    std::string name;  // unescaped
    std::string type;
    std::string domain;
    int port = 0;
    std::string txt;  // as printed: empty, or quoted strings separated by spaces

    friend bool operator==(const BrowsedService&, const BrowsedService&) = default;
};

// avahi-browse writes a byte as "\DDD" in decimal and escapes other characters with "\".
inline std::string unescapeAvahi(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
        } else if (i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 3)));
            i += 3;
        } else {
            out += text[++i];
        }
    }
    return out;
}

// A private system bus (libdbus reads DBUS_SYSTEM_BUS_ADDRESS once, so keep one for the whole
// suite) and on demand an avahi-daemon on loopback only; it multicasts, so it starts only in a
// private network namespace (scripts/in-private-netns).
class AvahiTestServices {
  public:
    AvahiTestServices() : bus_(sandbox_, "DBUS_SYSTEM_BUS_ADDRESS") {
        writeTextFile(sandbox_.root() / "avahi-daemon.conf",
                      "[server]\nhost-name=velopad-test\nallow-interfaces=lo\nuse-ipv4=yes\n"
                      "use-ipv6=no\n[publish]\npublish-workstation=no\npublish-hinfo=no\n");
    }

    void startDaemon() {  // waits until it serves
        if (daemon_.pid() > 0) return;
        if (!onlyLoopbackInterfaces())
            throw std::logic_error("avahi-daemon outside a private network namespace");
        // A private mount namespace gives the daemon its own /run for its PID file and socket;
        // unshare and the shell exec, so the PID stays the daemon's.
        const auto log = sandbox_.root() / "avahi-daemon.log";
        writeTextFile(log, "");
        daemon_ = startService(
            {"unshare", "-m", "--", "sh", "-c",
             "exec >\"$1\" 2>&1; mount -t tmpfs tmpfs /run && exec avahi-daemon -f \"$0\" "
             "--no-drop-root --no-chroot --no-rlimits",
             (sandbox_.root() / "avahi-daemon.conf").string(), log.string()},
            [&] { return readTextFile(log).find("Server startup complete") != std::string::npos; });
    }
    void stopDaemon() { daemon_ = Child(); }
    // The resolved services of `type`, sorted by name.
    std::vector<BrowsedService> browse(const std::string& type = "_harborlink._tcp") const {
        // Lines in event order: "+" found, "=" resolved, "-" removed (a withdrawn service may still
        // be found in the cache and then removed within one run).
        std::vector<BrowsedService> services;
        std::istringstream lines(runCapturingOutput({"avahi-browse", "-rpt", type}).second);
        for (std::string line; std::getline(lines, line);) {
            // event;interface;protocol;name;type;domain[;host;address;port;txt]
            std::vector<std::string> fields;
            std::size_t start = 0;
            for (std::size_t end;
                 fields.size() < 9 && (end = line.find(';', start)) != std::string::npos;
                 start = end + 1)
                fields.push_back(line.substr(start, end - start));
            fields.push_back(line.substr(start));
            if (fields.size() < 6) continue;
            const std::string name = unescapeAvahi(fields[3]);
            std::erase_if(services,
                          [&](const BrowsedService& known) { return known.name == name; });
            if (fields[0] == "=" && fields.size() == 10) {
                services.push_back(
                    {name, fields[4], fields[5], std::atoi(fields[8].c_str()), fields[9]});
            }
        }
        std::sort(services.begin(), services.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
        return services;
    }

  private:
    Sandbox sandbox_;
    DBusSession bus_;
    Child daemon_;
};

}  // namespace velopad::testing
