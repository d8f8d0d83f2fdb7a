// The Linux workspace against real desktop entries in private XDG data directories and a private
// session bus. No X display here: a running application answers "focus_failed".

#include <gio/gio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include "tests/support/app_desktop_sandbox.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::AppDesktopSandbox;
using testing::appError;
using testing::appOk;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

AppDesktopSandbox* desktop = nullptr;
std::unique_ptr<testing::DBusSession> bus;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new testing::AppDesktopEnvironment(desktop, [](AppDesktopSandbox& d) {
        const auto fake = [&d](const fs::path& dir, const std::string& id,
                               const std::string& extra = "") {
            d.writeEntry(dir, id, d.fakeAppEntry(id, id, extra));
        };
        fake(d.userApplications(), "org.example.Editor");
        fake(d.userApplications(), "org.example.Hidden", "Hidden=true\n");
        d.writeEntry(d.userApplications(), "org.example.Masked",
                     testing::desktopEntry("Masked", "true", "Hidden=true\n"));
        fake(d.systemApplications(0), "org.example.Masked");
        fake(d.systemApplications(0), "org.example.Viewer");
        fake(d.systemApplications(0), "org.example.Quiet", "NoDisplay=true\n");
        // GIO lists only entries whose program exists; this one cannot start in its directory.
        fake(d.systemApplications(0), "org.example.Broken",
             "Path=" + (d.sandbox().root() / "missing-dir").string() + "\n");
        d.writeEntry(d.systemApplications(1) / "suite" / "tools", "org.example.Deep",
                     d.fakeAppEntry("suite-tools-org.example.Deep", "Deep"));
        // Outside every XDG data directory: no identifier may reach it.
        fake(d.sandbox().root() / "outside" / "applications", "evil");
        for (const auto& [id, service] : {std::pair{"org.example.Served", "accept"},
                                          {"org.example.Refusing", "refuse"},
                                          {"org.example.Absent", "none"}}) {
            d.writeEntry(d.userApplications(), id, d.dbusAppEntry(id, id, service));
        }
        // Started through a shell: only its scope can tell that it runs.
        d.writeEntry(d.userApplications(), "org.example.Scoped",
                     "[Desktop Entry]\nType=Application\nName=Scoped\nExec=/bin/sh -c \"exec " +
                         testing::fakeAppPath().string() + " --window no --record " +
                         d.recordPath("org.example.Scoped").string() + "\"\n");
    }));

// The bus comes up once the entries and service files are in place, and ends before them.
struct BusEnvironment : ::testing::Environment {
    void SetUp() override { bus = std::make_unique<testing::DBusSession>(desktop->sandbox()); }
    void TearDown() override { bus.reset(); }
};
const auto* const kBus = ::testing::AddGlobalTestEnvironment(new BusEnvironment);

// Whether any process runs the entry's program (or is the launcher about to run it).
bool programRuns(const std::string& id) {
    const std::string program = desktop->programPath(id).string();
    for (const auto& proc : fs::directory_iterator("/proc")) {
        std::ifstream in(proc.path() / "cmdline");
        if (std::string(std::istreambuf_iterator<char>(in), {}).find(program) != std::string::npos)
            return true;
    }
    return false;
}

// Stands in for the user's systemd manager on the private bus: answers each StartTransientUnit
// and keeps its arguments in GVariant text form.
class StandInSystemdManager {
  public:
    explicit StandInSystemdManager(const std::string& address)
        : bus_(g_dbus_connection_new_for_address_sync(
              address.c_str(),
              static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
              nullptr, nullptr, nullptr)) {
        g_dbus_connection_add_filter(bus_, filter, this, nullptr);
        g_variant_unref(g_dbus_connection_call_sync(
            bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.systemd1", 4u), nullptr,
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr));
    }
    ~StandInSystemdManager() {
        g_dbus_connection_close_sync(bus_, nullptr, nullptr);
        g_object_unref(bus_);
    }

    std::vector<std::string> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    // Runs on the connection's worker thread.
    static GDBusMessage* filter(GDBusConnection* bus, GDBusMessage* message, gboolean incoming,
                                gpointer self) {
        if (!incoming || g_strcmp0(g_dbus_message_get_member(message), "StartTransientUnit") != 0) {
            return message;
        }
        gchar* arguments = g_variant_print(g_dbus_message_get_body(message), FALSE);
        auto* manager = static_cast<StandInSystemdManager*>(self);
        {
            std::lock_guard lock(manager->mutex_);
            manager->requests_.emplace_back(arguments);
        }
        g_free(arguments);
        GDBusMessage* reply = g_dbus_message_new_method_reply(message);
        g_dbus_message_set_body(reply, g_variant_new("(o)", "/org/freedesktop/systemd1/job/1"));
        g_dbus_connection_send_message(bus, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                       nullptr);
        g_object_unref(reply);
        g_object_unref(message);
        return nullptr;
    }

    std::mutex mutex_;
    std::vector<std::string> requests_;
    GDBusConnection* bus_ = nullptr;
};

using AppWorkspaceTest = testing::AppWorkspaceFixture;

TEST_F(AppWorkspaceTest, IdentifiersResolveToListedEntriesOnly) {
    const auto client = workspace();
    auto url = [&](const std::string& id) { return io.run(client.urlForApplication(id)); };
    EXPECT_EQ(url("org.example.Editor"),
              desktop->userApplications() / "org.example.Editor.desktop");
    EXPECT_EQ(url("org.example.Quiet"),
              desktop->systemApplications(0) / "org.example.Quiet.desktop");
    EXPECT_EQ(url("suite-tools-org.example.Deep"),
              desktop->systemApplications(1) / "suite" / "tools" / "org.example.Deep.desktop");
    for (const std::string id :
         {"org.example.Hidden", "org.example.Masked", "org.example.Editor.desktop",
          "suite/tools/org.example.Deep", "../../outside/applications/evil", ""}) {
        EXPECT_EQ(url(id), std::nullopt) << id;
    }
    const auto installed = io.run(client.installedBundleIds(
        {"org.example.Editor", "org.example.Hidden", "org.example.Viewer", "x/y"}));
    EXPECT_EQ(installed, (std::set<std::string>{"org.example.Editor", "org.example.Viewer"}));
}

TEST_F(AppWorkspaceTest, LaunchStartsTheEntryAndALaterLaunchDoesNotStartItAgain) {
    fs::remove(desktop->recordPath("org.example.Editor"));
    EXPECT_EQ(send("app.launch", "org.example.Editor", ":99"), appOk("org.example.Editor"));
    const auto record = recordOf(desktop->recordPath("org.example.Editor"));
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
    EXPECT_FALSE(fs::exists(desktop->recordPath("org.example.Editor")));

    testing::stopProcess(record->pid);
    EXPECT_EQ(send("app.focus", "org.example.Editor"),
              appError("org.example.Editor", "not_found", "Application is not running"));
    EXPECT_THAT(io.run(client.listRunningApplicationIds()), Not(Contains("org.example.Editor")));

    // Entries hidden from menus launch too.
    EXPECT_EQ(send("app.launch", "org.example.Quiet"), appOk("org.example.Quiet"));
    EXPECT_TRUE(recordOf(desktop->recordPath("org.example.Quiet")));
}

TEST_F(AppWorkspaceTest, FilesOutsideTheEntriesStartNothingAndABrokenEntrySaysWhy) {
    EXPECT_FALSE(io.run(workspace().openApplication(desktop->sandbox().root() / "outside" /
                                                    "applications" / "evil.desktop")));
    EXPECT_FALSE(programRuns("evil"));  // answered: had it started, it would be running by now
    const auto reply = send("app.launch", "org.example.Broken");
    EXPECT_THAT(reply,
                HasSubstr(R"("code":"launch_failed","message":"Failed to change to directory)"));
    EXPECT_THAT(reply, HasSubstr(R"(missing-dir)"));
}

TEST_F(AppWorkspaceTest, ADBusActivationSucceedsOnlyWhenTheApplicationAnswers) {
    EXPECT_EQ(send("app.launch", "org.example.Served"), appOk("org.example.Served"));
    EXPECT_THAT(send("app.launch", "org.example.Refusing"),
                HasSubstr(R"("code":"launch_failed","message":"Activation refused"})"));
    EXPECT_THAT(send("app.launch", "org.example.Absent"),
                HasSubstr(R"("code":"launch_failed","message":"The name org.example.Absent)"));
    EXPECT_EQ(testing::readTextFile(desktop->recordPath("org.example.Served")), "activate\n");

    // On a Wayland GNOME without the window-calls extension, a running D-Bus activatable
    // application is asked to raise its own window; success is its answer.
    desktop->sandbox().setEnv("XDG_SESSION_TYPE", "wayland");
    desktop->sandbox().setEnv("XDG_CURRENT_DESKTOP", "GNOME");
    EXPECT_EQ(send("app.focus", "org.example.Served"), appOk("org.example.Served"));
    EXPECT_EQ(testing::readTextFile(desktop->recordPath("org.example.Served")),
              "activate\nactivate\n");
    EXPECT_THAT(send("app.focus", "org.example.Refusing"), HasSubstr(R"("code":"focus_failed")"));
    desktop->sandbox().setEnv("XDG_SESSION_TYPE", std::nullopt);
    desktop->sandbox().setEnv("XDG_CURRENT_DESKTOP", std::nullopt);
}

TEST_F(AppWorkspaceTest, AStartedApplicationIsPutInAScopeOfItsOwn) {
    std::vector<std::string> requests;
    {
        StandInSystemdManager manager(bus->address());
        EXPECT_EQ(send("app.launch", "org.example.Scoped"), appOk("org.example.Scoped"));
        ASSERT_TRUE(recordOf(desktop->recordPath("org.example.Scoped")));
        requests = manager.requests();
    }
    const std::string pid = std::to_string(started.back());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_THAT(requests[0],
                StartsWith("('app-velopad-org.example.Scoped-" + pid + ".scope', 'fail', ["));
    EXPECT_THAT(requests[0], HasSubstr("('PIDs', <[uint32 " + pid + "]>)"));
}

}  // namespace
}  // namespace velopad
