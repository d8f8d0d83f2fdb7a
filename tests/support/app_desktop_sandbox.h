#pragma once
// A Sandbox whose XDG data directories hold desktop entries that start fake_app. GIO reads the
// XDG variables once per process, so a test program arranges every entry in one
// AppDesktopEnvironment before its first test.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "agent_core/app_wire_handler.h"
#include "agent_core/workspace_client.h"
#include "platform/linux/gio_workspace_client.h"
#include "tests/support/child_process.h"
#include "tests/support/io_thread.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

class AppDesktopSandbox {
  public:
    using path = std::filesystem::path;

    AppDesktopSandbox() {
        for (const auto& folder :
             {userApplications(), systemApplications(0), systemApplications(1), root() / "records"})
            std::filesystem::create_directories(folder);
        sandbox_.setEnv("XDG_DATA_DIRS",
                        (root() / "system-a").string() + ":" + (root() / "system-b").string());
        sandbox_.setEnv("XDG_CONFIG_DIRS", (root() / "config-dirs").string());
        for (const char* name : {"XDG_CURRENT_DESKTOP", "DISPLAY", "WAYLAND_DISPLAY"})
            sandbox_.setEnv(name, std::nullopt);
        sandbox_.setEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (root() / "no-bus").string());
    }

    Sandbox& sandbox() { return sandbox_; }
    const path& root() const { return sandbox_.root(); }

    // $XDG_DATA_HOME/applications, and the applications folders of $XDG_DATA_DIRS' two entries.
    path userApplications() const { return sandbox_.dataHome() / "applications"; }
    path systemApplications(int index) const {
        return root() / (index == 0 ? "system-a" : "system-b") / "applications";
    }
    path recordPath(const std::string& id) const { return root() / "records" / (id + ".started"); }
    path programPath(const std::string& id) const { return root() / "bin" / id; }

    void writeEntry(const path& applications, const std::string& id, const std::string& body) {
        writeTextFile(applications / (id + ".desktop"), body);
    }

    // An entry starting its own copy of fake_app (programPath), recording to recordPath(id), its
    // window titled fakeAppTitle(id); `extraLines` go to the group, `extraArguments` to Exec.
    std::string fakeAppEntry(const std::string& id, const std::string& name,
                             const std::string& extraLines = "",
                             const std::string& extraArguments = "") {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + copyProgram(id) +
               " --record " + recordPath(id).string() + " --title " + fakeAppTitle(id) +
               (extraArguments.empty() ? "" : " " + extraArguments) + "\nIcon=" + id + "\n" +
               extraLines;
    }
    // A D-Bus activatable entry served by fake_app, recording to recordPath(id); `service`
    // "accept" or "refuse": the session bus can start it; "none": nothing serves the name.
    std::string dbusAppEntry(const std::string& id, const std::string& name,
                             const std::string& service) {
        const std::string command = copyProgram(id) + " --dbus " + id + " --record " +
                                    recordPath(id).string() +
                                    (service == "refuse" ? " --refuse yes" : "");
        if (service != "none") {
            writeTextFile(sandbox_.dataHome() / "dbus-1" / "services" / (id + ".service"),
                          "[D-BUS Service]\nName=" + id + "\nExec=" + command + "\n");
        }
        return desktopEntry(name, command, "DBusActivatable=true\n");
    }

    // A copy of `program` of its own for `id` (programPath), so that /proc tells the
    // applications apart.
    std::string copyProgram(const std::string& id, const path& program = fakeAppPath()) const {
        std::filesystem::create_directories(programPath(id).parent_path());
        std::filesystem::copy_file(program, programPath(id),
                                   std::filesystem::copy_options::overwrite_existing);
        return programPath(id).string();
    }

  private:
    Sandbox sandbox_;
};

// The replies the phone expects to a request of AppWorkspaceFixture::send.
inline const std::string kAppRequestId = "6F1D2C3B-4A59-4E8F-9D7C-1B2A3C4D5E6F";
inline std::string appOk(const std::string& bundleId) {
    return R"({"id":")" + kAppRequestId + R"(","payload":{"bundleId":")" + bundleId +
           R"("},"type":"app.ok"})";
}
inline std::string appError(const std::string& bundleId, const std::string& code,
                            const std::string& message) {
    return R"({"id":")" + kAppRequestId + R"(","payload":{"bundleId":")" + bundleId +
           R"(","code":")" + code + R"(","message":")" + message + R"("},"type":"app.error"})";
}

// Sends app requests through the live workspace and stops, at the end, what they started.
class AppWorkspaceFixture : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const pid_t pid : started) stopProcess(pid);
    }

    // The workspace acting on X display `onDisplay` (none: no X display).
    WorkspaceClient workspace(std::optional<std::string> onDisplay = std::nullopt) {
        LinuxWorkspaceOptions options = LinuxWorkspaceOptions::fromEnvironment();
        options.display = std::move(onDisplay);
        options.activationTimeout = activationTimeout;
        return makeLinuxWorkspaceClient(io.pool(), options);
    }
    // The app wire handler's reply to a request of `type` for `bundleId`.
    std::string send(const std::string& type, const std::string& bundleId,
                     std::optional<std::string> onDisplay) {
        const AppWireHandler wire{AppMessageHandler{AppLauncher{workspace(std::move(onDisplay))}}};
        return io
            .run(wire.handle(R"({"id":")" + kAppRequestId + R"(","payload":{"bundleId":")" +
                             bundleId + R"("},"type":")" + type + R"("})"))
            .value_or("");
    }
    std::string send(const std::string& type, const std::string& bundleId) {
        return send(type, bundleId, display);
    }

    // Waits for an application's record and remembers its process for the teardown.
    std::optional<FakeAppRecord> recordOf(const std::filesystem::path& record) {
        auto found = waitForRecord(record);
        if (found) started.push_back(found->pid);
        return found;
    }

    std::optional<std::string> display;  // where requests act unless told otherwise
    std::chrono::milliseconds activationTimeout{1500};
    test::IoThread io;
    std::vector<pid_t> started;
};

// Creates the sandbox (adopting what GIO starts), lets `arrange` write the entries, and points
// `slot` at it while the tests run.
class AppDesktopEnvironment : public ::testing::Environment {
  public:
    AppDesktopEnvironment(AppDesktopSandbox*& slot, std::function<void(AppDesktopSandbox&)> arrange)
        : slot_(slot), arrange_(std::move(arrange)) {}

    void SetUp() override {
        adoptOrphans();
        sandbox_ = std::make_unique<AppDesktopSandbox>();
        arrange_(*sandbox_);
        slot_ = sandbox_.get();
    }
    void TearDown() override {
        slot_ = nullptr;
        sandbox_.reset();
    }

  private:
    AppDesktopSandbox*& slot_;
    std::function<void(AppDesktopSandbox&)> arrange_;
    std::unique_ptr<AppDesktopSandbox> sandbox_;
};

}  // namespace velopad::testing
