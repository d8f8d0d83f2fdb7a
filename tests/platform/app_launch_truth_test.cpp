// Launches report what really happened: a D-Bus activatable application over a private session
// bus answers success only when its Activate call returns without error (for a launch, and for
// raising it on a Wayland GNOME without window-calls), and entries in folders
// of any depth below applications/ resolve and start.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "agent_core/app_wire_handler.h"
#include "platform/linux/gio_workspace_client.h"
#include "tests/support/app_desktop_sandbox.h"
#include "tests/support/dbus_session.h"
#include "tests/support/io_thread.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::AppDesktopSandbox;
using ::testing::HasSubstr;

constexpr const char* kId = "0C3F8E2A-1B4D-4C5E-9F60-7A8B9C0D1E2F";

AppDesktopSandbox* desktop = nullptr;
std::unique_ptr<testing::DBusSession> bus;

const auto* const kDesktop = ::testing::AddGlobalTestEnvironment(
    new testing::AppDesktopEnvironment(desktop, [](AppDesktopSandbox& d) {
        d.writeEntry(d.userApplications(), "org.example.Served",
                     d.dbusAppEntry("org.example.Served", "Served", "accept"));
        d.writeEntry(d.userApplications(), "org.example.Refusing",
                     d.dbusAppEntry("org.example.Refusing", "Refusing", "refuse"));
        d.writeEntry(d.userApplications(), "org.example.Absent",
                     d.dbusAppEntry("org.example.Absent", "Absent", "none"));
        d.writeEntry(d.systemApplications(1) / "suite" / "tools", "org.example.Deep",
                     d.fakeAppEntry("suite-tools-org.example.Deep", "Deep"));
    }));

// The bus comes up once the entries and service files are in place, and ends before them.
struct BusEnvironment : ::testing::Environment {
    void SetUp() override { bus = std::make_unique<testing::DBusSession>(desktop->sandbox()); }
    void TearDown() override { bus.reset(); }
};
const auto* const kBus = ::testing::AddGlobalTestEnvironment(new BusEnvironment);

std::string readAll(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class AppLaunchTruthTest : public ::testing::Test {
  protected:
    std::string launch(const std::string& bundleId, const std::string& type = "app.launch") {
        LinuxWorkspaceOptions options = LinuxWorkspaceOptions::fromEnvironment();
        options.display.reset();
        const AppWireHandler wire{
            AppMessageHandler{AppLauncher{makeLinuxWorkspaceClient(io.pool(), options)}}};
        return io
            .run(wire.handle(R"({"id":")" + std::string(kId) + R"(","payload":{"bundleId":")" +
                             bundleId + R"("},"type":")" + type + R"("})"))
            .value_or("");
    }

    test::IoThread io;
};

TEST_F(AppLaunchTruthTest, ADBusActivationSucceedsOnlyWhenTheApplicationAnswers) {
    const struct {
        const char* id;
        const char* reply;
    } cases[] = {
        {"org.example.Served", R"("payload":{"bundleId":"org.example.Served"},"type":"app.ok")"},
        {"org.example.Refusing",
         R"("code":"launch_failed","message":"Activation refused"},"type":"app.error")"},
        {"org.example.Absent", R"("code":"launch_failed","message":"The name org.example.Absent)"},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(launch(c.id), HasSubstr(c.reply)) << c.id;
    }
    EXPECT_EQ(readAll(desktop->recordPath("org.example.Served")), "activate\n");

    // On a Wayland GNOME without the window-calls extension, a running D-Bus activatable
    // application is asked to raise its own window; success is its answer.
    desktop->sandbox().setEnv("XDG_SESSION_TYPE", "wayland");
    desktop->sandbox().setEnv("XDG_CURRENT_DESKTOP", "GNOME");
    EXPECT_THAT(launch("org.example.Served", "app.focus"),
                HasSubstr(R"("payload":{"bundleId":"org.example.Served"},"type":"app.ok")"));
    EXPECT_EQ(readAll(desktop->recordPath("org.example.Served")), "activate\nactivate\n");
    EXPECT_THAT(launch("org.example.Refusing", "app.focus"), HasSubstr(R"("code":"focus_failed")"));
    desktop->sandbox().setEnv("XDG_SESSION_TYPE", std::nullopt);
    desktop->sandbox().setEnv("XDG_CURRENT_DESKTOP", std::nullopt);
}

TEST_F(AppLaunchTruthTest, EntriesAnyFoldersDeepResolveAndStart) {
    const std::string id = "suite-tools-org.example.Deep";
    EXPECT_THAT(launch(id), HasSubstr(R"("type":"app.ok")"));
    const auto record = testing::waitForRecord(desktop->recordPath(id));
    ASSERT_TRUE(record);
    testing::stopProcess(record->pid);
}

}  // namespace
}  // namespace velopad
