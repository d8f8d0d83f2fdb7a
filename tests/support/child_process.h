#pragma once
// Child processes for tests: starting programs with chosen standard streams, running one to its
// end for its output, waiting for conditions and stopping what a test started, by PID.

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

struct Stdio {
    int in = -1;  // -1: /dev/null
    int out = -1;
    int err = -1;
};

// Starts `argv` (looked up in PATH) with `environment` (KEY=VALUE entries; none: ours). With
// `dieWithParent` the kernel stops it (SIGTERM) when the creating thread ends, so a crashing test
// leaves nothing running; the PID stays the program's. Throws std::runtime_error on failure.
pid_t spawnProcess(const std::vector<std::string>& argv, Stdio stdio = {},
                   const std::optional<std::vector<std::string>>& environment = std::nullopt,
                   bool dieWithParent = false);

// This process's environment without the variables named in `dropped`.
std::vector<std::string> environmentWithout(const std::vector<std::string>& dropped);

// Runs `argv` to its end, feeding `input` to its standard input; returns its exit status (-1
// when it did not exit normally) and standard output. Standard error goes to /dev/null.
std::pair<int, std::string> runCapturingOutput(
    const std::vector<std::string>& argv, const std::string& input = "",
    const std::optional<std::vector<std::string>>& environment = std::nullopt);

// Runs `argv` to its end: its exit status; its standard output is appended to `output`.
int runProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// Waits for our child `pid` to end: its exit status, or -1 when it did not exit normally.
int waitForExitStatus(pid_t pid);

// Sends SIGTERM to our child `pid`, waits up to `patience`, then kills it; sets `pid` to -1.
void stopChild(pid_t& pid, std::chrono::milliseconds patience = std::chrono::seconds(5));

// One line (without its newline) read from `fd` within `timeout`; throws std::runtime_error.
std::string readLineFrom(int fd, std::chrono::milliseconds timeout);

// Polls `condition` every 20 ms until it holds or `timeout` passes; returns its last value.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

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
    ~PortHolder();
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

}  // namespace velopad::testing
