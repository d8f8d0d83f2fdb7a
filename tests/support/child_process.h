#pragma once
// Programs a test starts, waits for and stops by PID; free of GoogleTest.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velopad::testing {

using namespace std::chrono_literals;
using Environment = std::optional<std::vector<std::string>>;  // KEY=VALUE; none: ours

struct Stdio {
    int in = -1;  // -1: /dev/null
    int out = -1;
    int err = -1;
};

// Both ends of a close-on-exec pipe, closed when the object ends.
struct Pipe {
    Pipe();
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead();
    void closeWrite();
    int ends[2];
};

// Starts `argv` (looked up in PATH). With `dieWithParent` the kernel sends it SIGTERM when the
// creating thread ends; the PID stays the program's. Throws std::runtime_error.
pid_t spawnProcess(const std::vector<std::string>& argv, Stdio stdio = {},
                   const Environment& environment = std::nullopt, bool dieWithParent = false);

// Our environment without the variables `dropped`.
std::vector<std::string> environmentWithout(const std::vector<std::string>& dropped);

// Runs `argv` to its end with `input` on its standard input: its exit status (-1 when it did not
// exit normally) and standard output.
std::pair<int, std::string> runCapturingOutput(const std::vector<std::string>& argv,
                                               const std::string& input = "",
                                               const Environment& environment = std::nullopt);
// The same, its output appended to `output`.
int runProgram(const std::vector<std::string>& argv, std::string* output = nullptr);
// The standard output of `argv` run with DISPLAY `display` (none: unset); empty on failure.
std::string commandOutput(const std::vector<std::string>& argv,
                          const std::optional<std::string>& display);

// SIGTERM, up to five seconds, then SIGKILL for our child `pid`; sets it to -1.
void stopChild(pid_t& pid);
// SIGKILL for `pid`, waiting until it is reaped (our child or adopted) or gone.
void stopProcess(pid_t pid);
// Makes this process adopt orphaned descendants (programs GIO starts), so they can be reaped.
void adoptOrphans();

// One line (without its newline) read from `fd` within `timeout`; throws std::runtime_error.
std::string readLineFrom(int fd, std::chrono::milliseconds timeout);

// Polls `condition` every 20 ms until it holds or `timeout` passes; returns its last value.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

// A child that is stopped with stopChild when the object ends.
class Child {
  public:
    explicit Child(pid_t pid = -1) : pid_(pid) {}
    Child(Child&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
    Child& operator=(Child&& other) noexcept {
        std::swap(pid_, other.pid_);
        return *this;
    }
    ~Child() { stopChild(pid_); }

    pid_t pid() const { return pid_; }
    bool ended();  // reaps it

  private:
    pid_t pid_;
};

// Starts a service with dieWithParent and waits until `ready` holds; throws std::runtime_error
// when it ends first or is not ready within `timeout`.
Child startService(const std::vector<std::string>& argv, const std::function<bool()>& ready,
                   Stdio stdio = {}, const Environment& environment = std::nullopt,
                   std::chrono::milliseconds timeout = 10s);

// A port_holder helper listening on a port, as another program or a copy of the agent would.
class PortHolder {
  public:
    struct Options {
        std::filesystem::path program = "";  // default: the built port_holder
        std::uint16_t port = 0;              // 0: a free port
        bool ignoreTerm = false;             // it survives SIGTERM
        bool ownNetwork = false;             // in a network namespace of its own (needs root)
    };
    PortHolder() : PortHolder(Options{}) {}
    explicit PortHolder(Options options);
    ~PortHolder() { endingSignal(true); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    std::uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    bool running();
    // Kills it (if `kill`) and waits for its end: the signal that ended it, 0 for an exit, -1
    // when it did not end within seconds.
    int endingSignal(bool kill = false);

  private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    int status_ = 0;
    bool reaped_ = false;
};

// The fake_app helper, the title its windows get for an entry `id`, and what a started copy
// wrote to its record file (waited for up to `timeout`).
std::filesystem::path fakeAppPath();
std::string fakeAppTitle(const std::string& id);
struct FakeAppRecord {
    pid_t pid = 0;
    std::string display;  // empty when it had none
};
std::optional<FakeAppRecord> waitForRecord(const std::filesystem::path& path,
                                           std::chrono::milliseconds timeout = 10s);
// Starts fake_app directly with `arguments` and DISPLAY `display` (none: unset).
pid_t spawnFakeApp(const std::vector<std::string>& arguments,
                   const std::optional<std::string>& display);

}  // namespace velopad::testing
