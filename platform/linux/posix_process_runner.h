#pragma once
// The process runner on POSIX: posix_spawn, pipes for standard output and error, a pidfd that
// tells when the child ends, all watched by Asio without blocking any thread.

#include <chrono>
#include <cstddef>

#include "agent_core/async.h"
#include "agent_core/process_output.h"
#include "agent_core/process_running.h"

namespace velopad {

struct PosixProcessRunnerOptions {
    // How long a child may take to honour the termination request at the time-out before it
    // is killed outright.
    std::chrono::milliseconds killGrace{2000};
    // Bytes kept per output stream; the child's further output is read and dropped.
    std::size_t outputLimit = ProcessOutputBuffer::defaultLimit;
};

class PosixProcessRunner final : public ProcessRunning {
  public:
    // `executor` must be able to watch file descriptors (an io_context's, or a strand on one).
    explicit PosixProcessRunner(Executor executor, PosixProcessRunnerOptions options = {});

    // The child inherits the agent's environment and working directory; it reads standard
    // input from /dev/null, runs in a session of its own, its other descriptors are closed and
    // its signal mask and dispositions are reset. At the
    // time-out it gets SIGTERM, and SIGKILL after the grace period, so every run ends. Once it
    // has ended, output that is already in the pipes is collected; output of grandchildren that
    // keep the pipes open is not waited for.
    Task<ProcessRunResult> run(std::string executable, std::vector<std::string> arguments,
                               double timeout) override;

  private:
    Executor executor_;
    PosixProcessRunnerOptions options_;
};

}  // namespace velopad
