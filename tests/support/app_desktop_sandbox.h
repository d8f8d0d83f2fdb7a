#pragma once
// Desktop entries for application tests: a Sandbox whose XDG data directories hold entries that
// start the fake_app helper (see app_test_processes.h for watching and stopping it).
//
// GIO reads the XDG variables once per process, so a test binary creates one AppDesktopSandbox
// (usually in a ::testing::Environment) before anything touches GIO, writes every entry it
// needs there, and keeps the sandbox until the end.

#include <filesystem>
#include <string>

#include "tests/support/app_test_processes.h"
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

    std::filesystem::path recordPath(const std::string& id) const;
    std::filesystem::path programPath(const std::string& id) const;

  private:
    Sandbox sandbox_;
};

}  // namespace velopad::testing
