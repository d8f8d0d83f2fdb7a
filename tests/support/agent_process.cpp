#include "tests/support/agent_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "tests/support/child_process.h"

namespace velopad::test {

std::string agentExecutablePath() {
    // The proofs in bench/ may point at another build of the agent.
    if (const char* chosen = std::getenv("VELOPAD_AGENT"); chosen && *chosen) return chosen;
    return std::string(VELOPAD_BINARY_DIR) + "/app/velopad-agent";
}

void isolateFromTheDesktop(testing::Sandbox& sandbox) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "PULSE_SERVER", "QT_QPA_PLATFORM"}) {
        sandbox.setEnv(name, std::nullopt);
    }
    sandbox.setEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (sandbox.root() / "no-bus").string());
}

AgentProcess::AgentProcess(std::vector<std::string> arguments) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    arguments.insert(arguments.begin(), agentExecutablePath());
    input_ = in[1];
    outputFd_ = out[0];
    try {
        pid_ = testing::spawnProcess(arguments, {in[0], out[1], out[1]});
    } catch (...) {
        close(in[0]);
        close(out[1]);
        throw;
    }
    close(in[0]);
    close(out[1]);
}

AgentProcess::~AgentProcess() {
    if (!status_) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    close(input_);
    close(outputFd_);
}

bool AgentProcess::readMore(std::chrono::milliseconds timeout) {
    pollfd fd{outputFd_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char chunk[4096];
    const ssize_t count = read(outputFd_, chunk, sizeof chunk);
    if (count <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(count));
    output_.append(chunk, static_cast<std::size_t>(count));
    return true;
}

std::optional<std::string> AgentProcess::waitForLine(const std::string& prefix,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::size_t end;
        while ((end = buffer_.find('\n')) != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readMore(left)) return std::nullopt;
    }
}

void AgentProcess::command(const std::string& line) {
    const std::string text = line + "\n";
    if (write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("cannot write to the agent");
    }
}

std::optional<int> AgentProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            while (readMore(std::chrono::milliseconds(0))) {
            }
            return status_;
        }
        readMore(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

int AgentProcess::terminate(std::chrono::milliseconds timeout) {
    if (status_) return *status_;
    kill(pid_, SIGTERM);
    if (auto status = waitForExit(timeout)) return *status;
    kill(pid_, SIGKILL);
    waitForExit(std::chrono::seconds(5));
    return -1;
}

}  // namespace velopad::test
