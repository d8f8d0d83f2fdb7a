#pragma once
// The self-contained bytes-in, bytes-out path for "app.launch" and "app.focus".

#include <optional>
#include <string>

#include "agent_core/app_message_handler.h"
#include "agent_core/async.h"

namespace velopad {

struct AppWireHandler {
    AppMessageHandler handler;

    // The encoded reply to one incoming message, or nothing for a type other than "app.launch"
    // and "app.focus". Throws DecodeError when the message (or, for the two app types, its
    // payload) cannot be read, so nothing is launched; throws WireCodecException when the reply
    // cannot be encoded.
    Task<std::optional<std::string>> handle(std::string data) const;
};

}  // namespace velopad
