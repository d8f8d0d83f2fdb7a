#pragma once
// The real velopad-agent as a child process of a test: its standard input takes commands, its
// standard output and error are read line by line.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad::test {

// Keeps an agent started in `sandbox` off this session's desktop: no display, session bus,
// sound server or Qt platform is inherited, and the system bus (Avahi) points nowhere.
void isolateFromTheDesktop(testing::Sandbox& sandbox);

class AgentProcess {
  public:
    explicit AgentProcess(std::vector<std::string> arguments = {"--headless"});
    ~AgentProcess();  // kills the agent if it still runs

    pid_t pid() const { return pid_; }
    // The rest of the next output line starting with `prefix` (earlier lines are skipped and
    // kept in `output()`), or none when no such line came in time.
    std::optional<std::string> waitForLine(
        const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void command(const std::string& line);
    // SIGTERM, then waits: the exit status, or -1 when it had to be killed.
    int terminate(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits for it to end by itself: its status (128 + a signal that ended it), or none.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    const std::string& output() const { return output_; }

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
