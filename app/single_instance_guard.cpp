#include "app/single_instance_guard.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "platform/linux/proc_executable.h"

namespace velopad {
namespace {

using namespace std::chrono_literals;

constexpr auto quitGrace = 100ms;
constexpr auto probePause = 100ms;

// Direct system calls: glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
int openPidfd(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
int signalPidfd(int pidfd, int signal) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// Whether the process behind `pidfd` has ended (a zombie counts as ended).
bool hasExited(int pidfd) {
    pollfd entry{pidfd, POLLIN, 0};
    return poll(&entry, 1, 0) == 1;
}

// Ends one other copy. The pidfd pins the process, so a PID reused after the copy's exit is never
// signalled; the executable is checked again once it is pinned.
void terminateCopy(pid_t pid, const ExecutableFile& executable) {
    const int pidfd = openPidfd(pid);
    if (pidfd < 0) return;  // already gone
    if (processRunsExecutable(pid, executable)) {
        // Ask it to quit; if that is refused, force it.
        if (signalPidfd(pidfd, SIGTERM) != 0) {
            signalPidfd(pidfd, SIGKILL);
        }
        std::this_thread::sleep_for(quitGrace);
        if (!hasExited(pidfd)) signalPidfd(pidfd, SIGKILL);
    }
    close(pidfd);
}

bool portIsBindable(std::uint16_t port, bool& socketFailed) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        socketFailed = true;
        return false;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr("0.0.0.0");
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}

}  // namespace

void SingleInstanceGuard::enforce() { enforce("/proc/self/exe", defaultPort); }

void SingleInstanceGuard::enforce(const std::filesystem::path& executable, std::uint16_t port) {
    const auto file = executableFile(executable);
    if (!file) return;
    const auto copies = otherProcessesRunning(*file);
    if (copies.empty()) return;
    for (const pid_t pid : copies) terminateCopy(pid, *file);
    waitForPortRelease(portProbeAttempts, port);
}

void SingleInstanceGuard::waitForPortRelease(int attempts, std::uint16_t port) {
    for (int count = 0;;) {
        bool socketFailed = false;
        if (portIsBindable(port, socketFailed) || socketFailed) return;
        if (attempts <= 0) return;
        ++count;
        std::this_thread::sleep_for(probePause);
        if (count >= attempts) return;
    }
}

}  // namespace velopad
