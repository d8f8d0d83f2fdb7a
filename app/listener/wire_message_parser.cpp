#include "app/listener/wire_message_parser.h"

#include <array>
#include <functional>
#include <utility>

#include "protocol/wire_codec.h"

namespace velopad::WireMessageParser {

namespace {

template <class Payload>
ParsedMessage decodeAs(std::string_view data) {
    return WireCodec::decode<Payload>(data);
}

using Decoder = ParsedMessage (*)(std::string_view);

// The request types, in the order they are matched.
constexpr std::array<std::pair<std::string_view, Decoder>, 8> requestTypes{{
    {"pair.request", &decodeAs<PairRequestPayload>},
    {"deck.sync", &decodeAs<EmptyPayload>},
    {"ping", &decodeAs<PingPayload>},
    {"app.launch", &decodeAs<AppActionPayload>},
    {"app.focus", &decodeAs<AppActionPayload>},
    {"action.run", &decodeAs<ActionRunPayload>},
    {"shortcut.run", &decodeAs<ShortcutRunPayload>},
    {"app.icon.request", &decodeAs<AppIconRequestPayload>},
}};

}  // namespace

ParsedMessage parse(std::string_view data) {
    const auto envelope = WireCodec::decodeEnvelope(data);
    for (const auto& [type, decoder] : requestTypes) {
        if (envelope.type == type) return decoder(data);
    }
    return UnknownMessage{envelope.type, envelope.id};
}

}  // namespace velopad::WireMessageParser
