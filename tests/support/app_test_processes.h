#pragma once
// The helper processes of application tests: the fake_app program, waiting for it to start,
// running observer commands, and stopping what a test started. Free of GoogleTest, so X11
// code can include it.

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

// The fake_app helper program.
std::filesystem::path fakeAppPath();

// The window title fakeAppEntry gives the application `id`.
std::string fakeAppTitle(const std::string& id);

// Waits for fake_app's record file to appear.
std::optional<FakeAppRecord> waitForRecord(
    const std::filesystem::path& path,
    std::chrono::milliseconds timeout = std::chrono::seconds(10));

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
