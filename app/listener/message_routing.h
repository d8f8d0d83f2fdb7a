#pragma once
// What the listener asks of the layer above its transport: the replies to one message, whether
// a handshake token belongs to a paired device, and the text of a deck push.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_core/async.h"

namespace velopad {

class MessageRouting {
  public:
    virtual ~MessageRouting() = default;

    // Reply texts for one incoming message, in sending order; empty when nothing is answered.
    virtual Task<std::vector<std::string>> route(std::string data,
                                                 std::optional<std::string> token) = 0;

    // True when the token belongs to a paired device right now.
    virtual Task<bool> isPairedToken(std::string token) = 0;

    // One "decks.snapshot" message with a fresh id, or nothing when it cannot be encoded.
    virtual Task<std::optional<std::string>> decksPushText() = 0;

    // The Shortcut permission hint, owned by the routing layer and cleared by the user.
    virtual std::optional<std::string> shortcutCoachMessage() const = 0;
    virtual void clearShortcutCoachMessage() = 0;
};

}  // namespace velopad
