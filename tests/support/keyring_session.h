#pragma once
// A private Secret Service for tests: a private session bus (DBusSession) and a
// gnome-keyring-daemon (secrets component only) on it, its login keyring created and unlocked
// with the password "pw" and kept under the sandbox's XDG_DATA_HOME. Both daemons are stopped by
// their PIDs when the object ends and by the kernel should the test process die first. Create
// it on the thread that will destroy it.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/dbus_session.h"

namespace velopad::testing {

class KeyringSession {
  public:
    // Throws std::runtime_error when the bus or the keyring does not come up within seconds.
    explicit KeyringSession(Sandbox& sandbox);
    ~KeyringSession();
    KeyringSession(const KeyringSession&) = delete;
    KeyringSession& operator=(const KeyringSession&) = delete;

    const std::string& busAddress() const { return bus_->address(); }

    // Runs secret-tool with `arguments` against this keyring; returns its exit status and
    // standard output. `input` is written to its standard input (for "store").
    std::pair<int, std::string> secretTool(const std::vector<std::string>& arguments,
                                           const std::string& input = "") const;

  private:
    std::unique_ptr<DBusSession> bus_;
    pid_t keyringPid_ = -1;
};

}  // namespace velopad::testing
