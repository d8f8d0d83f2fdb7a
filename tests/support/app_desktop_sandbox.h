#pragma once
// Desktop entries for application tests: a Sandbox whose XDG data directories hold entries that
// start the fake_app helper, and ways to watch and stop the helper processes.
//
// GIO reads the XDG variables once per process, so a test binary creates one AppDesktopSandbox
// (usually in a ::testing::Environment) before anything touches GIO, writes every entry it
// needs there, and keeps the sandbox until the end.

#include "tests/support/sandbox_fixture.h"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velopad::testing {

// What a started fake_app wrote about itself.
struct FakeAppRecord {
    pid_t pid = 0;
    std::string display;  // its DISPLAY, empty when it had none
};

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

// The fake_app helper program.
std::filesystem::path fakeAppPath();

// The window title fakeAppEntry gives the application `id`.
std::string fakeAppTitle(const std::string& id);

// Waits for fake_app's record file to appear.
std::optional<FakeAppRecord> waitForRecord(const std::filesystem::path& path,
                                           std::chrono::milliseconds timeout =
                                               std::chrono::seconds(10));

// Starts fake_app directly (not through GIO) with the given arguments and DISPLAY (nothing:
// unset). The caller stops it with stopProcess.
pid_t spawnFakeApp(const std::vector<std::string>& arguments,
                   const std::optional<std::string>& display);

// Makes this process adopt orphaned descendants (the programs GIO starts), so stopProcess can
// reap them.
void adoptOrphans();

// Kills `pid` and waits until it is gone (reaped when it is our child or was adopted).
void stopProcess(pid_t pid);

// Runs a program and returns its standard output (empty on failure); `display` sets DISPLAY.
std::string commandOutput(const std::vector<std::string>& argv,
                          const std::optional<std::string>& display);

}  // namespace velopad::testing
