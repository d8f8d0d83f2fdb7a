#pragma once
// A private Secret Service for tests: a session dbus-daemon listening in the sandbox's runtime
// directory and a gnome-keyring-daemon (secrets component only) on it, its login keyring
// created and unlocked with the password "pw" and kept under the sandbox's XDG_DATA_HOME.
// DBUS_SESSION_BUS_ADDRESS points at the private bus while the object lives. Both daemons are
// children of the creating thread, stopped by their PIDs when the object ends and by the kernel
// should the test process die first. Create it on the thread that will destroy it.

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

class KeyringSession {
  public:
    // Throws std::runtime_error when the bus or the keyring does not come up within seconds.
    explicit KeyringSession(Sandbox& sandbox);
    ~KeyringSession();
    KeyringSession(const KeyringSession&) = delete;
    KeyringSession& operator=(const KeyringSession&) = delete;

    const std::string& busAddress() const { return busAddress_; }

    // Runs secret-tool with `arguments` against this keyring; returns its exit status and
    // standard output. `input` is written to its standard input (for "store").
    std::pair<int, std::string> secretTool(const std::vector<std::string>& arguments,
                                           const std::string& input = "") const;

  private:
    void stop();

    pid_t busPid_ = -1;
    pid_t keyringPid_ = -1;
    std::string busAddress_;
};

// Runs `argv` (looked up in PATH) with the current environment, feeding `input` to its
// standard input; returns its exit status (-1 when it did not exit normally) and standard
// output. Standard error goes to /dev/null.
std::pair<int, std::string> runCapturingOutput(const std::vector<std::string>& argv,
                                               const std::string& input = "");

}  // namespace velopad::testing
