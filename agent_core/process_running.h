#pragma once
// Running a helper program to its end: its exit status and everything it wrote. The executors
// that drive command-line tools (the Shortcuts tool) depend on this seam only, so tests can
// stand in for the platform's process API.

#include <cstdint>
#include <string>
#include <vector>

#include "agent_core/async.h"

namespace velopad {

struct ProcessRunResult {
    // The exit status; when a signal ended the process, 128 plus the signal's number (the
    // shell's convention, so a process stopped by SIGTERM reports 143).
    std::int32_t exitCode = 0;
    // Everything the process wrote to standard output and standard error, as UTF-8 text; a
    // stream whose bytes are not valid UTF-8 is the empty text. (Named so because `stdout`
    // and `stderr` are macros of the C library.)
    std::string stdoutText;
    std::string stderrText;
    // The process was still running at the deadline and had to be stopped.
    bool timedOut = false;

    friend bool operator==(const ProcessRunResult&, const ProcessRunResult&) = default;
};

class ProcessRunning {
  public:
    virtual ~ProcessRunning() = default;

    // Starts `executable` (an absolute path) with `arguments`, waits for it to end and collects
    // its output. A process still running after `timeout` seconds is asked to terminate; the
    // run then still waits for its end and reports `timedOut`. Throws std::system_error only
    // when the process cannot be started; once started, every outcome is a result.
    virtual Task<ProcessRunResult> run(std::string executable, std::vector<std::string> arguments,
                                       double timeout) = 0;
};

}  // namespace velopad
