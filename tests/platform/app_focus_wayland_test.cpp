// Bringing native Wayland windows forward on a real headless KWin with a private session bus.
// The windows are Qt Wayland clients that record when the compositor gives them focus.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/app_desktop_sandbox.h"
#include "tests/support/child_process.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::AppDesktopSandbox;

constexpr const char* kSocket = "wl-velopad-test";

const fs::path kWindowProgram = fs::path(VELOPAD_BINARY_DIR) / "tests" / "wayland_window";
const fs::path kKWin = "/usr/bin/kwin_wayland";

AppDesktopSandbox* desktop = nullptr;

std::string windowEntry(AppDesktopSandbox& d, const std::string& id) {
    return testing::desktopEntry(
        id, d.copyProgram(id, kWindowProgram) + " " + id + " " + d.recordPath(id).string());
}

const auto* const kDesktop = ::testing::AddGlobalTestEnvironment(
    new testing::AppDesktopEnvironment(desktop, [](AppDesktopSandbox& d) {
        if (!fs::exists(kWindowProgram)) return;
        for (const char* id : {"org.example.Front", "org.example.Back"}) {
            d.writeEntry(d.userApplications(), id, windowEntry(d, id));
        }
    }));

// Starts `argv` as our child, its output appended to `log`; it ends should the test die.
pid_t start(const std::vector<std::string>& argv, const fs::path& log) {
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const pid_t pid = testing::spawnProcess(argv, {-1, out, out}, true);
    ::close(out);
    return pid;
}

// The last focus change the window recorded: "active" or "inactive".
bool lastLineIs(const std::string& id, const std::string& expected) {
    std::ifstream in(desktop->recordPath(id));
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return last == expected;
}

class AppFocusWaylandTest : public testing::AppWorkspaceFixture {
  protected:
    // A private KWin Wayland session: its own bus, a headless output, and the session variables
    // a Plasma desktop sets.
    void SetUp() override {
        if (!fs::exists(kKWin) || !fs::exists(kWindowProgram)) {
            GTEST_SKIP() << "kwin_wayland or the Qt Wayland window helper is not installed";
        }
        testing::Sandbox& sandbox = desktop->sandbox();
        bus = std::make_unique<testing::DBusSession>(sandbox);
        // kwin_wayland's file capability is refused in containers; a copy has none. Its Qt
        // platform plugin loads only for a program named kwin_wayland.
        const fs::path copy = sandbox.root() / "kwin" / "kwin_wayland";
        fs::create_directories(copy.parent_path());
        fs::copy_file(kKWin, copy, fs::copy_options::overwrite_existing);
        sandbox.setEnv("KWIN_COMPOSE", "Q");
        sandbox.setEnv("QT_QPA_PLATFORM", std::nullopt);
        kwin = start(
            {copy.string(), "--virtual", "--socket", kSocket, "--width", "1024", "--height", "768"},
            kwinLog);
        ASSERT_TRUE(testing::waitUntil(
            [&] {
                return fs::exists(sandbox.runtimeDir() / kSocket) &&
                       testing::sessionBusHasOwner("org.kde.KWin");
            },
            std::chrono::seconds(30)))
            << testing::readTextFile(kwinLog);
        for (const auto& [name, value] : {std::pair{"WAYLAND_DISPLAY", kSocket},
                                          {"QT_QPA_PLATFORM", "wayland"},
                                          {"XDG_SESSION_TYPE", "wayland"},
                                          {"XDG_CURRENT_DESKTOP", "KDE"}}) {
            sandbox.setEnv(name, value);
        }
        activationTimeout = std::chrono::milliseconds(3000);
    }
    void TearDown() override {
        AppWorkspaceFixture::TearDown();
        if (kwin > 0) testing::stopProcess(kwin);
        bus.reset();
    }

    // Opens the entry's window and waits until the compositor has given it focus.
    void open(const std::string& id) {
        started.push_back(
            start({desktop->programPath(id).string(), id, desktop->recordPath(id).string()},
                  desktop->sandbox().root() / (id + ".log")));
        ASSERT_TRUE(testing::waitUntil([&] { return lastLineIs(id, "active"); }))
            << id << "\n"
            << testing::readTextFile(kwinLog);
    }

    std::unique_ptr<testing::DBusSession> bus;
    const fs::path kwinLog = desktop->sandbox().root() / "log";
    pid_t kwin = -1;
};

TEST_F(AppFocusWaylandTest, RaisesNativeWaylandWindowsThroughKWin) {
    open("org.example.Front");
    open("org.example.Back");
    ASSERT_TRUE(testing::waitUntil([] { return lastLineIs("org.example.Front", "inactive"); }));

    EXPECT_EQ(send("app.focus", "org.example.Front"), testing::appOk("org.example.Front"))
        << testing::readTextFile(kwinLog);
    EXPECT_TRUE(testing::waitUntil([] { return lastLineIs("org.example.Front", "active"); }));

    // A running application is brought forward by a launch too, not started again.
    EXPECT_EQ(send("app.launch", "org.example.Back"), testing::appOk("org.example.Back"));
    EXPECT_TRUE(testing::waitUntil([] { return lastLineIs("org.example.Back", "active"); }));
}

}  // namespace
}  // namespace velopad
