#include "tests/support/dbus_session.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace velopad::testing {

DBusSession::DBusSession(Sandbox& sandbox) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string socket = (sandbox.runtimeDir() / "session-bus").string();
    try {
        pid_ = spawnProcess({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                             "--address=unix:path=" + socket, "--print-address=1"},
                            {-1, out[1], -1}, std::nullopt, true);
        ::close(out[1]);
        out[1] = -1;
        // The daemon prints its address once it accepts connections.
        address_ = readLineFrom(out[0], std::chrono::seconds(10));
    } catch (...) {
        ::close(out[0]);
        if (out[1] >= 0) ::close(out[1]);
        stopChild(pid_);
        throw;
    }
    ::close(out[0]);
    sandbox.setEnv("DBUS_SESSION_BUS_ADDRESS", address_);
}

DBusSession::~DBusSession() {
    // What the bus started on demand are its children, listed by /proc.
    std::error_code error;
    const auto tasks = std::filesystem::path("/proc") / std::to_string(pid_) / "task";
    for (std::filesystem::directory_iterator it(tasks, error), end; !error && it != end;
         it.increment(error)) {
        std::ifstream file(it->path() / "children");
        for (pid_t child = 0; file >> child;) ::kill(child, SIGTERM);
    }
    stopChild(pid_);
}

}  // namespace velopad::testing
