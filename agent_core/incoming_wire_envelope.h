#pragma once
// The minimal first reading of an incoming message: its "type" (text) and "id" (UUID, required).

#include <string_view>

#include "protocol/wire_message.h"

namespace velopad {

using IncomingWireEnvelope = MessageEnvelope;

// Reads "type" and "id" of a JSON message; the payload is not examined. Throws DecodeError when
// the text is not JSON, "type" is not text, or "id" is missing or not a UUID.
IncomingWireEnvelope decodeIncomingWireEnvelope(std::string_view data);

}  // namespace velopad
