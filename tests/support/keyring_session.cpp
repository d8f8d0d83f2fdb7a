#include "tests/support/keyring_session.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace velopad::testing {

KeyringSession::KeyringSession(Sandbox& sandbox) : bus_(std::make_unique<DBusSession>(sandbox)) {
    sandbox.setEnv("DISPLAY", std::nullopt);  // no prompts, no X11 autolaunch
    // --unlock reads the login password from standard input.
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    try {
        keyringPid_ = spawnProcess(
            {"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
            {in[0], -1, -1}, std::nullopt, true);
    } catch (...) {
        ::close(in[0]);
        ::close(in[1]);
        throw;
    }
    ::close(in[0]);
    const bool written = ::write(in[1], "pw", 2) == 2;
    ::close(in[1]);
    const bool up =
        written && waitUntil([this] {
            if (::waitpid(keyringPid_, nullptr, WNOHANG) == keyringPid_) {
                keyringPid_ = -1;  // ended during start-up, and reaped
                return true;
            }
            const auto [status, output] = runCapturingOutput(
                {"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                 "string:org.freedesktop.secrets"});
            return status == 0 && output.find("boolean true") != std::string::npos;
        });
    if (!up || keyringPid_ < 0) {
        stopChild(keyringPid_);
        throw std::runtime_error("gnome-keyring-daemon did not come up");
    }
}

KeyringSession::~KeyringSession() { stopChild(keyringPid_); }

std::pair<int, std::string> KeyringSession::secretTool(const std::vector<std::string>& arguments,
                                                       const std::string& input) const {
    std::vector<std::string> argv{"secret-tool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runCapturingOutput(argv, input);
}

}  // namespace velopad::testing
