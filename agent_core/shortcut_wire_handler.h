#pragma once
// The bytes-in, bytes-out form of "shortcut.run": reads the envelope, runs the Shortcut and
// returns the encoded reply. Messages of any other type get no reply.

#include <optional>
#include <string>

#include "agent_core/async.h"
#include "agent_core/shortcut_message_handler.h"

namespace velopad {

class ShortcutWireHandler {
  public:
    explicit ShortcutWireHandler(ShortcutMessageHandler handler);

    // Throws DecodeError for input that is not a message with a UUID id or, for "shortcut.run",
    // lacks a shortcutIdentifier; WireCodecException if the reply cannot be written. The
    // handler may be destroyed while a run is in progress.
    Task<std::optional<std::string>> handle(std::string bytes) const;

    [[nodiscard]] const ShortcutMessageHandler& handler() const noexcept { return handler_; }

  private:
    ShortcutMessageHandler handler_;
};

}  // namespace velopad
