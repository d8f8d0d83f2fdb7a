// Finding running applications in /proc: unit names, a hand-made /proc tree, and real processes
// (found by their program, and by a real control group named like a desktop's app scope).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "platform/linux/process_scan.h"
#include "tests/support/app_desktop_sandbox.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::Sandbox;

struct UnitCase {
    const char* unit;
    const char* id;
    bool names;
};

TEST(AppUnitNames, DesktopScopesAndServices) {
    const UnitCase cases[] = {
        {"app-gnome-org.gnome.Nautilus-1234.scope", "org.gnome.Nautilus", true},
        {"app-org.kde.dolphin@a1b2c3.service", "org.kde.dolphin", true},
        {"app-org.kde.dolphin.service", "org.kde.dolphin", true},
        {"app-gnome-google\\x2dchrome-99.scope", "google-chrome", true},
        {"app-gnome-google-chrome-99.scope", "google-chrome", true},
        {"app-flatpak-org.mozilla.firefox-4242.scope", "org.mozilla.firefox", true},
        {"app-firefox-7.scope", "firefox", true},
        {"app-gnome-org.gnome.Nautilus-1234.scope", "Nautilus", false},
        {"app-gnome-org.gnome.Nautilus-1234.scope", "gnome.Nautilus", false},
        {"app-gnome-org.gnome.Nautilus-1234.scope", "org.gnome.nautilus", false},
        {"app-gnome-firefox-1234.scope", "gnome", false},
        {"app-firefox.scope", "firefox", false},
        {"app-firefox-1.slice", "firefox", false},
        {"session-2.scope", "firefox", false},
        {"app.slice", "app", false},
        {"app-gnome-firefox-1234.scope", "", false},
        {"snap.firefox.firefox-6f1e2a.scope", "firefox_firefox", true},
        {"snap.code.code.service", "code_code", true},
        {"snap.firefox.firefox-6f1e2a.scope", "firefox_geckodriver", false},
        {"snap.firefox.firefox.scope", "firefox_firefox", false},
        {"snap.firefox.firefox-6f1e2a.scope", "firefox", false},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(unitNamesApplication(test.unit, test.id), test.names)
            << test.unit << " / " << test.id;
    }
}

TEST(AppUnitNames, GenericLaunchersAreNotRecognisedByProgram) {
    EXPECT_TRUE(isGenericLauncher("/usr/bin/env"));
    EXPECT_TRUE(isGenericLauncher("/usr/bin/flatpak"));
    EXPECT_TRUE(isGenericLauncher("/usr/bin/python3.11"));
    EXPECT_FALSE(isGenericLauncher("/usr/lib/firefox/firefox"));
}

// A hand-made /proc: each process is a directory with the files the scan reads.
class FakeProcTest : public ::testing::Test {
  protected:
    fs::path proc() const { return sandbox.root() / "proc"; }

    void addProcess(int pid, const std::string& cgroupPath, const std::string& state = "S",
                    std::optional<fs::path> exe = std::nullopt, const std::string& cmdline = "") {
        const fs::path dir = proc() / std::to_string(pid);
        testing::writeTextFile(dir / "cgroup", "12:pids:/\n0::" + cgroupPath + "\n");
        testing::writeTextFile(dir / "stat",
                               std::to_string(pid) + " (odd) name) " + state + " 1 1 1 0 -1\n");
        testing::writeTextFile(dir / "cmdline", cmdline);
        if (exe) fs::create_symlink(*exe, dir / "exe");
    }

    fs::path realFile(const std::string& name) {
        const fs::path path = sandbox.root() / "programs" / name;
        testing::writeTextFile(path, "#!/bin/sh\n");
        return fs::canonical(path);
    }

    std::vector<pid_t> matching(const std::string& id, std::optional<fs::path> executable = {}) {
        return applicationProcesses(scanProcesses(proc(), ::geteuid()), {id, executable});
    }

    Sandbox sandbox;
};

TEST_F(FakeProcTest, ScanListsLiveProcessesOfTheUserInPidOrder) {
    addProcess(100, "/user.slice/app.slice/app-gnome-org.example.Viewer-100.scope");
    addProcess(7, "/user.slice/app.slice/app-gnome-org.example.Viewer-7.scope", "Z");
    addProcess(30, "/user.slice/session-2.scope");
    testing::writeTextFile(proc() / "self" / "cgroup", "0::/\n");
    testing::writeTextFile(proc() / "uptime", "1 1\n");

    const auto processes = scanProcesses(proc(), ::geteuid());
    ASSERT_EQ(processes.size(), 2u);
    EXPECT_EQ(processes[0].pid, 30);
    EXPECT_EQ(processes[1].pid, 100);
    EXPECT_THAT(processes[1].cgroupUnits, ElementsAre("app-gnome-org.example.Viewer-100.scope"));
    EXPECT_THAT(scanProcesses(proc(), ::geteuid() + 1), IsEmpty());
    EXPECT_THAT(scanProcesses(sandbox.root() / "missing", ::geteuid()), IsEmpty());
}

TEST_F(FakeProcTest, ApplicationsAreRecognisedByScopeFlatpakAndProgram) {
    const fs::path program = realFile("viewer");
    const fs::path script = realFile("tool.py");
    addProcess(10, "/app.slice/app-gnome-org.example.Viewer-10.scope");
    addProcess(11, "/app.slice/app-gnome-org.example.Viewer-10.scope");
    addProcess(20, "/app.slice/app-flatpak-x-20.scope");
    testing::writeTextFile(proc() / "20" / "root" / ".flatpak-info",
                           "[Instance]\nname=wrong\n\n[Application]\nname=org.example.Flat\n");
    addProcess(30, "/session.scope", "S", program, program.string() + std::string(1, '\0'));
    addProcess(40, "/session.scope", "R", "/usr/bin/python3",
               "python3" + std::string(1, '\0') + script.string() + std::string(1, '\0'));
    addProcess(50, "/session.scope", "S", "/bin/sh", "/bin/sh" + std::string(1, '\0'));

    EXPECT_THAT(matching("org.example.Viewer"), ElementsAre(10, 11));
    EXPECT_THAT(matching("org.example.Flat"), ElementsAre(20));
    EXPECT_THAT(matching("wrong"), IsEmpty());
    EXPECT_THAT(matching("org.example.Program", program), ElementsAre(30));
    EXPECT_THAT(matching("org.example.Tool", script), ElementsAre(40));
    EXPECT_THAT(matching("org.example.Shell", fs::path("/bin/sh")), IsEmpty());
}

TEST(AppProcessScanLive, FindsARealProcessByItsProgramUntilItEnds) {
    const fs::path program = fs::canonical(testing::fakeAppPath());
    const pid_t pid = testing::spawnFakeApp({}, std::nullopt);
    const ApplicationProcessQuery query{"org.example.NotInAnyScope", program};
    EXPECT_THAT(applicationProcesses(scanProcesses("/proc", ::geteuid()), query), Contains(pid));
    testing::stopProcess(pid);
    EXPECT_THAT(applicationProcesses(scanProcesses("/proc", ::geteuid()), query),
                Not(Contains(pid)));
}

// The writable cgroup v2 hierarchy, when this test may create groups in it (root in a
// container or a delegated hierarchy).
std::optional<fs::path> writableCgroupRoot() {
    for (const fs::path root : {"/sys/fs/cgroup/unified", "/sys/fs/cgroup"}) {
        if (fs::exists(root / "cgroup.procs") && ::access(root.c_str(), W_OK) == 0) return root;
    }
    return std::nullopt;
}

TEST(AppProcessScanLive, FindsARealProcessInADesktopAppScope) {
    const auto root = writableCgroupRoot();
    if (!root) GTEST_SKIP() << "no writable cgroup v2 hierarchy";
    const fs::path scope =
        *root / ("app-gnome-org.example.Scoped-" + std::to_string(::getpid()) + ".scope");
    std::error_code error;
    if (!fs::create_directory(scope, error)) GTEST_SKIP() << "cannot create " << scope;

    const pid_t pid = testing::spawnFakeApp({}, std::nullopt);
    std::ofstream(scope / "cgroup.procs") << pid << std::flush;
    const auto pids = applicationProcesses(scanProcesses("/proc", ::geteuid()),
                                           {"org.example.Scoped", std::nullopt});
    testing::stopProcess(pid);
    for (int attempt = 0; attempt < 100 && !fs::remove(scope, error); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_THAT(pids, ElementsAre(pid));
}

}  // namespace
}  // namespace velopad
