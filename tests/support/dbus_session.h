#pragma once
// A private session bus for tests: a dbus-daemon listening in the sandbox's runtime directory,
// with DBUS_SESSION_BUS_ADDRESS pointing at it while the object lives. Services the bus starts
// on demand (dconf-service, …) are its children; they and the bus are stopped by their PIDs
// when the object ends, and by the kernel should the test process die first.

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

class DBusSession {
  public:
    // Throws std::runtime_error when the bus does not come up within seconds.
    explicit DBusSession(Sandbox& sandbox);
    ~DBusSession();
    DBusSession(const DBusSession&) = delete;
    DBusSession& operator=(const DBusSession&) = delete;

    const std::string& address() const { return address_; }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace velopad::testing
