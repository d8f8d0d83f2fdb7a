#pragma once
// A Sandbox whose XDG data directories hold desktop entries that start fake_app. GIO reads the
// XDG variables once per process, so a test program arranges every entry in one
// AppDesktopEnvironment before its first test.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "agent_core/workspace_client.h"
#include "tests/support/child_process.h"
#include "tests/support/io_thread.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

class AppDesktopSandbox {
  public:
    AppDesktopSandbox();

    Sandbox& sandbox() { return sandbox_; }

    // $XDG_DATA_HOME/applications, and the applications folders of $XDG_DATA_DIRS' two entries.
    std::filesystem::path userApplications() const;
    std::filesystem::path systemApplications(int index) const;

    void writeEntry(const std::filesystem::path& applications, const std::string& id,
                    const std::string& body);

    // An entry starting its own copy of fake_app (programPath), recording to recordPath(id), its
    // window titled fakeAppTitle(id); `extraLines` go to the group, `extraArguments` to Exec.
    std::string fakeAppEntry(const std::string& id, const std::string& name,
                             const std::string& extraLines = "",
                             const std::string& extraArguments = "");
    // A D-Bus activatable entry served by fake_app, recording to recordPath(id); `service`
    // "accept" or "refuse": the session bus can start it; "none": nothing serves the name.
    std::string dbusAppEntry(const std::string& id, const std::string& name,
                             const std::string& service);

    std::filesystem::path recordPath(const std::string& id) const;
    std::filesystem::path programPath(const std::string& id) const;

  private:
    Sandbox sandbox_;
};

// The app wire handler's reply over `workspace` to `type` for `bundleId` (none when empty), and
// the replies the phone expects.
std::string appReply(test::IoThread& io, WorkspaceClient workspace, const std::string& type,
                     const std::string& bundleId);
std::string appOk(const std::string& bundleId);
std::string appError(const std::string& bundleId, const std::string& code,
                     const std::string& message);

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
