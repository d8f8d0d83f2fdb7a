#include "app/single_instance_guard.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
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

// When the process started, in clock ticks since boot (field 22 of /proc/<pid>/stat), or none
// when it is gone.
std::optional<unsigned long long> startTime(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return std::nullopt;
    // The command name (field 2) may hold spaces and parentheses: count from its closing one.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int index = 3; index < 22; ++index) fields >> field;
    unsigned long long ticks = 0;
    if (!(fields >> ticks)) return std::nullopt;
    return ticks;
}

// The network namespace a process lives in (the inode of /proc/<pid>/ns/net), or none when it
// cannot be read. Copies in other namespaces (containers, test sandboxes) never compete for
// this copy's port and are left alone.
std::optional<ino_t> networkNamespace(pid_t pid) {
    struct stat info {};
    if (::stat(("/proc/" + std::to_string(pid) + "/ns/net").c_str(), &info) != 0) {
        return std::nullopt;
    }
    return info.st_ino;
}

bool sharesNetwork(pid_t other, pid_t self) {
    const auto otherNamespace = networkNamespace(other);
    return otherNamespace && otherNamespace == networkNamespace(self);
}

// Only copies that started before this one are ended: the newest copy wins, so two copies
// started at nearly the same moment never end each other, and no copy is ever ended by one
// that is older.
bool startedBefore(pid_t other, pid_t self) {
    const auto otherStart = startTime(other);
    const auto selfStart = startTime(self);
    if (!otherStart || !selfStart) return false;
    return *otherStart < *selfStart || (*otherStart == *selfStart && other < self);
}

// Ends one other copy. The pidfd pins the process, so a PID reused after the copy's exit is never
// signalled; the executable is checked again once it is pinned.
void terminateCopy(pid_t pid, const ExecutableFile& executable, pid_t self) {
    const int pidfd = openPidfd(pid);
    if (pidfd < 0) return;  // already gone
    if (processRunsExecutable(pid, executable) && startedBefore(pid, self)) {
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

void SingleInstanceGuard::enforce(const std::filesystem::path& executable, std::uint16_t port,
                                  pid_t self) {
    enforceAll({executable}, port, self);
}

void SingleInstanceGuard::enforceAll(const std::vector<std::filesystem::path>& executables,
                                     std::uint16_t port, pid_t self) {
    bool endedAny = false;
    for (const auto& executable : executables) {
        const auto file = executableFile(executable);
        if (!file) continue;
        auto copies = otherProcessesRunning(*file);
        std::erase_if(copies, [self](pid_t pid) {
            return pid == self || !startedBefore(pid, self) || !sharesNetwork(pid, self);
        });
        for (const pid_t pid : copies) terminateCopy(pid, *file, self);
        endedAny = endedAny || !copies.empty();
    }
    if (endedAny) waitForPortRelease(portProbeAttempts, port);
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
