#include "protocol/wire_codec.h"

#include <nlohmann/json.hpp>
#include <type_traits>

#include "protocol/json_fields.h"
#include "protocol/pairing_records.h"
#include "protocol/payloads.h"
#include "protocol/utf8.h"

namespace velopad::WireCodec {

using nlohmann::json;

template <class Payload>
std::string encode(const WireMessage<Payload>& message) {
    json envelope = json::object();
    envelope["id"] = message.id.toString();
    json payload;
    to_json(payload, message.payload);
    envelope["payload"] = std::move(payload);
    envelope["type"] = message.type;
    return writeJsonText(envelope);
}

template <class Payload>
std::string encodeString(const WireMessage<Payload>& message) {
    std::string text = encode(message);
    if (!isValidUtf8(text)) throw WireCodecException(WireCodecError::invalidUTF8);
    return text;
}

template <class Payload>
WireMessage<Payload> decode(std::string_view text) {
    const json root = parseJsonText(text);
    json_fields::requireObject(root, "message");
    WireMessage<Payload> message;
    message.type = json_fields::requireString(root, "type");
    message.id = json_fields::requireUuid(root, "id");
    const json& payload = json_fields::requireField(root, "payload");
    if constexpr (!std::is_same_v<Payload, EmptyPayload>) {
        try {
            from_json(payload, message.payload);
        } catch (const json::exception& error) {
            throw DecodeError("malformed payload (error " + std::to_string(error.id) + ")");
        }
    }
    return message;
}

MessageEnvelope decodeEnvelope(std::string_view text) {
    const json root = parseJsonText(text);
    json_fields::requireObject(root, "message");
    return {json_fields::requireString(root, "type"), json_fields::requireUuid(root, "id")};
}

#define VELOPAD_WIRE_CODEC_INSTANTIATE(Payload)                              \
    template std::string encode<Payload>(const WireMessage<Payload>&);       \
    template std::string encodeString<Payload>(const WireMessage<Payload>&); \
    template WireMessage<Payload> decode<Payload>(std::string_view);

VELOPAD_WIRE_CODEC_INSTANTIATE(EmptyPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(PairRequestPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(PairOKPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(PairFailPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(DeckSnapshotPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(DecksSnapshotPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(AppActionPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(AppOKPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(AppErrorPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(PingPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(PongPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(AppIconRequestPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(AppIconPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(ActionRunPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(ActionOKPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(ActionErrorPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(ShortcutRunPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(ShortcutOKPayload)
VELOPAD_WIRE_CODEC_INSTANTIATE(ShortcutErrorPayload)

#undef VELOPAD_WIRE_CODEC_INSTANTIATE

}  // namespace velopad::WireCodec
