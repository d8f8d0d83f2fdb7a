#include "platform/linux/posix_process_runner_child.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace velopad {

namespace {

void closeIfOpen(int& fd) noexcept {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

int exchangeFd(int& fd) noexcept { return std::exchange(fd, -1); }

// Pipe ends and spawn attributes that are released however spawn() leaves.
struct SpawnResources {
    int stdoutPipe[2] = {-1, -1};
    int stderrPipe[2] = {-1, -1};
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    bool actionsReady = false;
    bool attributesReady = false;

    ~SpawnResources() {
        for (int* fd : {&stdoutPipe[0], &stdoutPipe[1], &stderrPipe[0], &stderrPipe[1]}) {
            closeIfOpen(*fd);
        }
        if (actionsReady) {
            posix_spawn_file_actions_destroy(&actions);
        }
        if (attributesReady) {
            posix_spawnattr_destroy(&attributes);
        }
    }
};

[[noreturn]] void throwError(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

void check(int result, const std::string& what) {
    if (result != 0) {
        throwError(result, what);
    }
}

int waitForExit(pid_t pid) noexcept {
    int status = 0;
    pid_t result = 0;
    do {
        result = ::waitpid(pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        return -1;
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

SpawnedChild SpawnedChild::spawn(const std::string& executable,
                                 const std::vector<std::string>& arguments) {
    const std::string failure = "Could not start " + executable;
    SpawnResources resources;
    // Close-on-exec everywhere: the child gets only the write ends, through dup2 below.
    if (::pipe2(resources.stdoutPipe, O_CLOEXEC) != 0 ||
        ::pipe2(resources.stderrPipe, O_CLOEXEC) != 0) {
        throwError(errno, failure);
    }
    // Only our reading ends are non-blocking; the child's writing ends stay as a child expects.
    for (int fd : {resources.stdoutPipe[0], resources.stderrPipe[0]}) {
        if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
            throwError(errno, failure);
        }
    }

    check(posix_spawn_file_actions_init(&resources.actions), failure);
    resources.actionsReady = true;
    // Standard input is never the agent's (its terminal, when it has one).
    check(posix_spawn_file_actions_addopen(&resources.actions, STDIN_FILENO, "/dev/null", O_RDONLY,
                                           0),
          failure);
    check(posix_spawn_file_actions_adddup2(&resources.actions, resources.stdoutPipe[1],
                                           STDOUT_FILENO),
          failure);
    check(posix_spawn_file_actions_adddup2(&resources.actions, resources.stderrPipe[1],
                                           STDERR_FILENO),
          failure);
    // Nothing else of the agent (its listening socket above all) leaks into the child.
    check(posix_spawn_file_actions_addclosefrom_np(&resources.actions, STDERR_FILENO + 1), failure);

    check(posix_spawnattr_init(&resources.attributes), failure);
    resources.attributesReady = true;
    sigset_t noSignals;
    sigset_t allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    check(posix_spawnattr_setsigmask(&resources.attributes, &noSignals), failure);
    check(posix_spawnattr_setsigdefault(&resources.attributes, &allSignals), failure);
    // A session of its own: Ctrl-C or a hang-up in the agent's terminal never reaches it.
    check(posix_spawnattr_setflags(&resources.attributes, POSIX_SPAWN_SETSID |
                                                              POSIX_SPAWN_SETSIGMASK |
                                                              POSIX_SPAWN_SETSIGDEF),
          failure);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    // glibc's posix_spawn reports a failed exec (missing file, no permission, bad format)
    // through its return value.
    pid_t pid = -1;
    check(posix_spawn(&pid, executable.c_str(), &resources.actions, &resources.attributes,
                      argv.data(), environ),
          failure);
    closeIfOpen(resources.stdoutPipe[1]);
    closeIfOpen(resources.stderrPipe[1]);

    // The child cannot be reaped behind our back before this, so the pid is still its own.
    const int exitFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (exitFd < 0) {
        const int error = errno;
        ::kill(pid, SIGKILL);
        waitForExit(pid);
        throwError(error, failure);
    }
    return SpawnedChild(pid, exitFd, exchangeFd(resources.stdoutPipe[0]),
                        exchangeFd(resources.stderrPipe[0]));
}

SpawnedChild::SpawnedChild(pid_t pid, int exitFd, int stdoutFd, int stderrFd) noexcept
    : pid_(pid), exitFd_(exitFd), stdoutFd_(stdoutFd), stderrFd_(stderrFd) {}

SpawnedChild::SpawnedChild(SpawnedChild&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      exitFd_(exchangeFd(other.exitFd_)),
      stdoutFd_(exchangeFd(other.stdoutFd_)),
      stderrFd_(exchangeFd(other.stderrFd_)),
      reaped_(std::exchange(other.reaped_, true)) {}

SpawnedChild::~SpawnedChild() {
    closeIfOpen(exitFd_);
    closeIfOpen(stdoutFd_);
    closeIfOpen(stderrFd_);
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            // Killed but not gone yet: reap it elsewhere rather than block this thread.
            std::thread([pid = pid_] { waitForExit(pid); }).detach();
        }
    }
}

int SpawnedChild::takeExitDescriptor() noexcept { return exchangeFd(exitFd_); }
int SpawnedChild::takeStdoutDescriptor() noexcept { return exchangeFd(stdoutFd_); }
int SpawnedChild::takeStderrDescriptor() noexcept { return exchangeFd(stderrFd_); }

void SpawnedChild::signal(int signal) const noexcept {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, signal);
    }
}

int SpawnedChild::reap() noexcept {
    if (reaped_ || pid_ <= 0) {
        return -1;
    }
    reaped_ = true;
    return waitForExit(pid_);
}

}  // namespace velopad
