#pragma once
// Turns one incoming frame into a typed request: the envelope first, then the whole message as
// the payload record its "type" names.

#include <string>
#include <string_view>
#include <variant>

#include "protocol/pairing_records.h"
#include "protocol/payloads.h"
#include "protocol/wire_message.h"

namespace velopad::WireMessageParser {

struct UnknownMessage {
    std::string type;
    Uuid id;
};

using ParsedMessage =
    std::variant<WireMessage<PairRequestPayload>, WireMessage<EmptyPayload>,  // deck.sync
                 WireMessage<PingPayload>, WireMessage<AppActionPayload>,     // app.launch/focus
                 WireMessage<ActionRunPayload>, WireMessage<ShortcutRunPayload>,
                 WireMessage<AppIconRequestPayload>, UnknownMessage>;

// Throws DecodeError when the frame is not JSON, lacks a text "type" or a UUID "id", or when a
// known type's payload does not decode.
ParsedMessage parse(std::string_view data);

}  // namespace velopad::WireMessageParser
