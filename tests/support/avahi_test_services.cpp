#include "tests/support/avahi_test_services.h"

#include <fcntl.h>
#include <net/if.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velopad::testing {
namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts `argv` with standard output and error going to `log` and waits until the log shows
// `marker`: its PID.
pid_t startLogged(const std::vector<std::string>& argv, const std::filesystem::path& log,
                  const std::string& marker) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot open " + log.string());
    pid_t pid = -1;
    try {
        pid = spawnProcess(argv, {-1, fd, fd});
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    const bool timedOut = !waitUntil([&] {
        return readAll(log).find(marker) != std::string::npos ||
               waitpid(pid, nullptr, WNOHANG) == pid;
    });
    if (readAll(log).find(marker) == std::string::npos) {
        stopChild(pid);
        throw std::runtime_error(argv[0] + (timedOut ? " did not start: " : " exited: ") +
                                 readAll(log));
    }
    return pid;
}

// Undoes avahi-browse's escaping of names: "\032" is a byte in decimal, "\." a literal.
std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() &&
            std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 3)));
            i += 3;
        } else if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[++i];
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

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

AvahiTestServices::AvahiTestServices() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velopad-avahi-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    directory_ = pattern;
    const auto socket = directory_ / "system_bus";
    std::ofstream(directory_ / "bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>system</type>\n"
           "  <listen>unix:path="
        << socket.string()
        << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"*\"/>\n"
           "    <allow own=\"*\"/>\n"
           "    <allow send_type=\"method_call\"/>\n"
           "    <allow send_destination=\"*\"/>\n"
           "    <allow receive_sender=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
    std::ofstream(directory_ / "avahi-daemon.conf")
        << "[server]\nhost-name=velopad-test\nallow-interfaces=lo\nuse-ipv4=yes\nuse-ipv6=no\n"
           "[publish]\npublish-workstation=no\npublish-hinfo=no\n";

    busPid_ = startLogged({"dbus-daemon", "--config-file=" + (directory_ / "bus.conf").string(),
                           "--nofork", "--nopidfile", "--print-address=1"},
                          directory_ / "bus.log", "unix:");
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket.string()).c_str(), 1);
}

AvahiTestServices::~AvahiTestServices() {
    stopDaemon();
    stopChild(busPid_);
    std::error_code error;
    std::filesystem::remove_all(directory_, error);
}

void AvahiTestServices::startDaemon() {
    if (daemonPid_ > 0) return;
    if (!onlyLoopbackInterfaces())
        throw std::logic_error("avahi-daemon outside a private network namespace");
    // A private mount namespace gives the daemon its own /run for its PID file and socket;
    // unshare execs the shell, which execs the daemon, so the PID stays the daemon's.
    daemonPid_ = startLogged({"unshare", "-m", "--", "sh", "-c",
                              "mount -t tmpfs tmpfs /run && exec avahi-daemon -f \"$0\" "
                              "--no-drop-root --no-chroot --no-rlimits",
                              (directory_ / "avahi-daemon.conf").string()},
                             directory_ / "avahi-daemon.log", "Server startup complete");
}

void AvahiTestServices::stopDaemon() { stopChild(daemonPid_); }

std::vector<BrowsedService> AvahiTestServices::browse(const std::string& type) const {
    // Lines in event order: "+" found, "=" resolved, "-" removed (a withdrawn service may still
    // be found in the cache and then removed within one run).
    std::vector<BrowsedService> services;
    FILE* pipe = popen(("avahi-browse -rpt " + type + " 2>/dev/null").c_str(), "r");
    if (!pipe) return services;
    char buffer[4096];
    while (fgets(buffer, sizeof buffer, pipe)) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n') line.pop_back();
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
    pclose(pipe);
    std::sort(services.begin(), services.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return services;
}

}  // namespace velopad::testing
