#pragma once
// DNS-SD test services: a private system bus and an avahi-daemon restricted to loopback, in a
// temporary directory, started and stopped by PID. The daemon multicasts, so it is only started
// inside a private network namespace (scripts/in-private-netns): check onlyLoopbackInterfaces()
// first. The bus address goes into DBUS_SYSTEM_BUS_ADDRESS for the rest of the process, since
// libdbus reads it only once.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace velopad::testing {

// Whether the network namespace of this process has no interface but "lo".
bool onlyLoopbackInterfaces();

// One resolved service as avahi-browse reports it.
struct BrowsedService {
    std::string name;  // unescaped
    std::string type;
    std::string domain;
    int port = 0;
    std::string txt;  // as printed: empty, or quoted strings separated by spaces

    friend bool operator==(const BrowsedService&, const BrowsedService&) = default;
};

class AvahiTestServices {
  public:
    // Starts the bus (not the daemon). Throws std::runtime_error when it does not come up.
    AvahiTestServices();
    ~AvahiTestServices();
    AvahiTestServices(const AvahiTestServices&) = delete;
    AvahiTestServices& operator=(const AvahiTestServices&) = delete;

    // Starts avahi-daemon (on lo, IPv4 only, no workstation record) and waits until it serves.
    void startDaemon();
    void stopDaemon();

    // The resolved services of `type` (avahi-browse -rpt), sorted by name.
    std::vector<BrowsedService> browse(const std::string& type = "_harborlink._tcp") const;

    const std::filesystem::path& directory() const { return directory_; }

  private:
    std::filesystem::path directory_;
    pid_t busPid_ = -1;
    pid_t daemonPid_ = -1;
};

}  // namespace velopad::testing
