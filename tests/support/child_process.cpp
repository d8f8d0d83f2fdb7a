#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velopad::testing {
namespace {

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

void closeAll(std::initializer_list<int> fds) {
    for (const int fd : fds) ::close(fd);
}

}  // namespace

pid_t spawnProcess(const std::vector<std::string>& argv, Stdio stdio,
                   const std::optional<std::vector<std::string>>& environment, bool dieWithParent) {
    std::vector<std::string> command = argv;
    // setpriv execs the program in place, so the PID stays the program's.
    if (dieWithParent) command.insert(command.begin(), {"setpriv", "--pdeathsig", "TERM"});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int targets[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
    const int sources[] = {stdio.in, stdio.out, stdio.err};
    for (int i = 0; i < 3; ++i) {
        if (sources[i] >= 0) {
            posix_spawn_file_actions_adddup2(&actions, sources[i], targets[i]);
        } else {
            posix_spawn_file_actions_addopen(&actions, targets[i], "/dev/null", O_RDWR, 0);
        }
    }
    auto args = pointers(command);
    std::vector<std::string> entries = environment.value_or(std::vector<std::string>{});
    auto env = pointers(entries);
    pid_t pid = -1;
    const int error = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(),
                                     environment ? env.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + argv.at(0) + ": " + std::strerror(error));
    }
    return pid;
}

std::vector<std::string> environmentWithout(const std::vector<std::string>& dropped) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        if (std::find(dropped.begin(), dropped.end(), name) == dropped.end()) {
            entries.push_back(text);
        }
    }
    return entries;
}

std::pair<int, std::string> runCapturingOutput(
    const std::vector<std::string>& argv, const std::string& input,
    const std::optional<std::vector<std::string>>& environment) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (::pipe2(out, O_CLOEXEC) != 0) {
        closeAll({in[0], in[1]});
        throw std::runtime_error("pipe failed");
    }
    pid_t pid = -1;
    try {
        pid = spawnProcess(argv, {in[0], out[1], -1}, environment);
    } catch (...) {
        closeAll({in[0], in[1], out[0], out[1]});
        throw;
    }
    closeAll({in[0], out[1]});
    for (std::size_t done = 0; done < input.size();) {
        const ssize_t count = ::write(in[1], input.data() + done, input.size() - done);
        if (count <= 0) break;
        done += static_cast<std::size_t>(count);
    }
    ::close(in[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t count; (count = ::read(out[0], buffer, sizeof buffer)) != 0;) {
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) break;
        output.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(out[0]);
    return {waitForExitStatus(pid), output};
}

int runProgram(const std::vector<std::string>& argv, std::string* output) {
    auto [status, text] = runCapturingOutput(argv);
    if (output) *output += text;
    return status;
}

int waitForExitStatus(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stopChild(pid_t& pid, std::chrono::milliseconds patience) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    if (!waitUntil([&] { return ::waitpid(pid, nullptr, WNOHANG) != 0; }, patience)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

std::string readLineFrom(int fd, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string line;
    char c = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd poller{fd, POLLIN, 0};
        if (::poll(&poller, 1, 50) <= 0) continue;
        if (::read(fd, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
    }
    throw std::runtime_error("no complete line from the child process");
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

PortHolder::PortHolder(Options options) {
    if (options.program.empty()) options.program = VELOPAD_BINARY_DIR "/tests/port_holder";
    std::vector<std::string> argv{options.program.string(), std::to_string(options.port)};
    if (options.ignoreTerm) argv.push_back("ignore-term");
    if (options.ownNetwork) argv.insert(argv.begin(), {"unshare", "--net", "--"});
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    try {
        pid_ = spawnProcess(argv, {-1, out[1], -1});
    } catch (...) {
        closeAll({out[0], out[1]});
        throw;
    }
    ::close(out[1]);
    std::string line;
    try {
        line = readLineFrom(out[0], std::chrono::seconds(10));
    } catch (const std::exception&) {
    }
    ::close(out[0]);
    port_ = static_cast<std::uint16_t>(std::atoi(line.c_str()));
    if (port_ == 0 || (options.port != 0 && port_ != options.port)) {
        endingSignal(true);
        throw std::runtime_error("port_holder did not take its port");
    }
}

PortHolder::~PortHolder() {
    if (!reaped_) endingSignal(true);
}

bool PortHolder::running() {
    if (!reaped_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return !reaped_;
}

int PortHolder::endingSignal(bool kill) {
    if (kill && !reaped_) ::kill(pid_, SIGKILL);
    if (!waitUntil([this] { return !running(); }, std::chrono::seconds(5))) return -1;
    return WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
}

}  // namespace velopad::testing
