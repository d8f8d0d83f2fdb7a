#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

int exitStatus(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Environment withDisplay(const std::optional<std::string>& display) {
    auto entries = environmentWithout({"DISPLAY"});
    if (display) entries.push_back("DISPLAY=" + *display);
    return entries;
}

bool isGoneOrZombie(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return !stat || (close != std::string::npos && text.substr(close + 1, 3) == " Z ");
}

}  // namespace

Pipe::Pipe() {
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}
void Pipe::closeRead() { ::close(std::exchange(ends[0], -1)); }
void Pipe::closeWrite() { ::close(std::exchange(ends[1], -1)); }

pid_t spawnProcess(const std::vector<std::string>& argv, Stdio stdio,
                   const Environment& environment, bool dieWithParent) {
    std::vector<std::string> command = argv;
    // setpriv execs the program in place, so the PID stays the program's.
    if (dieWithParent) command.insert(command.begin(), {"setpriv", "--pdeathsig", "TERM"});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int sources[] = {stdio.in, stdio.out, stdio.err};
    for (int target = 0; target < 3; ++target) {
        if (sources[target] >= 0) {
            posix_spawn_file_actions_adddup2(&actions, sources[target], target);
        } else {
            posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_RDWR, 0);
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
        if (std::find(dropped.begin(), dropped.end(), text.substr(0, text.find('='))) ==
            dropped.end()) {
            entries.push_back(text);
        }
    }
    return entries;
}

std::pair<int, std::string> runCapturingOutput(const std::vector<std::string>& argv,
                                               const std::string& input,
                                               const Environment& environment) {
    Pipe in;
    Pipe out;
    const pid_t pid = spawnProcess(argv, {in.ends[0], out.ends[1], -1}, environment);
    in.closeRead();
    out.closeWrite();
    for (std::size_t done = 0; done < input.size();) {
        const ssize_t count = ::write(in.ends[1], input.data() + done, input.size() - done);
        if (count <= 0) break;
        done += static_cast<std::size_t>(count);
    }
    in.closeWrite();
    std::string output;
    char buffer[4096];
    for (ssize_t count; (count = ::read(out.ends[0], buffer, sizeof buffer)) != 0;) {
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) break;
        output.append(buffer, static_cast<std::size_t>(count));
    }
    return {exitStatus(pid), output};
}

int runProgram(const std::vector<std::string>& argv, std::string* output) {
    auto [status, text] = runCapturingOutput(argv);
    if (output) *output += text;
    return status;
}

std::string commandOutput(const std::vector<std::string>& argv,
                          const std::optional<std::string>& display) {
    try {
        return runCapturingOutput(argv, "", withDisplay(display)).second;
    } catch (const std::exception&) {
        return {};
    }
}

void stopChild(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    if (!waitUntil([&] { return ::waitpid(pid, nullptr, WNOHANG) != 0; }, 5s)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

void stopProcess(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    waitUntil([pid] {
        const pid_t reaped = ::waitpid(pid, nullptr, WNOHANG);
        return reaped == pid || (reaped < 0 && errno == ECHILD && isGoneOrZombie(pid));
    });
}

void adoptOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

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

bool Child::ended() {
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ < 0;
}

Child startService(const std::vector<std::string>& argv, const std::function<bool()>& ready,
                   Stdio stdio, const Environment& environment, std::chrono::milliseconds timeout) {
    Child child(spawnProcess(argv, stdio, environment, true));
    if (!waitUntil([&] { return child.ended() || ready(); }, timeout) || child.ended()) {
        throw std::runtime_error(argv.at(0) + " did not come up");
    }
    return child;
}

PortHolder::PortHolder(Options options) {
    if (options.program.empty()) options.program = fakeAppPath();
    std::vector<std::string> argv{options.program.string(), "--listen",
                                  std::to_string(options.port)};
    if (options.ignoreTerm) argv.insert(argv.end(), {"--ignore-term", "yes"});
    if (options.ownNetwork) argv.insert(argv.begin(), {"unshare", "--net", "--"});
    Pipe out;
    pid_ = spawnProcess(argv, {-1, out.ends[1], -1});
    out.closeWrite();
    try {
        port_ = static_cast<std::uint16_t>(std::stoi(readLineFrom(out.ends[0], 10s)));
    } catch (const std::exception&) {
    }
    if (port_ == 0 || (options.port != 0 && port_ != options.port)) {
        endingSignal(true);
        throw std::runtime_error("fake_app did not take its port");
    }
}

bool PortHolder::running() {
    if (!reaped_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return !reaped_;
}

int PortHolder::endingSignal(bool kill) {
    if (kill && !reaped_) ::kill(pid_, SIGKILL);
    if (!waitUntil([this] { return !running(); }, 5s)) return -1;
    return WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
}

std::filesystem::path fakeAppPath() { return VELOPAD_BINARY_DIR "/tests/fake_app"; }

std::string fakeAppTitle(const std::string& id) { return "fake-window-" + id; }

std::optional<FakeAppRecord> waitForRecord(const std::filesystem::path& path,
                                           std::chrono::milliseconds timeout) {
    FakeAppRecord record;
    waitUntil(
        [&] {
            std::ifstream in(path);
            for (std::string line; std::getline(in, line);) {
                if (line.starts_with("pid=")) record.pid = std::stoi(line.substr(4));
                if (line.starts_with("display=")) record.display = line.substr(8);
            }
            return record.pid > 0;
        },
        timeout);
    return record.pid > 0 ? std::optional(record) : std::nullopt;
}

pid_t spawnFakeApp(const std::vector<std::string>& arguments,
                   const std::optional<std::string>& display) {
    std::vector<std::string> argv{fakeAppPath().string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return spawnProcess(argv, {}, withDisplay(display));
}

}  // namespace velopad::testing

namespace velopad::test {

AgentProcess::AgentProcess(std::vector<std::string> arguments) {
    const char* chosen = std::getenv("VELOPAD_AGENT");  // the proofs may try another build
    arguments.insert(arguments.begin(), chosen && *chosen
                                            ? std::string(chosen)
                                            : std::string(VELOPAD_BINARY_DIR "/app/velopad-agent"));
    pid_ = testing::spawnProcess(arguments,
                                 {input_.ends[0], outputPipe_.ends[1], outputPipe_.ends[1]});
    input_.closeRead();
    outputPipe_.closeWrite();
}

AgentProcess::~AgentProcess() {
    if (!status_) testing::stopProcess(pid_);
}

bool AgentProcess::readMore(std::chrono::milliseconds timeout) {
    pollfd fd{outputPipe_.ends[0], POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char chunk[4096];
    const ssize_t count = ::read(fd.fd, chunk, sizeof chunk);
    if (count <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(count));
    output_.append(chunk, static_cast<std::size_t>(count));
    return true;
}

std::optional<std::string> AgentProcess::waitForLine(const std::string& prefix,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (std::size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (line.starts_with(prefix)) return line.substr(prefix.size());
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readMore(left)) return std::nullopt;
    }
}

void AgentProcess::command(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(input_.ends[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("cannot write to the agent");
    }
}

std::optional<int> AgentProcess::waitForExit(std::chrono::milliseconds timeout) {
    int status = 0;
    const auto ended = [&] {
        const bool reaped = ::waitpid(pid_, &status, WNOHANG) == pid_;
        while (readMore(std::chrono::milliseconds(0))) {
        }
        return reaped;
    };
    if (!status_ && testing::waitUntil(ended, timeout)) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_;
}

int AgentProcess::terminate(std::chrono::milliseconds timeout) {
    if (status_) return *status_;
    ::kill(pid_, SIGTERM);
    if (auto status = waitForExit(timeout)) return *status;
    ::kill(pid_, SIGKILL);
    waitForExit(std::chrono::seconds(5));
    return -1;
}

}  // namespace velopad::test
