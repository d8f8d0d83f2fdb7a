#pragma once
// Programs a test starts, waits for and stops by PID; free of GoogleTest.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace velopad::testing {

using namespace std::chrono_literals;

struct Stdio {
    int in = -1;  // -1: /dev/null
    int out = -1;
    int err = -1;
};

// Both ends of a close-on-exec pipe, closed when the object ends.
struct Pipe {
    Pipe() {
        if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() { ::close(std::exchange(ends[0], -1)); }
    void closeWrite() { ::close(std::exchange(ends[1], -1)); }
    int ends[2];
};

// Starts `argv` (looked up in PATH); `dieWithParent`: SIGTERM when the creating thread ends.
inline pid_t spawnProcess(std::vector<std::string> argv, Stdio stdio = {},
                          bool dieWithParent = false) {
    // setpriv execs the program in place, so the PID stays the program's.
    if (dieWithParent) argv.insert(argv.begin(), {"setpriv", "--pdeathsig", "TERM"});
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
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    const int error = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    return pid;
}

// Runs `argv` to its end with `input`: its exit status (-1 when killed) and standard output.
inline std::pair<int, std::string> runCapturingOutput(const std::vector<std::string>& argv,
                                                      const std::string& input = "") {
    Pipe in;
    Pipe out;
    const pid_t pid = spawnProcess(argv, {in.ends[0], out.ends[1], -1});
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
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return {-1, output};
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// Polls `condition` every 20 ms until it holds or `timeout` passes; returns its last value.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
}

// SIGKILL for `pid`, then waits until it is reaped (our child or adopted) or gone.
inline void stopProcess(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    waitUntil([pid] {
        const pid_t reaped = ::waitpid(pid, nullptr, WNOHANG);
        if (reaped == pid) return true;
        if (reaped >= 0 || errno != ECHILD) return false;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(')');  // the command name may hold spaces and parentheses
        return !stat || (close != std::string::npos && text.substr(close + 1, 3) == " Z ");
    });
}

inline void adoptOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }  // reap what GIO starts

// A child that gets SIGTERM, up to five seconds, then SIGKILL when the object ends.
class Child {
  public:
    explicit Child(pid_t pid = -1) : pid_(pid) {}
    Child(Child&& other) noexcept { *this = std::move(other); }
    Child& operator=(Child&& other) noexcept {
        std::swap(pid_, other.pid_);
        std::swap(status_, other.status_);
        return *this;
    }
    ~Child() {
        if (pid_ > 0 && !stop(SIGTERM, 5s)) stop(SIGKILL, 5s);
    }

    pid_t pid() const { return pid_; }
    bool ended() {  // reaps it
        int raw = 0;
        if (pid_ > 0 && !status_ && ::waitpid(pid_, &raw, WNOHANG) == pid_)
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return pid_ <= 0 || status_;
    }
    // Sends `signal` (0: none) unless it has ended, then waits up to `timeout`, calling
    // `meanwhile` now and then: its exit status (128 + a signal that ended it), or none.
    std::optional<int> stop(
        int signal, std::chrono::milliseconds timeout,
        const std::function<void()>& meanwhile = [] {}) {
        if (signal != 0 && !ended()) ::kill(pid_, signal);
        waitUntil(
            [&] {
                const bool done = ended();
                meanwhile();
                return done;
            },
            timeout);
        return status_;
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Starts a service with dieWithParent and waits until `ready` holds; throws when it ends first.
inline Child startService(const std::vector<std::string>& argv,
                          const std::function<bool()>& ready) {
    Child child(spawnProcess(argv, {}, true));
    if (!waitUntil([&] { return child.ended() || ready(); }) || child.ended())
        throw std::runtime_error(argv.at(0) + " did not come up");
    return child;
}

// Starts a service with dieWithParent and reads, within ten seconds, the first line it prints
// (without its newline); throws when none comes.
inline std::pair<Child, std::string> startPrintingLine(const std::vector<std::string>& argv) {
    Pipe out;
    Child child(spawnProcess(argv, {-1, out.ends[1], -1}, true));
    out.closeWrite();
    std::string line;
    char c = 0;
    pollfd ready{out.ends[0], POLLIN, 0};
    while (::poll(&ready, 1, 10'000) > 0 && ::read(ready.fd, &c, 1) == 1 && c != '\n') line += c;
    if (c != '\n') throw std::runtime_error(argv.at(0) + " printed no line");
    return {std::move(child), line};
}

inline std::filesystem::path fakeAppPath() { return VELOPAD_BINARY_DIR "/tests/fake_app"; }
// The title of the window of fake_app started for an entry `id`.
inline std::string fakeAppTitle(const std::string& id) { return "fake-window-" + id; }

// What a started fake_app wrote to its record file, waited for up to ten seconds.
struct FakeAppRecord {
    pid_t pid = 0;
    std::string display;  // empty when it had none
};
inline std::optional<FakeAppRecord> waitForRecord(const std::filesystem::path& path) {
    FakeAppRecord record;
    const bool written = waitUntil([&] {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("pid=")) record.pid = std::stoi(line.substr(4));
            if (line.starts_with("display=")) record.display = line.substr(8);
        }
        return record.pid > 0;
    });
    return written ? std::optional(record) : std::nullopt;
}

// fake_app listening on a port, as another program or a copy of the agent would.
class PortHolder : public Child {
  public:
    struct Options {
        std::filesystem::path program = fakeAppPath();
        std::uint16_t port = 0;   // 0: a free port
        bool ignoreTerm = false;  // it survives SIGTERM
        bool ownNetwork = false;  // in a network namespace of its own (needs root)
    };
    PortHolder() : PortHolder(Options{}) {}
    explicit PortHolder(Options options) {
        std::vector<std::string> argv{options.program.string(), "--listen",
                                      std::to_string(options.port)};
        if (options.ignoreTerm) argv.insert(argv.end(), {"--ignore-term", "yes"});
        if (options.ownNetwork) argv.insert(argv.begin(), {"unshare", "--net", "--"});
        auto [child, port] = startPrintingLine(argv);  // fails unless it takes the port
        Child::operator=(std::move(child));
        port_ = static_cast<std::uint16_t>(std::stoi(port));
    }
    ~PortHolder() { stop(SIGKILL, 5s); }

    std::uint16_t port() const { return port_; }
    bool running() { return !ended(); }
    // Waits for it to end: the signal that ended it, 0 for an exit, -1 when it lives.
    int endingSignal() {
        const auto status = stop(0, 5s);
        return !status ? -1 : *status > 128 ? *status - 128 : 0;
    }

  private:
    std::uint16_t port_ = 0;
};

}  // namespace velopad::testing

namespace velopad::test {

using namespace std::chrono_literals;

// The built velopad-agent (or $VELOPAD_AGENT, for the proofs) taking commands on its standard
// input; its standard output and error are read line by line.
class AgentProcess {
  public:
    explicit AgentProcess(std::vector<std::string> arguments = {"--headless"}) {
        const char* chosen = std::getenv("VELOPAD_AGENT");
        arguments.insert(arguments.begin(), chosen && *chosen ? std::string(chosen)
                                                              : VELOPAD_BINARY_DIR
                                                "/app/velopad-agent");
        process_ = testing::Child(
            testing::spawnProcess(arguments, {input_.ends[0], output_.ends[1], output_.ends[1]}));
        input_.closeRead();
        output_.closeWrite();
    }
    ~AgentProcess() { process_.stop(SIGKILL, 10s); }

    pid_t pid() const { return process_.pid(); }
    const std::string& output() const { return seen_; }  // everything it wrote so far

    // The rest of the next line starting with `prefix` (earlier lines are skipped), or none.
    std::optional<std::string> waitForLine(const std::string& prefix,
                                           std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            for (std::size_t end; (end = unread_.find('\n')) != std::string::npos;) {
                std::string line = unread_.substr(0, end);
                unread_.erase(0, end + 1);
                if (line.starts_with(prefix)) return line.substr(prefix.size());
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readMore(left)) return std::nullopt;
        }
    }
    void command(const std::string& line) {
        const std::string text = line + "\n";
        if (::write(input_.ends[1], text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            throw std::runtime_error("cannot write to the agent");
    }
    // Sends `signal` (0: none) and waits for it to end, reading its output meanwhile: its status
    // (128 + a signal that ended it), or none.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout, int signal = 0) {
        return process_.stop(signal, timeout, [this] {
            while (readMore(0ms)) {
            }
        });
    }
    // SIGTERM, then waits: the exit status, or -1 when it had to be killed.
    int terminate(std::chrono::milliseconds timeout = 10s) {
        if (auto status = waitForExit(timeout, SIGTERM)) return *status;
        waitForExit(5s, SIGKILL);
        return -1;
    }

  private:
    bool readMore(std::chrono::milliseconds timeout) {
        pollfd fd{output_.ends[0], POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return false;
        char chunk[4096];
        const ssize_t count = ::read(fd.fd, chunk, sizeof chunk);
        if (count <= 0) return false;
        unread_.append(chunk, static_cast<std::size_t>(count));
        seen_.append(chunk, static_cast<std::size_t>(count));
        return true;
    }

    testing::Pipe input_;
    testing::Pipe output_;
    testing::Child process_;
    std::string unread_;
    std::string seen_;
};

}  // namespace velopad::test
