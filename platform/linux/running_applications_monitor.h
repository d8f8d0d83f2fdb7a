#pragma once
// Which applications run, kept up to date in the background so that a question costs a lookup
// rather than a walk over /proc.
//
// While someone asked within the last few seconds, a thread keeps the view current: it reads
// /proc at most once a period (only what changed since the last pass, and only while
// processes are being started), and sooner when the
// user's systemd application scopes appear or vanish (inotify on the cgroup tree) or when a
// process of an application it reported exits (pidfds). When nobody asks, the thread sleeps in
// poll() and costs nothing; the first question after that reads /proc once, on the caller's
// worker thread.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/desktop_entry_lookup.h"

namespace velopad {

struct RunningApplicationsOptions {
    std::filesystem::path procRoot = "/proc";
    uid_t uid = 0;  // whose processes count
    // The tree watched for application scopes; by default the user's systemd manager's
    // ("/sys/fs/cgroup/user.slice/user-<uid>.slice/user@<uid>.service"). Missing is fine.
    std::optional<std::filesystem::path> cgroupTree;
    // Longest time between two passes while processes are being started; while none is (the
    // last process ID handed out stays the same), a pass every `quietPeriod` is enough: exits
    // of the applications' processes and new application scopes are seen at once anyway.
    std::chrono::milliseconds period{1000};
    std::chrono::milliseconds quietPeriod{10000};
    // How long after a question the view is kept: longer than a phone's ping interval.
    std::chrono::milliseconds activeFor{12000};
};

struct ApplicationState {
    std::shared_ptr<const DesktopEntry> entry;  // none when no listed entry has the ID
    std::vector<pid_t> pids;                    // its running processes; empty when it does not run
};

class RunningApplicationsMonitor {
  public:
    explicit RunningApplicationsMonitor(RunningApplicationsOptions options);
    ~RunningApplicationsMonitor();
    RunningApplicationsMonitor(const RunningApplicationsMonitor&) = delete;
    RunningApplicationsMonitor& operator=(const RunningApplicationsMonitor&) = delete;

    // What the view says about `id`, without blocking; nothing when the view is not current
    // (nobody asked lately, the ID is new to it, or something was started since the last pass).
    // Either way the question keeps the view alive.
    std::optional<ApplicationState> current(const std::string& id);

    // Brings the view up to date as far as `id` needs it and answers; blocks on /proc and the
    // desktop entry, so call it on a worker thread.
    ApplicationState refresh(const std::string& id);

    // The IDs of `entries` that run now, each once, in the order of the processes found; reads
    // /proc now (blocks).
    std::vector<std::string> runningAmong(const std::vector<DesktopEntry>& entries);

    // A number that changes whenever what `current` would answer for an ID it already watches
    // changes; nothing when the view is not current. Keeps the view and all its IDs alive, so an
    // answer remembered under the number stays right for as long as the number stays.
    std::optional<std::uint64_t> currentVersion();

    // Something may have been started: the next question reads /proc again.
    void invalidate();

  private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace velopad
