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

// Starts `argv` (looked up in PATH); `dieWithParent`: SIGTERM when the creating thread ends.
pid_t spawnProcess(const std::vector<std::string>& argv, Stdio stdio = {},
                   const Environment& environment = std::nullopt, bool dieWithParent = false);
std::vector<std::string> environmentWithout(const std::vector<std::string>& dropped);

// Runs `argv` to its end with `input`: its exit status (-1 when killed) and standard output.
std::pair<int, std::string> runCapturingOutput(const std::vector<std::string>& argv,
                                               const std::string& input = "",
                                               const Environment& environment = std::nullopt);
int runProgram(const std::vector<std::string>& argv, std::string* output = nullptr);
// The output of `argv` run with DISPLAY `display` (none: unset); empty on failure.
std::string commandOutput(const std::vector<std::string>& argv,
                          const std::optional<std::string>& display);

void stopChild(pid_t& pid);   // SIGTERM, up to five seconds, then SIGKILL; sets it to -1
void stopProcess(pid_t pid);  // SIGKILL, then waits until it is reaped (ours or adopted) or gone
void adoptOrphans();          // so that what GIO starts can be reaped

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

// Starts a service with dieWithParent and waits until `ready` holds; throws when it ends first.
Child startService(const std::vector<std::string>& argv, const std::function<bool()>& ready,
                   Stdio stdio = {}, const Environment& environment = std::nullopt,
                   std::chrono::milliseconds timeout = 10s);

// fake_app listening on a port, as another program or a copy of the agent would.
class PortHolder {
  public:
    struct Options {
        std::filesystem::path program = "";  // default: the built fake_app
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
    // Kills it (if `kill`) and waits: the signal that ended it, 0 for an exit, -1 when it lives.
    int endingSignal(bool kill = false);

  private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    int status_ = 0;
    bool reaped_ = false;
};

std::filesystem::path fakeAppPath();
std::string fakeAppTitle(const std::string& id);  // of the window of an entry `id`
// What a started fake_app wrote to its record file, waited for up to `timeout`.
struct FakeAppRecord {
    pid_t pid = 0;
    std::string display;  // empty when it had none
};
std::optional<FakeAppRecord> waitForRecord(const std::filesystem::path& path,
                                           std::chrono::milliseconds timeout = 10s);
pid_t spawnFakeApp(const std::vector<std::string>& arguments,
                   const std::optional<std::string>& display);

}  // namespace velopad::testing

namespace velopad::test {

// The built velopad-agent (or $VELOPAD_AGENT) taking commands on its standard input; its
// standard output and error are read line by line.
class AgentProcess {
  public:
    explicit AgentProcess(std::vector<std::string> arguments = {"--headless"});
    ~AgentProcess();  // kills the agent if it still runs

    pid_t pid() const { return pid_; }
    // The rest of the next line starting with `prefix` (earlier lines are skipped), or none.
    std::optional<std::string> waitForLine(
        const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void command(const std::string& line);
    // SIGTERM, then waits: the exit status, or -1 when it had to be killed.
    int terminate(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits for it to end by itself: its status (128 + a signal that ended it), or none.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    const std::string& output() const { return output_; }  // everything it wrote so far

  private:
    bool readMore(std::chrono::milliseconds timeout);

    testing::Pipe input_;
    testing::Pipe outputPipe_;
    pid_t pid_ = -1;
    std::string buffer_;
    std::string output_;
    std::optional<int> status_;
};

}  // namespace velopad::test
