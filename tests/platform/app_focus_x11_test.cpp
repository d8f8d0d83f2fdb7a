// Bringing applications forward on Xvfb, with openbox (EWMH) and with no window manager.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/app_desktop_sandbox.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::AppDesktopSandbox;
using testing::appError;
using testing::appOk;
using testing::XvfbServer;

AppDesktopSandbox* desktop = nullptr;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new testing::AppDesktopEnvironment(desktop, [](AppDesktopSandbox& d) {
        const auto apps = d.userApplications();
        d.writeEntry(apps, "org.example.Editor", d.fakeAppEntry("org.example.Editor", "Editor"));
        // Its window shows a process ID from another namespace, as sandboxed applications do;
        // only its class ties it to the entry.
        d.writeEntry(apps, "org.example.Boxed",
                     d.fakeAppEntry("org.example.Boxed", "Boxed", "StartupWMClass=BoxedWindow\n",
                                    "--class BoxedWindow --wm-pid 1"));
        d.writeEntry(apps, "org.example.Headless",
                     d.fakeAppEntry("org.example.Headless", "Headless", "", "--window no"));
    }));

class X11FocusTest : public testing::AppWorkspaceFixture {
  protected:
    void startServer(XvfbServer::WindowManager windowManager) {
        if (!XvfbServer::available(windowManager)) GTEST_SKIP() << "Xvfb or openbox missing";
        server_ = std::make_unique<XvfbServer>(windowManager);
        display = server_->display();
        activationTimeout = std::chrono::milliseconds(1000);
    }

    // Launches the entry and waits for it: its window, or 0 when it opened none.
    unsigned long launch(const std::string& id) {
        fs::remove(desktop->recordPath(id));
        EXPECT_EQ(send("app.launch", id), appOk(id));
        if (!recordOf(desktop->recordPath(id))) return 0;
        return server_->windowTitled(testing::fakeAppTitle(id)).value_or(0);
    }

    std::unique_ptr<XvfbServer> server_;
};

TEST_F(X11FocusTest, RunningApplicationsComeForwardUnderAnEwmhWindowManagerIfTheyHaveAWindow) {
    startServer(XvfbServer::WindowManager::openbox);
    const auto editor = launch("org.example.Editor");
    const auto boxed = launch("org.example.Boxed");
    ASSERT_TRUE(boxed && editor);

    EXPECT_EQ(send("app.focus", "org.example.Editor"), appOk("org.example.Editor"));
    EXPECT_EQ(server_->activeWindow(), editor);

    // Its window shows a foreign process ID: found by its class.
    EXPECT_EQ(send("app.focus", "org.example.Boxed"), appOk("org.example.Boxed"));
    EXPECT_EQ(server_->activeWindow(), boxed);

    // Without a window to activate, or a display to do it on (pure Wayland, a dead one).
    const auto failed = [](const std::string& id) {
        return appError(id, "focus_failed", "Failed to activate application");
    };
    EXPECT_EQ(launch("org.example.Headless"), 0u);
    EXPECT_EQ(send("app.focus", "org.example.Headless"), failed("org.example.Headless"));
    EXPECT_EQ(send("app.launch", "org.example.Headless"), failed("org.example.Headless"));
    EXPECT_EQ(send("app.focus", "org.example.Editor", ":65000"), failed("org.example.Editor"));
}

TEST_F(X11FocusTest, WithoutAWindowManagerTheWindowGetsTheInputFocus) {
    startServer(XvfbServer::WindowManager::none);
    const auto editor = launch("org.example.Editor");
    ASSERT_NE(editor, 0u);
    EXPECT_EQ(send("app.focus", "org.example.Editor"), appOk("org.example.Editor"));
    EXPECT_EQ(server_->focusedWindow(), editor);
}

}  // namespace
}  // namespace velopad
