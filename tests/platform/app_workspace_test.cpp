// The Linux workspace against real desktop entries in private XDG data directories, started
// through GIO as the fake_app helper, and found again in /proc. No X display here: activation
// has nothing to activate, so a running application answers "focus_failed".

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "agent_core/app_wire_handler.h"
#include "platform/linux/desktop_entry_lookup.h"
#include "platform/linux/gio_workspace_client.h"
#include "tests/support/app_desktop_sandbox.h"
#include "tests/support/io_thread.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::AppDesktopSandbox;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kId = "6F1D2C3B-4A59-4E8F-9D7C-1B2A3C4D5E6F";

// GIO reads the XDG directories once per process: every entry is in place before the first test.
AppDesktopSandbox* desktop = nullptr;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new testing::AppDesktopEnvironment(desktop, [](AppDesktopSandbox& d) {
        d.writeEntry(d.userApplications(), "org.example.Editor",
                     d.fakeAppEntry("org.example.Editor", "Editor"));
        d.writeEntry(d.userApplications(), "org.example.Hidden",
                     d.fakeAppEntry("org.example.Hidden", "Hidden", "Hidden=true\n"));
        d.writeEntry(d.userApplications(), "org.example.Masked",
                     "[Desktop Entry]\nType=Application\nName=Masked\nExec=true\nHidden=true\n");
        d.writeEntry(d.systemApplications(0), "org.example.Masked",
                     d.fakeAppEntry("org.example.Masked", "Masked"));
        d.writeEntry(d.systemApplications(0), "org.example.Viewer",
                     d.fakeAppEntry("org.example.Viewer", "Viewer"));
        d.writeEntry(d.systemApplications(0), "org.example.Quiet",
                     d.fakeAppEntry("org.example.Quiet", "Quiet", "NoDisplay=true\n"));
        // GIO lists only entries whose program exists; this one cannot start in its directory.
        d.writeEntry(
            d.systemApplications(0), "org.example.Broken",
            d.fakeAppEntry("org.example.Broken", "Broken",
                           "Path=" + (d.sandbox().root() / "missing-dir").string() + "\n"));
        d.writeEntry(d.systemApplications(1) / "kde4", "org.example.Sub",
                     d.fakeAppEntry("kde4-org.example.Sub", "Sub"));
        // Outside every XDG data directory: no identifier may reach it.
        d.writeEntry(d.sandbox().root() / "outside" / "applications", "evil",
                     d.fakeAppEntry("evil", "Evil"));
    }));

class AppWorkspaceTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const pid_t pid : started) testing::stopProcess(pid);
    }

    WorkspaceClient workspace(std::optional<std::string> display = std::nullopt) {
        LinuxWorkspaceOptions options = LinuxWorkspaceOptions::fromEnvironment();
        options.display = std::move(display);
        options.activationTimeout = std::chrono::milliseconds(200);
        return makeLinuxWorkspaceClient(pool, options);
    }

    std::optional<std::string> send(const std::string& type, const std::string& bundleId,
                                    std::optional<std::string> display = std::nullopt) {
        const AppWireHandler wire{AppMessageHandler{AppLauncher{workspace(std::move(display))}}};
        return io.run(wire.handle(R"({"id":")" + std::string(kId) + R"(","payload":{"bundleId":")" +
                                  bundleId + R"("},"type":")" + type + R"("})"));
    }

    // Waits for the application's record and remembers its process for the teardown.
    std::optional<testing::FakeAppRecord> started_(const std::string& id) {
        auto record = testing::waitForRecord(desktop->recordPath(id));
        if (record) started.push_back(record->pid);
        return record;
    }

    static std::string ok(const std::string& bundleId) {
        return R"({"id":")" + std::string(kId) + R"(","payload":{"bundleId":")" + bundleId +
               R"("},"type":"app.ok"})";
    }
    static std::string error(const std::string& bundleId, const std::string& code,
                             const std::string& message) {
        return R"({"id":")" + std::string(kId) + R"(","payload":{"bundleId":")" + bundleId +
               R"(","code":")" + code + R"(","message":")" + message + R"("},"type":"app.error"})";
    }

    test::IoThread io;
    asio::thread_pool& pool = io.pool();
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
    EXPECT_EQ(send("app.launch", "org.example.Editor", ":99"), ok("org.example.Editor"));
    const auto record = started_("org.example.Editor");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->display, ":99");  // started on the workspace's display, not ours

    const auto client = workspace();
    EXPECT_THAT(io.run(client.runningBundleIds({"org.example.Editor", "org.example.Viewer"})),
                (std::set<std::string>{"org.example.Editor"}));
    EXPECT_THAT(io.run(client.listRunningApplicationIds()), Contains("org.example.Editor"));

    // Running, but there is no display to bring it forward on.
    fs::remove(desktop->recordPath("org.example.Editor"));
    EXPECT_EQ(send("app.launch", "org.example.Editor"),
              error("org.example.Editor", "focus_failed", "Failed to activate application"));
    EXPECT_EQ(send("app.focus", "org.example.Editor"),
              error("org.example.Editor", "focus_failed", "Failed to activate application"));
    const auto pids = io.run(client.runningApplication("org.example.Editor"));
    EXPECT_TRUE(pids.has_value());
    EXPECT_FALSE(fs::exists(desktop->recordPath("org.example.Editor")));

    testing::stopProcess(record->pid);
    EXPECT_EQ(send("app.focus", "org.example.Editor"),
              error("org.example.Editor", "not_found", "Application is not running"));
    EXPECT_THAT(io.run(client.listRunningApplicationIds()), Not(Contains("org.example.Editor")));
}

TEST_F(AppWorkspaceTest, EntriesInSubdirectoriesAndHiddenFromMenusStillLaunch) {
    for (const std::string id : {"kde4-org.example.Sub", "org.example.Quiet"}) {
        fs::remove(desktop->recordPath(id));
        EXPECT_EQ(send("app.launch", id), ok(id));
        EXPECT_TRUE(started_(id)) << id;
    }
}

TEST_F(AppWorkspaceTest, FocusNeverStartsAnything) {
    fs::remove(desktop->recordPath("org.example.Viewer"));
    EXPECT_EQ(send("app.focus", "org.example.Viewer"),
              error("org.example.Viewer", "not_found", "Application is not running"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(desktop->recordPath("org.example.Viewer")));
}

TEST_F(AppWorkspaceTest, UnknownHiddenAndPathLikeIdentifiersAreNotFound) {
    for (const std::string id :
         {"org.example.Missing", "org.example.Hidden", "org.example.Masked", "kde4/org.example.Sub",
          "../../outside/applications/evil", "..\\/..\\/outside\\/applications\\/evil"}) {
        const auto reply = send("app.launch", id);
        ASSERT_TRUE(reply);
        EXPECT_THAT(
            *reply,
            HasSubstr(
                R"("code":"not_found","message":"No application found for bundle identifier")"))
            << id;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(desktop->recordPath("evil")));
    EXPECT_FALSE(fs::exists(desktop->recordPath("org.example.Hidden")));
}

TEST_F(AppWorkspaceTest, OpeningAFileOutsideTheListedEntriesStartsNothing) {
    const auto client = workspace();
    EXPECT_FALSE(io.run(client.openApplication(desktop->sandbox().root() / "outside" /
                                               "applications" / "evil.desktop")));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(desktop->recordPath("evil")));
}

TEST_F(AppWorkspaceTest, AProgramThatCannotStartIsLaunchFailedWithTheSystemsReason) {
    const auto reply = send("app.launch", "org.example.Broken");
    ASSERT_TRUE(reply);
    EXPECT_THAT(*reply,
                HasSubstr(R"("code":"launch_failed","message":"Failed to change to directory)"));
    EXPECT_THAT(*reply, HasSubstr(R"(missing-dir)"));
}

}  // namespace
}  // namespace velopad
