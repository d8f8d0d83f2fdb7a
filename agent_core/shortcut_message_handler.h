#pragma once
// Turns the outcome of a "shortcut.run" into its reply: "shortcut.ok" or "shortcut.error",
// both carrying the request's id.

#include <string>
#include <variant>

#include "agent_core/async.h"
#include "agent_core/shortcuts_runner.h"
#include "protocol/payloads.h"
#include "protocol/uuid.h"
#include "protocol/wire_message.h"

namespace velopad {

using ShortcutMessageResponse =
    std::variant<WireMessage<ShortcutOKPayload>, WireMessage<ShortcutErrorPayload>>;

// The reply as JSON text (throws WireCodecException when it cannot be written).
std::string encodeShortcutResponse(const ShortcutMessageResponse& response);

// The reply for a finished run.
ShortcutMessageResponse shortcutResponse(const ShortcutRunResult& result, const Uuid& messageId);

class ShortcutMessageHandler {
  public:
    explicit ShortcutMessageHandler(ShortcutsRunner runner);

    // Runs the Shortcut and builds the reply; never throws. The handler may be destroyed while
    // a run is in progress.
    Task<ShortcutMessageResponse> handleRun(std::string shortcutIdentifier, Uuid messageId) const;

    [[nodiscard]] const ShortcutsRunner& runner() const noexcept { return runner_; }

  private:
    ShortcutsRunner runner_;
};

}  // namespace velopad
