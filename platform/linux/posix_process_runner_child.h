#pragma once
// One child started by the process runner: its pid, a pidfd that becomes readable when it ends,
// and the reading ends of its output pipes. Reaps the child exactly once.

#include <sys/types.h>

#include <string>
#include <vector>

namespace velopad {

class SpawnedChild {
  public:
    // Starts `executable` with `arguments` (argv[0] is the executable's path) and standard
    // output and error connected to new pipes. Throws std::system_error when it cannot be
    // started, including when the executable cannot be executed.
    static SpawnedChild spawn(const std::string& executable,
                              const std::vector<std::string>& arguments);

    SpawnedChild(SpawnedChild&& other) noexcept;
    SpawnedChild& operator=(SpawnedChild&&) = delete;
    SpawnedChild(const SpawnedChild&) = delete;
    SpawnedChild& operator=(const SpawnedChild&) = delete;
    // A child that was never reaped (the run was abandoned) is killed and reaped.
    ~SpawnedChild();

    [[nodiscard]] pid_t pid() const noexcept { return pid_; }

    // Hands the descriptors over to their new owner; each may be taken once.
    [[nodiscard]] int takeExitDescriptor() noexcept;
    [[nodiscard]] int takeStdoutDescriptor() noexcept;
    [[nodiscard]] int takeStderrDescriptor() noexcept;

    // Sends `signal` unless the child has been reaped already.
    void signal(int signal) const noexcept;

    // Collects the status of a child that has ended (its pidfd was readable): the exit status,
    // or 128 plus the signal number. -1 if the status was lost (SIGCHLD set to be ignored).
    int reap() noexcept;

  private:
    SpawnedChild(pid_t pid, int exitFd, int stdoutFd, int stderrFd) noexcept;

    pid_t pid_ = -1;
    int exitFd_ = -1;
    int stdoutFd_ = -1;
    int stderrFd_ = -1;
    bool reaped_ = false;
};

}  // namespace velopad
