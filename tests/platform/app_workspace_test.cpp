// The Linux workspace against real desktop entries in private XDG data directories, started
// through GIO as the fake_app helper, and found again in /proc. No X display here: activation
// has nothing to activate, so a running application answers "focus_failed".

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/linux/gio_workspace_client.h"
#include "tests/support/app_desktop_sandbox.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::AppDesktopSandbox;
using testing::appError;
using testing::appOk;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// GIO reads the XDG directories once per process: every entry is in place before the first test.
AppDesktopSandbox* desktop = nullptr;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new testing::AppDesktopEnvironment(desktop, [](AppDesktopSandbox& d) {
        const auto fake = [&d](const fs::path& dir, const std::string& id,
                               const std::string& extra = "") {
            d.writeEntry(dir, id, d.fakeAppEntry(id, id, extra));
        };
        fake(d.userApplications(), "org.example.Editor");
        fake(d.userApplications(), "org.example.Hidden", "Hidden=true\n");
        d.writeEntry(d.userApplications(), "org.example.Masked",
                     "[Desktop Entry]\nType=Application\nName=Masked\nExec=true\nHidden=true\n");
        fake(d.systemApplications(0), "org.example.Masked");
        fake(d.systemApplications(0), "org.example.Viewer");
        fake(d.systemApplications(0), "org.example.Quiet", "NoDisplay=true\n");
        // GIO lists only entries whose program exists; this one cannot start in its directory.
        fake(d.systemApplications(0), "org.example.Broken",
             "Path=" + (d.sandbox().root() / "missing-dir").string() + "\n");
        d.writeEntry(d.systemApplications(1) / "kde4", "org.example.Sub",
                     d.fakeAppEntry("kde4-org.example.Sub", "Sub"));
        // Outside every XDG data directory: no identifier may reach it.
        fake(d.sandbox().root() / "outside" / "applications", "evil");
    }));

// Whether any process runs the entry's program (or is the launcher about to run it). A process
// started for a request exists once the request has been answered, record file or not.
bool programRuns(const std::string& id) {
    const std::string program = desktop->programPath(id).string();
    for (const auto& proc : fs::directory_iterator("/proc")) {
        std::ifstream in(proc.path() / "cmdline");
        const std::string cmdline{std::istreambuf_iterator<char>(in), {}};
        if (cmdline.find(program) != std::string::npos) return true;
    }
    return false;
}

class AppWorkspaceTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const pid_t pid : started) testing::stopProcess(pid);
    }

    WorkspaceClient workspace(std::optional<std::string> display = std::nullopt) {
        LinuxWorkspaceOptions options = LinuxWorkspaceOptions::fromEnvironment();
        options.display = std::move(display);
        options.activationTimeout = std::chrono::milliseconds(200);
        return makeLinuxWorkspaceClient(io.pool(), options);
    }
    std::string send(const std::string& type, const std::string& bundleId,
                     std::optional<std::string> display = std::nullopt) {
        return testing::appReply(io, workspace(std::move(display)), type, bundleId);
    }

    // Waits for the application's record and remembers its process for the teardown.
    std::optional<testing::FakeAppRecord> recordOf(const std::string& id) {
        auto record = testing::waitForRecord(desktop->recordPath(id));
        if (record) started.push_back(record->pid);
        return record;
    }

    test::IoThread io;
    std::vector<pid_t> started;
};

TEST_F(AppWorkspaceTest, IdentifiersResolveToListedEntriesOnly) {
    const auto client = workspace();
    auto url = [&](const std::string& id) { return io.run(client.urlForApplication(id)); };
    EXPECT_EQ(url("org.example.Editor"),
              desktop->userApplications() / "org.example.Editor.desktop");
    EXPECT_EQ(url("org.example.Viewer"),
              desktop->systemApplications(0) / "org.example.Viewer.desktop");
    EXPECT_EQ(url("org.example.Quiet"),
              desktop->systemApplications(0) / "org.example.Quiet.desktop");
    EXPECT_EQ(url("kde4-org.example.Sub"),
              desktop->systemApplications(1) / "kde4" / "org.example.Sub.desktop");
    for (const std::string id :
         {"org.example.Hidden", "org.example.Masked", "org.example.Missing",
          "org.example.Editor.desktop", "org.example.editor", "kde4/org.example.Sub",
          "../../outside/applications/evil", "../applications/org.example.Editor", "..", "",
          "org.example.Editor\n"}) {
        EXPECT_EQ(url(id), std::nullopt) << id;
    }
    const auto installed = io.run(client.installedBundleIds(
        {"org.example.Editor", "org.example.Hidden", "org.example.Viewer", "x/y"}));
    EXPECT_EQ(installed, (std::set<std::string>{"org.example.Editor", "org.example.Viewer"}));
}

TEST_F(AppWorkspaceTest, LaunchStartsTheEntryAndALaterLaunchDoesNotStartItAgain) {
    fs::remove(desktop->recordPath("org.example.Editor"));
    EXPECT_EQ(send("app.launch", "org.example.Editor", ":99"), appOk("org.example.Editor"));
    const auto record = recordOf("org.example.Editor");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->display, ":99");  // started on the workspace's display, not ours

    const auto client = workspace();
    EXPECT_THAT(io.run(client.runningBundleIds({"org.example.Editor", "org.example.Viewer"})),
                (std::set<std::string>{"org.example.Editor"}));
    EXPECT_THAT(io.run(client.listRunningApplicationIds()), Contains("org.example.Editor"));

    // Running, but there is no display to bring it forward on.
    fs::remove(desktop->recordPath("org.example.Editor"));
    const auto focusFailed =
        appError("org.example.Editor", "focus_failed", "Failed to activate application");
    EXPECT_EQ(send("app.launch", "org.example.Editor"), focusFailed);
    EXPECT_EQ(send("app.focus", "org.example.Editor"), focusFailed);
    EXPECT_TRUE(io.run(client.runningApplication("org.example.Editor")).has_value());
    EXPECT_FALSE(fs::exists(desktop->recordPath("org.example.Editor")));

    testing::stopProcess(record->pid);
    EXPECT_EQ(send("app.focus", "org.example.Editor"),
              appError("org.example.Editor", "not_found", "Application is not running"));
    EXPECT_THAT(io.run(client.listRunningApplicationIds()), Not(Contains("org.example.Editor")));

    // Entries in subfolders and entries hidden from menus launch too.
    for (const std::string id : {"kde4-org.example.Sub", "org.example.Quiet"}) {
        EXPECT_EQ(send("app.launch", id), appOk(id));
        EXPECT_TRUE(recordOf(id)) << id;
    }
}

TEST_F(AppWorkspaceTest, FocusUnknownIdentifiersAndFilesOutsideTheEntriesStartNothing) {
    EXPECT_EQ(send("app.focus", "org.example.Viewer"),
              appError("org.example.Viewer", "not_found", "Application is not running"));
    for (const std::string id :
         {"org.example.Missing", "org.example.Hidden", "org.example.Masked", "kde4/org.example.Sub",
          "../../outside/applications/evil", "..\\/..\\/outside\\/applications\\/evil"}) {
        EXPECT_THAT(
            send("app.launch", id),
            HasSubstr(
                R"("code":"not_found","message":"No application found for bundle identifier")"))
            << id;
    }
    EXPECT_FALSE(io.run(workspace().openApplication(desktop->sandbox().root() / "outside" /
                                                    "applications" / "evil.desktop")));
    // Every request has been answered: anything they started would be running by now.
    for (const char* id : {"org.example.Viewer", "org.example.Hidden", "evil"}) {
        EXPECT_FALSE(programRuns(id)) << id;
    }
}

TEST_F(AppWorkspaceTest, AProgramThatCannotStartIsLaunchFailedWithTheSystemsReason) {
    const auto reply = send("app.launch", "org.example.Broken");
    EXPECT_THAT(reply,
                HasSubstr(R"("code":"launch_failed","message":"Failed to change to directory)"));
    EXPECT_THAT(reply, HasSubstr(R"(missing-dir)"));
}

}  // namespace
}  // namespace velopad
