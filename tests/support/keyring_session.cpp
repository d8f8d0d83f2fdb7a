#include "tests/support/keyring_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velopad::testing {
namespace {

class SpawnActions {
  public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

pid_t spawn(const std::vector<std::string>& argv, SpawnActions& actions) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, args[0], actions.get(), nullptr, args.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
    return pid;
}

std::string findInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        const std::size_t end = std::min(directories.find(':', start), directories.size());
        const std::string candidate = directories.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    throw std::runtime_error("cannot find " + name);
}

// Starts a daemon as our child that the kernel stops (SIGTERM) when this thread ends, so a
// crashing test leaves nothing running. `in` and `out` become its standard input and output
// (-1: /dev/null); standard error goes to /dev/null.
pid_t spawnDaemon(const std::vector<std::string>& argv, int in, int out) {
    const std::string program = findInPath(argv[0]);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(devNull);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) ::_exit(127);
        ::dup2(in >= 0 ? in : devNull, STDIN_FILENO);
        ::dup2(out >= 0 ? out : devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execve(program.c_str(), args.data(), environ);
        ::_exit(127);
    }
    ::close(devNull);
    return pid;
}

// One line from `fd`, waiting at most `timeout`.
std::string readLine(int fd, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string line;
    char c = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd poller{fd, POLLIN, 0};
        if (::poll(&poller, 1, 50) <= 0) continue;
        const ssize_t count = ::read(fd, &c, 1);
        if (count <= 0) break;
        if (c == '\n') return line;
        line += c;
    }
    throw std::runtime_error("no line from the daemon");
}

void writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t count = ::write(fd, data.data() + done, data.size() - done);
        if (count <= 0) return;
        done += static_cast<std::size_t>(count);
    }
}

std::string readAll(int fd) {
    std::string output;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<std::size_t>(count));
    }
    return output;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool secretServiceIsOnTheBus() {
    const auto [status, output] =
        runCapturingOutput({"dbus-send", "--session", "--print-reply",
                            "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"});
    return status == 0 && output.find("boolean true") != std::string::npos;
}

}  // namespace

std::pair<int, std::string> runCapturingOutput(const std::vector<std::string>& argv,
                                               const std::string& input) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        throw std::runtime_error("pipe failed");
    }
    SpawnActions actions;
    posix_spawn_file_actions_adddup2(actions.get(), in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(actions.get(), out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    try {
        pid = spawn(argv, actions);
    } catch (...) {
        for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
        throw;
    }
    ::close(in[0]);
    ::close(out[1]);
    writeAll(in[1], input);
    ::close(in[1]);
    std::string output = readAll(out[0]);
    ::close(out[0]);
    return {waitFor(pid), output};
}

KeyringSession::KeyringSession(Sandbox& sandbox) {
    // The bus, listening in the sandbox; it prints its address once it accepts connections.
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string socket = (sandbox.runtimeDir() / "bus").string();
    try {
        busPid_ = spawnDaemon({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                               "--address=unix:path=" + socket, "--print-address=1"},
                              -1, out[1]);
        ::close(out[1]);
        busAddress_ = readLine(out[0], std::chrono::seconds(10));
        ::close(out[0]);
    } catch (...) {
        ::close(out[0]);
        stop();
        throw;
    }
    sandbox.setEnv("DBUS_SESSION_BUS_ADDRESS", busAddress_);
    sandbox.setEnv("DISPLAY", std::nullopt);  // no prompts, no X11 autolaunch

    // The keyring: --unlock reads the login password from standard input.
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        stop();
        throw std::runtime_error("pipe failed");
    }
    try {
        keyringPid_ = spawnDaemon(
            {"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"}, in[0],
            -1);
    } catch (...) {
        ::close(in[0]);
        ::close(in[1]);
        stop();
        throw;
    }
    ::close(in[0]);
    writeAll(in[1], "pw");
    ::close(in[1]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!secretServiceIsOnTheBus()) {
        if (::waitpid(keyringPid_, nullptr, WNOHANG) == keyringPid_) {
            keyringPid_ = -1;  // already reaped
            stop();
            throw std::runtime_error("gnome-keyring-daemon exited during start-up");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("gnome-keyring-daemon did not come up");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

KeyringSession::~KeyringSession() { stop(); }

void KeyringSession::stop() {
    if (keyringPid_ > 0) {
        ::kill(keyringPid_, SIGTERM);
        waitFor(keyringPid_);
        keyringPid_ = -1;
    }
    if (busPid_ > 0) {
        ::kill(busPid_, SIGTERM);
        waitFor(busPid_);
        busPid_ = -1;
    }
}

std::pair<int, std::string> KeyringSession::secretTool(const std::vector<std::string>& arguments,
                                                       const std::string& input) const {
    std::vector<std::string> argv{"secret-tool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runCapturingOutput(argv, input);
}

}  // namespace velopad::testing
