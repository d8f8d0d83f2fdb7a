// The background view of running applications, on real processes and scopes.

#include "platform/linux/running_applications_monitor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/app_desktop_sandbox.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

testing::AppDesktopSandbox* desktop = nullptr;
const auto* const environment = ::testing::AddGlobalTestEnvironment(
    new testing::AppDesktopEnvironment(desktop, [](testing::AppDesktopSandbox& sandbox) {
        sandbox.writeEntry(
            sandbox.userApplications(), "org.example.Plain",
            testing::desktopEntry("Plain", testing::fakeAppPath().string() + " --plain"));
    }));

// Asks the way a connected phone does (the view answers when current, else it is refreshed)
// until `pids` satisfies `done`; whether it did within the promised second (plus a second of
// slack for loaded and sanitizer builds).
template <typename Done>
bool answersWithinASecond(RunningApplicationsMonitor& monitor, const std::string& id, Done done) {
    return testing::waitUntil(
        [&] {
            auto state = monitor.current(id);
            if (!state) state = monitor.refresh(id);
            return done(state->pids);
        },
        2000ms);
}

TEST(RunningApplicationsMonitor, AProcessOfAnEntrysProgramShowsAndGoesWithinASecond) {
    RunningApplicationsMonitor monitor({.uid = ::geteuid(), .period = 1000ms});
    ASSERT_NE(monitor.refresh("org.example.Plain").entry, nullptr);
    const pid_t app = testing::spawnProcess({testing::fakeAppPath().string()});
    const bool seen = answersWithinASecond(monitor, "org.example.Plain", [&](const auto& pids) {
        return pids.size() == 1 && pids[0] == app;
    });
    testing::stopProcess(app);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(answersWithinASecond(monitor, "org.example.Plain",
                                     [&](const auto& pids) { return pids.empty(); }));
}

// The writable cgroup v2 hierarchy, when this test may create groups in it (root in a
// container or a delegated hierarchy).
std::optional<fs::path> writableCgroupRoot() {
    for (const fs::path root : {"/sys/fs/cgroup/unified", "/sys/fs/cgroup"}) {
        if (fs::exists(root / "cgroup.procs") && ::access(root.c_str(), W_OK) == 0) return root;
    }
    return std::nullopt;
}

// With passes ten seconds apart, only the scope's own events and the process's pidfd can make
// the view follow within a second.
TEST(RunningApplicationsMonitor, ScopesAreNoticedAsTheyFillAndExitsAsTheyHappen) {
    const auto root = writableCgroupRoot();
    if (!root) GTEST_SKIP() << "no writable cgroup v2 hierarchy";
    const fs::path tree = *root / ("velopad-monitor-test-" + std::to_string(::getpid()));
    const fs::path scope = tree / "app.slice" / "app-gnome-org.example.Scoped-77.scope";
    std::error_code error;
    if (!fs::create_directories(scope, error)) GTEST_SKIP() << "cannot create " << scope;

    RunningApplicationsMonitor monitor({.uid = ::geteuid(), .cgroupTree = tree, .period = 10s});
    EXPECT_TRUE(monitor.refresh("org.example.Scoped").pids.empty());

    const pid_t pid = testing::spawnProcess({testing::fakeAppPath().string()});
    std::ofstream(scope / "cgroup.procs") << pid << std::flush;
    const bool seen = answersWithinASecond(monitor, "org.example.Scoped", [&](const auto& pids) {
        return pids.size() == 1 && pids[0] == pid;
    });
    ::kill(pid, SIGKILL);
    const bool gone = answersWithinASecond(monitor, "org.example.Scoped",
                                           [](const auto& pids) { return pids.empty(); });
    testing::stopProcess(pid);
    for (const fs::path& group : {scope, tree / "app.slice", tree}) {
        testing::waitUntil([&] { return !fs::exists(group) || fs::remove(group, error); }, 2s);
    }
    EXPECT_TRUE(seen);
    EXPECT_TRUE(gone);
}

}  // namespace
}  // namespace velopad
