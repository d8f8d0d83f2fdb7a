#pragma once
// The envelope of every message: {"id":…,"payload":{…},"type":…}.

#include <string>

#include "protocol/uuid.h"

namespace velopad {

template <class Payload>
struct WireMessage {
    std::string type;  // a MessageType raw string; not checked by the codec
    Uuid id;           // the request's id in a reply, a fresh random UUID otherwise
    Payload payload;

    friend bool operator==(const WireMessage&, const WireMessage&) = default;
};

// The first, partial reading of an incoming message: "type" and "id" only.
struct MessageEnvelope {
    std::string type;
    Uuid id;

    friend bool operator==(const MessageEnvelope&, const MessageEnvelope&) = default;
};

}  // namespace velopad
