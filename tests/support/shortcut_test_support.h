#pragma once
// Fixtures for the process runner and the Shortcuts tool: a recording process runner and a
// sandbox for Shortcut files.

#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "agent_core/async.h"
#include "agent_core/process_running.h"
#include "tests/support/io_thread.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

// Records each call and answers with a fixed result, or fails as told.
class FakeProcessRunner : public ProcessRunning {
  public:
    struct Call {
        std::string executable;
        std::vector<std::string> arguments;
        double timeout = 0;
    };

    explicit FakeProcessRunner(ProcessRunResult result = {}) : result_(std::move(result)) {}
    void failWith(std::exception_ptr failure) { failure_ = std::move(failure); }

    Task<ProcessRunResult> run(std::string executable, std::vector<std::string> arguments,
                               double timeout) override {
        calls.push_back({std::move(executable), std::move(arguments), timeout});
        if (failure_) std::rethrow_exception(failure_);
        co_return result_;
    }

    std::vector<Call> calls;

  private:
    ProcessRunResult result_;
    std::exception_ptr failure_;
};

inline std::string shortcutsToolPath() { return VELOPAD_BINARY_DIR "/app/velopad-shortcuts"; }

class ShortcutsSandbox : public Sandbox {
  public:
    std::filesystem::path shortcutsDirectory() const {
        return dataHome() / "HarborlinkAgent" / "Shortcuts";
    }
    // Writes <identifier>.desktop with the given keys, written as given.
    void writeShortcut(const std::string& identifier, const std::string& name,
                       const std::string& exec, const std::string& extraLines = "") const {
        writeTextFile(shortcutsDirectory() / (identifier + ".desktop"),
                      desktopEntry(name, exec, extraLines));
    }
};

}  // namespace velopad::testing
