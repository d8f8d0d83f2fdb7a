#include "tests/support/dbus_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace velopad::testing {
namespace {

std::vector<char*> argvOf(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    return args;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stopByPid(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::kill(pid, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        ::usleep(10'000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, WNOHANG);
}

}  // namespace

std::vector<pid_t> childProcesses(pid_t parent) {
    std::vector<pid_t> children;
    std::error_code error;
    const auto tasks = std::filesystem::path("/proc") / std::to_string(parent) / "task";
    for (std::filesystem::directory_iterator it(tasks, error), end; !error && it != end;
         it.increment(error)) {
        std::ifstream file(it->path() / "children");
        pid_t child = 0;
        while (file >> child) children.push_back(child);
    }
    return children;
}

int runProgram(const std::vector<std::string>& argv, std::string* output) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    auto args = argvOf(argv);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("fork failed");
    }
    char buffer[4096];
    ssize_t count = 0;
    while ((count = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 ||
           (count < 0 && errno == EINTR)) {
        if (count > 0 && output) output->append(buffer, static_cast<std::size_t>(count));
    }
    ::close(pipeFds[0]);
    return waitFor(pid);
}

DBusSession::DBusSession(Sandbox& sandbox) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string socket = (sandbox.runtimeDir() / "session-bus").string();
    const std::vector<std::string> argv{
        "dbus-daemon",      "--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket,
        "--print-address=1"};
    auto args = argvOf(argv);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) ::_exit(127);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (pid_ < 0) {
        ::close(out[0]);
        throw std::runtime_error("fork failed");
    }
    // The daemon prints its address once it accepts connections.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char c = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd poller{out[0], POLLIN, 0};
        if (::poll(&poller, 1, 50) <= 0) continue;
        if (::read(out[0], &c, 1) != 1 || c == '\n') break;
        address_ += c;
    }
    ::close(out[0]);
    if (c != '\n' || address_.empty()) {
        stopByPid(pid_);
        throw std::runtime_error("dbus-daemon did not come up");
    }
    sandbox.setEnv("DBUS_SESSION_BUS_ADDRESS", address_);
}

DBusSession::~DBusSession() {
    for (const pid_t child : childProcesses(pid_)) {
        ::kill(child, SIGTERM);
    }
    stopByPid(pid_);
}

}  // namespace velopad::testing
