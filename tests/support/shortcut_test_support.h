#pragma once
// Test fixtures for the process runner and the Shortcuts tool: an io_context that runs one task
// to its end, and a sandbox whose XDG_DATA_HOME holds Shortcut files.

#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "agent_core/async.h"
#include "agent_core/process_running.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

class IoHarness {
  public:
    Executor executor() { return io_.get_executor(); }

    // Runs `task` (and whatever it starts) to completion; rethrows its exception.
    template <class T>
    T run(Task<T> task) {
        auto future = asio::co_spawn(io_, std::move(task), asio::use_future);
        io_.restart();
        io_.run();
        return future.get();
    }

  private:
    asio::io_context io_;
};

// A ProcessRunning that records each call and answers with a fixed result or failure.
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
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        co_return result_;
    }

    std::vector<Call> calls;

  private:
    ProcessRunResult result_;
    std::exception_ptr failure_;
};

// Paths of programs built with the project.
std::string shortcutsToolPath();  // the velopad-shortcuts tool beside the agent
std::string testHelperPath(const std::string& name);

// A private home (see Sandbox) with a place for the user's Shortcuts.
class ShortcutsSandbox : public Sandbox {
  public:
    // $XDG_DATA_HOME/HarborlinkAgent/Shortcuts
    [[nodiscard]] std::filesystem::path shortcutsDirectory() const;

    // Writes <identifier>.desktop with the given keys (values written as given, unescaped).
    void writeShortcut(const std::string& identifier, const std::string& name,
                       const std::string& exec,
                       const std::optional<std::string>& icon = std::nullopt) const;
};

}  // namespace velopad::testing
