#pragma once
// Only one agent may own the Harborlink port and the DNS-SD name: at start-up the newest copy
// terminates every other running copy of the same executable and then waits a bounded time for
// the port to become bindable. Blocking by design: it runs once, before the event loop exists.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace velopad {

class SingleInstanceGuard {
  public:
    static constexpr std::uint16_t defaultPort = 9847;
    static constexpr int portProbeAttempts = 50;

    SingleInstanceGuard() = delete;

    // Terminates the other copies of this program (/proc/self/exe) and waits for port 9847.
    static void enforce();

    // The same for the program at `executable` (a copy is a process of this user running the same
    // file, or one since replaced at that path, in the same network namespace, since only such a
    // copy can hold the port) and the given port. Only copies that started before this process
    // are ended (the newest copy wins). Each gets SIGTERM, 100 ms, then
    // SIGKILL if it is still alive. With no other copy it returns at once, without probing.
    // `self` is the copy that stays: this process, or another in tests.
    static void enforce(const std::filesystem::path& executable, std::uint16_t port,
                        pid_t self = getpid());

    // The same for copies of any of `executables` (the terminal and the desktop programs of one
    // installation): all are ended first, then the port is waited for once.
    static void enforceAll(const std::vector<std::filesystem::path>& executables,
                           std::uint16_t port, pid_t self = getpid());

    // Tries to bind 0.0.0.0:`port` (SO_REUSEADDR) until it succeeds, sleeping 100 ms after each
    // failure, at most `attempts` times; 0 probes once without waiting. Ends at once when no socket
    // can be created. Never fails: a port still in use is reported later by the listener.
    static void waitForPortRelease(int attempts, std::uint16_t port = defaultPort);
};

}  // namespace velopad
