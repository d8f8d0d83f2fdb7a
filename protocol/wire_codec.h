#pragma once
// The one JSON codec of the protocol (see json_text.h for the byte-level rules).
//
// encode/encodeString/decode are defined for every payload record of the protocol
// (payloads.h, pairing_records.h); other payload types fail to link.

#include <string>
#include <string_view>

#include "protocol/json_text.h"
#include "protocol/wire_message.h"

namespace velopad::WireCodec {

// JSON text of the message: {"id":"<UPPER-CASE UUID>","payload":{…},"type":"…"}.
// Throws WireCodecException (invalidUTF8 when a string field is not UTF-8, nonFiniteNumber).
template <class Payload>
std::string encode(const WireMessage<Payload>& message);

// The same bytes, guaranteed to be valid UTF-8 text (throws WireCodecException invalidUTF8
// otherwise).
template <class Payload>
std::string encodeString(const WireMessage<Payload>& message);

// Reads the whole message with `Payload` as the payload record. "type", "id" and "payload"
// are required; the payload must follow its record's rules (EmptyPayload: any value).
// Throws DecodeError; nothing is partly decoded.
template <class Payload>
WireMessage<Payload> decode(std::string_view text);

// Reads only "type" (string) and "id" (UUID) of a message. Throws DecodeError.
MessageEnvelope decodeEnvelope(std::string_view text);

}  // namespace velopad::WireCodec
