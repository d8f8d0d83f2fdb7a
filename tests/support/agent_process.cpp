#include "tests/support/agent_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace velopad::test {

void isolateFromTheDesktop(testing::Sandbox& sandbox) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "PULSE_SERVER", "QT_QPA_PLATFORM"}) {
        sandbox.setEnv(name, std::nullopt);
    }
    sandbox.setEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (sandbox.root() / "no-bus").string());
}

AgentProcess::AgentProcess(std::vector<std::string> arguments) {
    // The proofs in bench/ may point at another build of the agent.
    const char* chosen = std::getenv("VELOPAD_AGENT");
    arguments.insert(arguments.begin(), chosen && *chosen
                                            ? std::string(chosen)
                                            : std::string(VELOPAD_BINARY_DIR "/app/velopad-agent"));
    pid_ = testing::spawnProcess(arguments,
                                 {input_.ends[0], outputPipe_.ends[1], outputPipe_.ends[1]});
    input_.closeRead();
    outputPipe_.closeWrite();
}

AgentProcess::~AgentProcess() {
    if (!status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool AgentProcess::readMore(std::chrono::milliseconds timeout) {
    pollfd fd{outputPipe_.ends[0], POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char chunk[4096];
    const ssize_t count = read(fd.fd, chunk, sizeof chunk);
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
    if (write(input_.ends[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("cannot write to the agent");
    }
}

std::optional<int> AgentProcess::waitForExit(std::chrono::milliseconds timeout) {
    int status = 0;
    const auto ended = [&] {
        const bool reaped = waitpid(pid_, &status, WNOHANG) == pid_;
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
    kill(pid_, SIGTERM);
    if (auto status = waitForExit(timeout)) return *status;
    kill(pid_, SIGKILL);
    waitForExit(std::chrono::seconds(5));
    return -1;
}

}  // namespace velopad::test
