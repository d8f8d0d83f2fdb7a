#include "tests/support/services.h"

#include <fcntl.h>
#include <net/if.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace velopad::testing {
namespace fs = std::filesystem;
namespace {

// avahi-browse writes a byte as "\DDD" in decimal and escapes other characters with "\".
std::string unescape(const std::string& text) {
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

}  // namespace

DBusSession::DBusSession(Sandbox& sandbox, const std::string& variable)
    : address_("unix:path=" + (sandbox.runtimeDir() / "session-bus").string()) {
    Pipe out;  // the bus prints its address once it serves
    bus_ = Child(spawnProcess({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                               "--address=" + address_, "--print-address=1"},
                              {-1, out.ends[1], -1}, std::nullopt, true));
    out.closeWrite();
    readLineFrom(out.ends[0], 10s);
    sandbox.setEnv(variable, address_);
}

DBusSession::~DBusSession() {
    std::error_code error;
    const auto tasks = fs::path("/proc") / std::to_string(bus_.pid()) / "task";
    for (fs::directory_iterator it(tasks, error), end; !error && it != end; it.increment(error)) {
        std::ifstream file(it->path() / "children");
        for (pid_t child = 0; file >> child;) ::kill(child, SIGTERM);
    }
}

KeyringSession::KeyringSession(Sandbox& sandbox) : bus_(sandbox) {
    sandbox.setEnv("DISPLAY", std::nullopt);  // no prompts, no X11 autolaunch
    const auto password = sandbox.root() / "keyring-password";
    writeTextFile(password, "pw");
    keyring_ = startService(
        {"sh", "-c", "exec gnome-keyring-daemon --foreground --unlock --components=secrets <\"$0\"",
         password.string()},
        [] {
            return runCapturingOutput({"dbus-send", "--session", "--print-reply",
                                       "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus.NameHasOwner",
                                       "string:org.freedesktop.secrets"})
                       .second.find("boolean true") != std::string::npos;
        });
}

std::pair<int, std::string> KeyringSession::secretTool(const std::vector<std::string>& arguments,
                                                       const std::string& input) const {
    std::vector<std::string> argv{"secret-tool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runCapturingOutput(argv, input);
}

PulseAudioServer::PulseAudioServer(Sandbox& sandbox) {
    sandbox.setEnv("PULSE_SERVER", std::nullopt);
    sandbox.setEnv("DISPLAY", std::nullopt);  // libpulse would also look for a server on X11
    server_ = startService(
        {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
         "--system=no", "--use-pid-file=no", "--load=module-native-protocol-unix",
         "--load=module-null-sink sink_name=test"},
        [&] {
            return fs::exists(sandbox.runtimeDir() / "pulse" / "native") &&
                   runProgram({"pactl", "get-default-sink"}) == 0;
        });
}

std::string PulseAudioServer::pactl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto [status, output] = runCapturingOutput(argv);
    if (status != 0) throw std::runtime_error("pactl failed: " + arguments.front());
    return output;
}

std::vector<long> PulseAudioServer::sinkVolumes(const std::string& sink) const {
    // "Volume: front-left: 63570 /  97% / -0.79 dB,   front-right: 63570 / ..."
    const std::string output = pactl({"get-sink-volume", sink});
    static const std::regex channel(R"(:\s*(\d+)\s*/)");
    std::vector<long> volumes;
    for (std::sregex_iterator it(output.begin(), output.end(), channel), end; it != end; ++it) {
        volumes.push_back(std::stol((*it)[1]));
    }
    return volumes;
}

bool PulseAudioServer::sinkMuted(const std::string& sink) const {
    return pactl({"get-sink-mute", sink}).find("yes") != std::string::npos;
}

void PulseAudioServer::setSinkVolume(const std::string& value, const std::string& sink) const {
    pactl({"set-sink-volume", sink, value});
}

void PulseAudioServer::setSinkMuted(bool muted, const std::string& sink) const {
    pactl({"set-sink-mute", sink, muted ? "1" : "0"});
}

bool XvfbServer::available(WindowManager windowManager) {
    return runProgram({"sh", "-c",
                       windowManager == WindowManager::none
                           ? "command -v Xvfb"
                           : "command -v Xvfb && command -v openbox"}) == 0;
}

XvfbServer::XvfbServer(WindowManager windowManager) {
    // The XDG search paths of the tests point at private folders; openbox needs its own
    // configuration and theme (without a theme it quits).
    auto environment = environmentWithout({"DISPLAY", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS"});
    Pipe displayNumber;
    server_ = Child(spawnProcess(
        {"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp", "-noreset"},
        {-1, displayNumber.ends[1], -1}, environment, true));
    displayNumber.closeWrite();
    display_ = ":" + readLineFrom(displayNumber.ends[0], 10s);
    if (windowManager == WindowManager::none) return;
    // openbox runs its --startup command once it manages windows; a window mapped before may
    // never be shown.
    char ready[] = "/tmp/velopad-openbox-XXXXXX";
    ::close(::mkstemp(ready));
    fs::remove(ready);
    environment.push_back("DISPLAY=" + display_);
    windowManager_ = startService(
        {"openbox", "--sm-disable", "--startup", std::string("touch ") + ready},
        [&] { return fs::exists(ready); }, {}, environment);
    fs::remove(ready);
}

std::optional<unsigned long> XvfbServer::activeWindow() const {
    const std::string output = commandOutput({"xdotool", "getactivewindow"}, display_);
    return output.empty() ? std::nullopt : std::optional(std::stoul(output));
}

unsigned long XvfbServer::focusedWindow() const {
    const std::string output = commandOutput({"xdotool", "getwindowfocus", "-f"}, display_);
    return output.empty() ? 0 : std::stoul(output);
}

std::optional<unsigned long> XvfbServer::windowTitled(const std::string& title) const {
    const std::string output =
        commandOutput({"xdotool", "search", "--name", "^" + title + "$"}, display_);
    return output.empty() ? std::nullopt : std::optional(std::stoul(output));
}

bool onlyLoopbackInterfaces() {
    struct if_nameindex* interfaces = if_nameindex();
    if (!interfaces) return false;
    bool onlyLoopback = true;
    for (const struct if_nameindex* entry = interfaces; entry->if_index != 0; ++entry) {
        if (std::string(entry->if_name) != "lo") onlyLoopback = false;
    }
    if_freenameindex(interfaces);
    return onlyLoopback;
}

AvahiTestServices::AvahiTestServices() : bus_(sandbox_, "DBUS_SYSTEM_BUS_ADDRESS") {
    writeTextFile(sandbox_.root() / "avahi-daemon.conf",
                  "[server]\nhost-name=velopad-test\nallow-interfaces=lo\nuse-ipv4=yes\n"
                  "use-ipv6=no\n[publish]\npublish-workstation=no\npublish-hinfo=no\n");
}

void AvahiTestServices::startDaemon() {
    if (daemon_.pid() > 0) return;
    if (!onlyLoopbackInterfaces())
        throw std::logic_error("avahi-daemon outside a private network namespace");
    // A private mount namespace gives the daemon its own /run for its PID file and socket;
    // unshare and the shell exec, so the PID stays the daemon's.
    const auto log = sandbox_.root() / "avahi-daemon.log";
    writeTextFile(log, "");
    const int fd = ::open(log.c_str(), O_WRONLY | O_CLOEXEC);
    daemon_ = startService(
        {"unshare", "-m", "--", "sh", "-c",
         "mount -t tmpfs tmpfs /run && exec avahi-daemon -f \"$0\" "
         "--no-drop-root --no-chroot --no-rlimits",
         (sandbox_.root() / "avahi-daemon.conf").string()},
        [&] { return readTextFile(log).find("Server startup complete") != std::string::npos; },
        {-1, fd, fd});
    ::close(fd);
}

std::vector<BrowsedService> AvahiTestServices::browse(const std::string& type) const {
    // Lines in event order: "+" found, "=" resolved, "-" removed (a withdrawn service may still
    // be found in the cache and then removed within one run).
    std::vector<BrowsedService> services;
    std::istringstream lines(commandOutput({"avahi-browse", "-rpt", type}, std::nullopt));
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
        const std::string name = unescape(fields[3]);
        std::erase_if(services, [&](const BrowsedService& known) { return known.name == name; });
        if (fields[0] == "=" && fields.size() == 10) {
            services.push_back(
                {name, fields[4], fields[5], std::atoi(fields[8].c_str()), fields[9]});
        }
    }
    std::sort(services.begin(), services.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return services;
}

}  // namespace velopad::testing
