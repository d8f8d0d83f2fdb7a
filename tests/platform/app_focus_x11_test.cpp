// Bringing applications forward on a real X server: Xvfb with openbox (EWMH), and bare Xvfb
// with no window manager. The applications are desktop entries started through GIO.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "agent_core/app_wire_handler.h"
#include "platform/linux/gio_workspace_client.h"
#include "tests/support/app_desktop_sandbox.h"
#include "tests/support/io_thread.h"
#include "tests/support/xvfb_server.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::AppDesktopSandbox;
using testing::XvfbServer;

constexpr const char* kId = "0B9C8D7E-6F5A-4B3C-8D2E-1F0A9B8C7D6E";

AppDesktopSandbox* desktop = nullptr;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new testing::AppDesktopEnvironment(desktop, [](AppDesktopSandbox& d) {
        const auto apps = d.userApplications();
        d.writeEntry(apps, "org.example.Editor", d.fakeAppEntry("org.example.Editor", "Editor"));
        d.writeEntry(apps, "org.example.Viewer", d.fakeAppEntry("org.example.Viewer", "Viewer"));
        // Its window shows a process ID from another namespace, as sandboxed applications do;
        // only its class ties it to the entry.
        d.writeEntry(apps, "org.example.Boxed",
                     d.fakeAppEntry("org.example.Boxed", "Boxed", "StartupWMClass=BoxedWindow\n",
                                    "--class BoxedWindow --wm-pid 1"));
        d.writeEntry(apps, "org.example.Headless",
                     d.fakeAppEntry("org.example.Headless", "Headless", "", "--window no"));
    }));

class X11FocusTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const pid_t pid : started_) testing::stopProcess(pid);
    }

    void startServer(XvfbServer::WindowManager windowManager) {
        if (!XvfbServer::available(windowManager)) GTEST_SKIP() << "Xvfb or openbox missing";
        server_ = std::make_unique<XvfbServer>(windowManager);
    }

    std::string send(const std::string& type, const std::string& bundleId,
                     std::optional<std::string> display) {
        LinuxWorkspaceOptions options = LinuxWorkspaceOptions::fromEnvironment();
        options.display = std::move(display);
        options.activationTimeout = std::chrono::milliseconds(1000);
        const AppWireHandler wire{
            AppMessageHandler{AppLauncher{makeLinuxWorkspaceClient(pool_, options)}}};
        return io_
            .run(wire.handle(R"({"id":")" + std::string(kId) + R"(","payload":{"bundleId":")" +
                             bundleId + R"("},"type":")" + type + R"("})"))
            .value_or("");
    }
    std::string send(const std::string& type, const std::string& bundleId) {
        return send(type, bundleId, server_->display());
    }

    // Launches the entry, waits for its window and returns the window.
    unsigned long launchWithWindow(const std::string& id) {
        fs::remove(desktop->recordPath(id));
        EXPECT_EQ(send("app.launch", id), ok(id));
        const auto record = testing::waitForRecord(desktop->recordPath(id));
        if (!record) return 0;
        started_.push_back(record->pid);
        const auto window = server_->windowTitled(testing::fakeAppTitle(id));
        return window.value_or(0);
    }

    std::string activeWindowSeenByXdotool() const {
        const auto output =
            testing::commandOutput({"xdotool", "getactivewindow"}, server_->display());
        return output.substr(0, output.find('\n'));
    }

    static std::string ok(const std::string& bundleId) {
        return R"({"id":")" + std::string(kId) + R"(","payload":{"bundleId":")" + bundleId +
               R"("},"type":"app.ok"})";
    }
    static std::string focusFailed(const std::string& bundleId) {
        return R"({"id":")" + std::string(kId) + R"(","payload":{"bundleId":")" + bundleId +
               R"(","code":"focus_failed","message":"Failed to activate application"},"type":"app.error"})";
    }

    test::IoThread io_;
    asio::thread_pool& pool_ = io_.pool();
    std::unique_ptr<XvfbServer> server_;
    std::vector<pid_t> started_;
};

TEST_F(X11FocusTest, RunningApplicationsComeForwardUnderAnEwmhWindowManager) {
    startServer(XvfbServer::WindowManager::openbox);
    const auto editor = launchWithWindow("org.example.Editor");
    const auto viewer = launchWithWindow("org.example.Viewer");
    ASSERT_NE(editor, 0u);
    ASSERT_NE(viewer, 0u);

    EXPECT_EQ(send("app.focus", "org.example.Editor"), ok("org.example.Editor"));
    EXPECT_EQ(server_->activeWindow(), editor);
    EXPECT_EQ(activeWindowSeenByXdotool(), std::to_string(editor));

    // A launch of a running application brings it forward and starts nothing new.
    fs::remove(desktop->recordPath("org.example.Viewer"));
    EXPECT_EQ(send("app.launch", "org.example.Viewer"), ok("org.example.Viewer"));
    EXPECT_EQ(server_->activeWindow(), viewer);
    EXPECT_EQ(activeWindowSeenByXdotool(), std::to_string(viewer));
    EXPECT_FALSE(fs::exists(desktop->recordPath("org.example.Viewer")));
}

TEST_F(X11FocusTest, AWindowIsFoundByItsClassWhenItsProcessIdIsForeign) {
    startServer(XvfbServer::WindowManager::openbox);
    const auto boxed = launchWithWindow("org.example.Boxed");
    const auto editor = launchWithWindow("org.example.Editor");
    ASSERT_NE(boxed, 0u);
    ASSERT_NE(editor, 0u);
    ASSERT_EQ(server_->activeWindow(), editor);

    EXPECT_EQ(send("app.focus", "org.example.Boxed"), ok("org.example.Boxed"));
    EXPECT_EQ(server_->activeWindow(), boxed);
}

TEST_F(X11FocusTest, WithoutAWindowToActivateTheAnswerIsFocusFailed) {
    startServer(XvfbServer::WindowManager::openbox);
    fs::remove(desktop->recordPath("org.example.Headless"));
    EXPECT_EQ(send("app.launch", "org.example.Headless"), ok("org.example.Headless"));
    const auto record = testing::waitForRecord(desktop->recordPath("org.example.Headless"));
    ASSERT_TRUE(record);
    started_.push_back(record->pid);

    EXPECT_EQ(send("app.focus", "org.example.Headless"), focusFailed("org.example.Headless"));
    EXPECT_EQ(send("app.launch", "org.example.Headless"), focusFailed("org.example.Headless"));

    const auto editor = launchWithWindow("org.example.Editor");
    ASSERT_NE(editor, 0u);
    // The window is there, but the agent has no display (pure Wayland) or a dead one.
    EXPECT_EQ(send("app.focus", "org.example.Editor", std::nullopt),
              focusFailed("org.example.Editor"));
    EXPECT_EQ(send("app.focus", "org.example.Editor", ":65000"), focusFailed("org.example.Editor"));
}

TEST_F(X11FocusTest, WithoutAWindowManagerTheWindowGetsTheInputFocus) {
    startServer(XvfbServer::WindowManager::none);
    const auto editor = launchWithWindow("org.example.Editor");
    const auto viewer = launchWithWindow("org.example.Viewer");
    ASSERT_NE(editor, 0u);
    ASSERT_NE(viewer, 0u);

    EXPECT_EQ(send("app.focus", "org.example.Editor"), ok("org.example.Editor"));
    EXPECT_EQ(server_->focusedWindow(), editor);
    EXPECT_EQ(send("app.focus", "org.example.Viewer"), ok("org.example.Viewer"));
    EXPECT_EQ(server_->focusedWindow(), viewer);
}

}  // namespace
}  // namespace velopad
