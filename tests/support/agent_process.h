#pragma once
// The real velopad-agent as a child process of a test: its standard input takes commands, its
// standard output is read line by line.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/sandbox_fixture.h"

namespace velopad::test {

// Keeps an agent started in `sandbox` off this session's desktop: no display, session bus,
// sound server or Qt platform choice is inherited, and the system bus (Avahi) points nowhere.
void isolateFromTheDesktop(testing::Sandbox& sandbox);

std::string agentExecutablePath();  // build/.../app/velopad-agent, or $VELOPAD_AGENT when set

class AgentProcess {
  public:
    explicit AgentProcess(std::vector<std::string> arguments = {"--headless"});
    ~AgentProcess();  // kills the agent if it still runs
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    pid_t pid() const { return pid_; }

    // The rest of the next output line starting with `prefix` (earlier lines are skipped and
    // kept in `output()`), or none when no such line came in time.
    std::optional<std::string> waitForLine(
        const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void command(const std::string& line);
    // Sends SIGTERM and waits; the exit status, or -1 when it had to be killed.
    int terminate(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits for the process to end by itself (e.g. replaced by another copy): its status, or none.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    const std::string& output() const { return output_; }

  private:
    bool readMore(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int input_ = -1;
    int outputFd_ = -1;
    std::string buffer_;
    std::string output_;
    std::optional<int> status_;
};

}  // namespace velopad::test
