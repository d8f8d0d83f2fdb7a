// Launches report what really happened: a D-Bus activatable application over a private session
// bus answers success only when its Activate call returns without error (for a launch, and for
// raising it on a Wayland GNOME without window-calls); entries in folders of any depth below
// applications/ resolve and start; a started application gets a scope of the user's systemd
// manager and is found by it, and without a manager it starts and is found as before.

#include <gio/gio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "agent_core/app_wire_handler.h"
#include "platform/linux/gio_workspace_client.h"
#include "tests/support/app_desktop_sandbox.h"
#include "tests/support/io_thread.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::AppDesktopSandbox;
using ::testing::ElementsAre;
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

std::string readAll(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The session bus this program was started with, before the sandbox replaced it.
const char* const kOwnBus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
const std::string ownBus = kOwnBus ? kOwnBus : "";

// The control group a process is in (its cgroup v2 line, or the systemd one on a v1 system).
std::string cgroupOf(pid_t pid) {
    const std::string text = readAll("/proc/" + std::to_string(pid) + "/cgroup");
    const auto unified = text.find("0::");
    return text.substr(unified == std::string::npos ? 0 : unified);
}

// The writable cgroup v2 hierarchy, when this test may create groups in it.
std::optional<fs::path> writableCgroupRoot() {
    for (const fs::path root : {"/sys/fs/cgroup/unified", "/sys/fs/cgroup"}) {
        if (fs::exists(root / "cgroup.procs") && ::access(root.c_str(), W_OK) == 0) return root;
    }
    return std::nullopt;
}

// Stands in for the user's systemd manager on the private bus: StartTransientUnit (with the
// signature systemd declares) records the request and, like systemd, moves the processes into
// a control group named after the unit, below `slice`.
// Whether the bus at `address` has a systemd manager on it.
bool userManagerOn(const std::string& address) {
    if (address.empty()) return false;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!bus) return false;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.freedesktop.systemd1"), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply) g_variant_get(reply, "(b)", &owned);
    if (reply) g_variant_unref(reply);
    g_object_unref(bus);
    return owned;
}

class StandInSystemdManager {
  public:
    struct Request {
        std::string unit;
        std::string mode;
        std::vector<std::uint32_t> pids;
    };

    // Serves on a thread of its own; calls are dispatched to the context current at registration.
    StandInSystemdManager(const std::string& address, fs::path slice) : slice_(std::move(slice)) {
        g_main_context_push_thread_default(context_);
        bus_ = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        const GDBusInterfaceVTable vtable{call, nullptr, nullptr, {}};
        g_dbus_connection_register_object(bus_, "/org/freedesktop/systemd1", node_->interfaces[0],
                                          &vtable, this, nullptr, nullptr);
        g_main_context_pop_thread_default(context_);
        g_variant_unref(g_dbus_connection_call_sync(
            bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.systemd1", 4u), nullptr,
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr));
        thread_ = std::thread([this] {
            while (!stopping_) g_main_context_iteration(context_, TRUE);
        });
    }
    ~StandInSystemdManager() {
        stopping_ = true;
        g_main_context_wakeup(context_);
        thread_.join();
        g_dbus_connection_close_sync(bus_, nullptr, nullptr);
        g_object_unref(bus_);
        g_dbus_node_info_unref(node_);
        g_main_context_unref(context_);
    }

    std::vector<Request> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    static constexpr const char* kInterface = R"xml(<node>
      <interface name="org.freedesktop.systemd1.Manager">
        <method name="StartTransientUnit">
          <arg type="s" direction="in"/><arg type="s" direction="in"/>
          <arg type="a(sv)" direction="in"/><arg type="a(sa(sv))" direction="in"/>
          <arg type="o" direction="out"/>
        </method>
      </interface></node>)xml";

    static void call(GDBusConnection*, const char*, const char*, const char*, const char*,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
        static_cast<StandInSystemdManager*>(self)->startTransientUnit(parameters);
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(o)", "/org/freedesktop/systemd1/job/1"));
    }

    void startTransientUnit(GVariant* parameters) {
        const char* unit = nullptr;
        const char* mode = nullptr;
        GVariantIter* properties = nullptr;
        g_variant_get(parameters, "(&s&sa(sv)@a(sa(sv)))", &unit, &mode, &properties, nullptr);
        Request request{unit, mode, {}};
        const char* name = nullptr;
        GVariant* value = nullptr;
        while (g_variant_iter_loop(properties, "(&sv)", &name, &value)) {
            if (std::string(name) != "PIDs") continue;
            gsize count = 0;
            const auto* pids = static_cast<const std::uint32_t*>(
                g_variant_get_fixed_array(value, &count, sizeof(std::uint32_t)));
            request.pids.assign(pids, pids + count);
        }
        g_variant_iter_free(properties);
        std::error_code error;
        fs::create_directories(slice_ / request.unit, error);
        for (const auto pid : request.pids) {
            std::ofstream(slice_ / request.unit / "cgroup.procs") << pid << std::flush;
        }
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }

    fs::path slice_;
    std::mutex mutex_;
    std::vector<Request> requests_;
    std::atomic<bool> stopping_{false};
    GMainContext* context_ = g_main_context_new();
    GDBusNodeInfo* node_ = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    GDBusConnection* bus_ = nullptr;
    std::thread thread_;
};

class AppLaunchTruthTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::remove(desktop->recordPath("org.example.Scoped")); }

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

// Without a systemd manager on the bus the application starts where the agent runs and is found
// by its program.
TEST_F(AppLaunchTruthTest, EntriesAnyFoldersDeepResolveAndStart) {
    const std::string id = "suite-tools-org.example.Deep";
    EXPECT_THAT(launch(id), HasSubstr(R"("type":"app.ok")"));
    const auto record = testing::waitForRecord(desktop->recordPath(id));
    ASSERT_TRUE(record);
    const std::string cgroup = cgroupOf(record->pid);
    const std::string focus = launch(id, "app.focus");
    testing::stopProcess(record->pid);
    EXPECT_EQ(cgroup, cgroupOf(::getpid()));
    EXPECT_THAT(focus, HasSubstr(R"("code":"focus_failed")"));  // running, but no window
}

TEST_F(AppLaunchTruthTest, AStartedApplicationGetsAScopeOfItsOwnAndIsFoundByIt) {
    const auto root = writableCgroupRoot();
    const fs::path slice =
        root.value_or(fs::path()) / ("velopad-launch-test-" + std::to_string(::getpid()));
    std::optional<testing::FakeAppRecord> record;
    std::vector<StandInSystemdManager::Request> requests;
    std::string focus;
    {
        StandInSystemdManager manager(bus->address(), slice);
        EXPECT_THAT(launch("org.example.Scoped"), HasSubstr(R"("type":"app.ok")"));
        record = testing::waitForRecord(desktop->recordPath("org.example.Scoped"));
        ASSERT_TRUE(record);
        requests = manager.requests();
        if (root) focus = launch("org.example.Scoped", "app.focus");
    }
    testing::stopProcess(record->pid);
    std::error_code error;
    for (int attempt = 0; attempt < 200 && fs::exists(slice) && fs::remove_all(slice, error) == 0;
         ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    const std::string unit =
        "app-velopad-org.example.Scoped-" + std::to_string(record->pid) + ".scope";
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].unit, unit);
    EXPECT_EQ(requests[0].mode, "fail");
    EXPECT_THAT(requests[0].pids, ElementsAre(record->pid));
    if (!root) GTEST_SKIP() << "no writable cgroup v2 hierarchy to place the scope in";
    EXPECT_THAT(focus, HasSubstr(R"("code":"focus_failed")"));  // found running, no window
}

// With the user's own systemd manager, where the session bus this test started with has one.
TEST_F(AppLaunchTruthTest, TheUserManagerPutsAStartedApplicationInItsScope) {
    if (!userManagerOn(ownBus)) {
        GTEST_SKIP() << "no systemd user manager on this session's bus; the scope is tested with a "
                        "stand-in manager and the fallback without one";
    }
    desktop->sandbox().setEnv("DBUS_SESSION_BUS_ADDRESS", ownBus);
    const std::string reply = launch("org.example.Scoped");
    const auto record = testing::waitForRecord(desktop->recordPath("org.example.Scoped"));
    desktop->sandbox().setEnv("DBUS_SESSION_BUS_ADDRESS", bus->address());
    ASSERT_TRUE(record);
    const std::string unit =
        "/app-velopad-org.example.Scoped-" + std::to_string(record->pid) + ".scope";
    std::string cgroup;
    for (int attempt = 0; attempt < 200 && cgroup.find(unit) == std::string::npos; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        cgroup = cgroupOf(record->pid);
    }
    const std::string focus = launch("org.example.Scoped", "app.focus");
    testing::stopProcess(record->pid);
    EXPECT_THAT(reply, HasSubstr(R"("type":"app.ok")"));
    EXPECT_THAT(cgroup, HasSubstr(unit));
    EXPECT_THAT(focus, HasSubstr(R"("code":"focus_failed")"));
}

}  // namespace
}  // namespace velopad
