#pragma once
// Desktop entries for application tests: a Sandbox whose XDG data directories hold entries that
// start the fake_app helper (see app_test_processes.h for watching and stopping it).
//
// GIO reads the XDG variables once per process, so a test binary creates one AppDesktopSandbox
// (usually in a ::testing::Environment) before anything touches GIO, writes every entry it
// needs there, and keeps the sandbox until the end.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "agent_core/workspace_client.h"
#include "tests/support/app_test_processes.h"
#include "tests/support/io_thread.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

class AppDesktopSandbox {
  public:
    AppDesktopSandbox();

    Sandbox& sandbox() { return sandbox_; }

    // $XDG_DATA_HOME/applications, and $XDG_DATA_DIRS' two directories' applications folders.
    std::filesystem::path userApplications() const;
    std::filesystem::path systemApplications(int index) const;  // 0 or 1

    // Writes `<id>.desktop` into `applications` with the given body.
    void writeEntry(const std::filesystem::path& applications, const std::string& id,
                    const std::string& body);

    // A shown application entry whose Exec starts a copy of fake_app of its own (programPath)
    // recording to recordPath(id), with window title fakeAppTitle(id); `extraLines` are
    // appended to the [Desktop Entry] group, `extraArguments` to the Exec line.
    std::string fakeAppEntry(const std::string& id, const std::string& name,
                             const std::string& extraLines = "",
                             const std::string& extraArguments = "");

    // A D-Bus activatable entry served by a copy of the dbus_app helper of its own, which
    // appends to recordPath(id) when activated. With `service` "accept" or "refuse" the session
    // bus learns (from $XDG_DATA_HOME/dbus-1/services) to start it; with "none" nothing serves
    // the name.
    std::string dbusAppEntry(const std::string& id, const std::string& name,
                             const std::string& service);

    std::filesystem::path recordPath(const std::string& id) const;
    std::filesystem::path programPath(const std::string& id) const;

  private:
    Sandbox sandbox_;
};

// The reply of the app wire handler over `workspace` to an app request of `type` ("app.launch",
// "app.focus") for `bundleId` (empty when there is none), and the replies the phone expects to
// such a request.
std::string appReply(test::IoThread& io, WorkspaceClient workspace, const std::string& type,
                     const std::string& bundleId);
std::string appOk(const std::string& bundleId);
std::string appError(const std::string& bundleId, const std::string& code,
                     const std::string& message);

// GIO reads the XDG directories once per process, so a test program arranges all its desktop
// entries before its first test: this environment creates the sandbox, lets `arrange` write
// the entries, points `slot` at the sandbox while the tests run, and removes it afterwards.
class AppDesktopEnvironment : public ::testing::Environment {
  public:
    AppDesktopEnvironment(AppDesktopSandbox*& slot, std::function<void(AppDesktopSandbox&)> arrange,
                          bool adoptStartedApplications = true)
        : slot_(slot), arrange_(std::move(arrange)), adopt_(adoptStartedApplications) {}

    void SetUp() override {
        if (adopt_) adoptOrphans();
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
    bool adopt_;
    std::unique_ptr<AppDesktopSandbox> sandbox_;
};

}  // namespace velopad::testing
