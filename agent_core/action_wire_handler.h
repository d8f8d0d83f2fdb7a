#pragma once
// The bytes-in, bytes-out form of "action.run": reads the envelope, runs the action and returns
// the encoded reply. Messages of any other type get no reply.

#include <optional>
#include <string>
#include <string_view>

#include "agent_core/action_message_handler.h"
#include "agent_core/async.h"

namespace velopad {

class ActionWireHandler {
  public:
    explicit ActionWireHandler(ActionMessageHandler handler);

    // Blocks while the action runs. Throws DecodeError for input that is not an "action.run"
    // message with a UUID id and an actionId, and WireCodecException if the reply cannot be
    // written.
    [[nodiscard]] std::optional<std::string> handle(std::string_view bytes) const;

    // The same, with the blocking part on `pool`.
    Task<std::optional<std::string>> handle(std::string bytes, asio::thread_pool& pool) const;

    [[nodiscard]] const ActionMessageHandler& handler() const noexcept { return handler_; }

  private:
    ActionMessageHandler handler_;
};

}  // namespace velopad
