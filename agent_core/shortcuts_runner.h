#pragma once
// Runs one Shortcut through the Shortcuts tool and sorts the outcome into the codes and short
// messages the phone shows under the key.

#include <memory>
#include <optional>
#include <string>

#include "agent_core/async.h"
#include "agent_core/process_running.h"
#include "protocol/payloads.h"

namespace velopad {

struct ShortcutRunError {
    ShortcutErrorCode code = ShortcutErrorCode::runFailed;
    std::optional<std::string> message;  // always present for errors built by the runner

    friend bool operator==(const ShortcutRunError&, const ShortcutRunError&) = default;
};

// `ok` for `shortcutIdentifier`, or an error for it carrying the wire code and message.
struct [[nodiscard]] ShortcutRunResult {
    std::string shortcutIdentifier;
    std::optional<ShortcutRunError> error;  // nothing: the Shortcut ran and succeeded

    static ShortcutRunResult ok(std::string shortcutIdentifier);
    static ShortcutRunResult failure(std::string shortcutIdentifier, ShortcutErrorCode code,
                                     std::optional<std::string> message);

    [[nodiscard]] bool isOK() const { return !error.has_value(); }

    friend bool operator==(const ShortcutRunResult&, const ShortcutRunResult&) = default;
};

class ShortcutsRunner {
  public:
    // How long a Shortcut may run before it is stopped and reported as "timed_out".
    static constexpr double defaultTimeout = 25;

    // `executable` is the tool's path (see defaultShortcutsExecutable()); `runner` starts it.
    ShortcutsRunner(std::string executable, std::shared_ptr<ProcessRunning> runner,
                    double timeout = defaultTimeout);

    // Runs "<executable> run <shortcutIdentifier>", the identifier passed as one argument exactly
    // as received (never through a shell). Never throws. Runs may overlap; the runner may be
    // destroyed while a run is in progress.
    Task<ShortcutRunResult> run(std::string shortcutIdentifier) const;

    // The outcome of a finished run of the tool (the time-out is checked before the status).
    // Only the tool's own outcomes give "not_found" (status 66, "Shortcut not found") and
    // "cancelled" (status 77, its refusal; or 143 with nothing said: the tool was stopped);
    // every failure of the Shortcut's command is "run_failed" with what it wrote.
    static ShortcutRunResult classify(std::string shortcutIdentifier,
                                      const ProcessRunResult& result);

    [[nodiscard]] const std::string& executable() const noexcept { return executable_; }
    [[nodiscard]] double timeout() const noexcept { return timeout_; }

  private:
    std::string executable_;
    std::shared_ptr<ProcessRunning> runner_;
    double timeout_;
};

}  // namespace velopad
