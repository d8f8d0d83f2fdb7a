#pragma once
// Turns the outcome of an "action.run" into its reply: "action.ok" or "action.error", both
// carrying the request's id.

#include <string>
#include <variant>

#include "agent_core/async.h"
#include "agent_core/system_action_runner.h"
#include "protocol/payloads.h"
#include "protocol/uuid.h"
#include "protocol/wire_message.h"

namespace velopad {

using ActionMessageResponse =
    std::variant<WireMessage<ActionOKPayload>, WireMessage<ActionErrorPayload>>;

// The reply as JSON text (throws WireCodecException when it cannot be written).
std::string encodeActionResponse(const ActionMessageResponse& response);

class ActionMessageHandler {
  public:
    explicit ActionMessageHandler(SystemActionRunner runner);

    // Runs the action on the calling thread (blocking while the audio system answers).
    [[nodiscard]] ActionMessageResponse handleRun(const std::string& actionId,
                                                  const Uuid& messageId) const;

    // The same, with the blocking part on `pool`; resumes on the caller's executor.
    Task<ActionMessageResponse> handleRun(std::string actionId, Uuid messageId,
                                          asio::thread_pool& pool) const;

    [[nodiscard]] const SystemActionRunner& runner() const noexcept { return runner_; }

  private:
    SystemActionRunner runner_;
};

}  // namespace velopad
