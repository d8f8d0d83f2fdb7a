// Finding running applications in unit names and a hand-made /proc tree.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/linux/process_scan.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(AppUnitNames, DesktopScopesAndServices) {
    const struct {
        const char* unit;
        const char* id;
        bool names;
    } cases[] = {
        {"app-gnome-org.gnome.Nautilus-1234.scope", "org.gnome.Nautilus", true},
        {"app-org.kde.dolphin@a1b2c3.service", "org.kde.dolphin", true},
        {"app-gnome-google\\x2dchrome-99.scope", "google-chrome", true},
        {"app-gnome-google-chrome-99.scope", "google-chrome", true},
        {"app-flatpak-org.mozilla.firefox-4242.scope", "org.mozilla.firefox", true},
        {"app-firefox-7.scope", "firefox", true},
        {"app-gnome-firefox-1234.scope", "gnome", false},
        {"app-firefox.scope", "firefox", false},
        {"app-firefox-1.slice", "firefox", false},
        {"snap.firefox.firefox-6f1e2a.scope", "firefox_firefox", true},
        {"snap.firefox.firefox.scope", "firefox_firefox", false},
        {"app-velopad-a\\x5cx2d-12.scope", "a\\x2d", true},
        {"app-velopad-a\\x5cx2d-12.scope", "a-", false},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(unitNamesApplication(test.unit, test.id), test.names)
            << test.unit << " / " << test.id;
    }
}

TEST(AppUnitNames, ScopesOfLaunchedApplicationsAreNamedLikeTheDesktopsOwn) {
    const struct {
        std::string id;
        std::optional<std::string> scope;
    } cases[] = {
        {"org.example.Viewer", "app-velopad-org.example.Viewer-42.scope"},
        {"google-chrome", "app-velopad-google\\x2dchrome-42.scope"},
        {".hidden app\\", "app-velopad-\\x2ehidden\\x20app\\x5c-42.scope"},
        {"", std::nullopt},
        {std::string(234, 'a'), "app-velopad-" + std::string(234, 'a') + "-42.scope"},  // 255
        {std::string(235, 'a'), std::nullopt},
    };
    for (const auto& test : cases) {
        const auto scope = applicationScopeName("velopad", test.id, 42);
        EXPECT_EQ(scope, test.scope) << test.id;
        EXPECT_TRUE(!scope || unitNamesApplication(*scope, test.id)) << test.id;
    }
}

// A hand-made /proc: each process is a directory with the files the scan reads.
class FakeProcTest : public testing::SandboxTest {
  protected:
    fs::path proc() const { return sandbox.root() / "proc"; }

    void addProcess(int pid, const std::string& cgroupPath, const std::string& state = "S",
                    std::optional<fs::path> exe = std::nullopt,
                    const std::vector<std::string>& argv = {}) {
        const fs::path dir = proc() / std::to_string(pid);
        testing::writeTextFile(dir / "cgroup", "12:pids:/\n0::" + cgroupPath + "\n");
        testing::writeTextFile(dir / "stat",
                               std::to_string(pid) + " (odd) name) " + state + " 1 1 1 0 -1\n");
        std::string cmdline;
        for (const auto& argument : argv) cmdline += argument + '\0';
        testing::writeTextFile(dir / "cmdline", cmdline);
        if (exe) fs::create_symlink(*exe, dir / "exe");
    }
    fs::path program(const std::string& name) {
        testing::writeTextFile(sandbox.root() / "programs" / name, "#!/bin/sh\n");
        return fs::canonical(sandbox.root() / "programs" / name);
    }
    std::vector<pid_t> matching(const std::string& id, std::optional<fs::path> executable = {}) {
        return applicationProcesses(scanProcesses(proc(), ::geteuid()), {id, executable});
    }
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
    const fs::path viewer = program("viewer");
    const fs::path script = program("tool.py");
    addProcess(10, "/app.slice/app-gnome-org.example.Viewer-10.scope");
    addProcess(11, "/app.slice/app-gnome-org.example.Viewer-10.scope");
    addProcess(20, "/app.slice/app-flatpak-x-20.scope");
    testing::writeTextFile(proc() / "20" / "root" / ".flatpak-info",
                           "[Instance]\nname=wrong\n\n[Application]\nname=org.example.Flat\n");
    addProcess(30, "/session.scope", "S", viewer, {viewer});
    addProcess(40, "/session.scope", "R", "/usr/bin/python3", {"python3", script});
    addProcess(50, "/session.scope", "S", "/bin/sh", {"/bin/sh"});

    EXPECT_THAT(matching("org.example.Viewer"), ElementsAre(10, 11));
    EXPECT_THAT(matching("org.example.Flat"), ElementsAre(20));
    EXPECT_THAT(matching("wrong"), IsEmpty());
    EXPECT_THAT(matching("org.example.Program", viewer), ElementsAre(30));
    EXPECT_THAT(matching("org.example.Tool", script), ElementsAre(40));
    EXPECT_THAT(matching("org.example.Shell", fs::path("/bin/sh")), IsEmpty());
}

// A browser and two web applications of it: one program, told apart by the arguments each
// entry starts it with, or by the scope it was started in.
TEST_F(FakeProcTest, ApplicationsSharingAProgramAreToldApart) {
    const fs::path browser = program("browser");
    addProcess(60, "/session.scope", "S", browser, {browser, "https://example.org"});
    addProcess(61, "/session.scope", "S", browser,
               {browser, "--no-sandbox", "--profile-directory=Default", "--app-id=a"});
    addProcess(62, "/app.slice/app-velopad-org.example.WebB-62.scope", "S", browser, {browser});
    addProcess(63, "/session.scope", "S", browser, {browser, "--app-id=a"});

    const std::vector<ApplicationProcessQuery> queries = {
        {"org.example.Browser", browser, {}},
        {"org.example.WebA", browser, {"--profile-directory=Default", "--app-id=a"}},
        {"org.example.WebB", browser, {"--profile-directory=Default", "--app-id=b"}},
    };
    const auto pids = applicationProcesses(scanProcesses(proc(), ::geteuid()), queries);
    EXPECT_THAT(pids, ElementsAre(ElementsAre(60, 63), ElementsAre(61), ElementsAre(62)));
    EXPECT_THAT(matching("org.example.WebA", browser), ElementsAre(60, 61, 62, 63));
}

}  // namespace
}  // namespace velopad
