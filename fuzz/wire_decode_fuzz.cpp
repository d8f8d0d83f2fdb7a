// Reads arbitrary bytes the way the listener reads a phone's frame (the envelope, then the whole
// message as the record its "type" names), and the way the phone reads the agent's replies.
// Whatever decodes is written again and must read back as the same message. An exception other
// than DecodeError, a sanitizer report or a mismatch is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <type_traits>
#include <variant>

#include "app/listener/wire_message_parser.h"
#include "protocol/pairing_records.h"
#include "protocol/payloads.h"
#include "protocol/wire_codec.h"

namespace {

using namespace velopad;

template <class Payload>
void checkRoundTrip(const WireMessage<Payload>& message) {
    const std::string encoded = WireCodec::encodeString(message);
    const auto again = WireCodec::decode<Payload>(encoded);
    if constexpr (std::is_same_v<Payload, PingPayload> || std::is_same_v<Payload, PongPayload>) {
        // Dates are written in whole seconds; compare after one normalising pass.
        if (WireCodec::encodeString(again) != encoded) std::abort();
    } else {
        if (!(again == message)) std::abort();
    }
}

template <class Payload>
void decodeAndRoundTrip(std::string_view text) {
    WireMessage<Payload> message;
    try {
        message = WireCodec::decode<Payload>(text);
    } catch (const DecodeError&) {
        return;
    }
    checkRoundTrip(message);
}

// The records the agent sends, read as the phone would.
void decodeReply(std::string_view type, std::string_view text) {
    if (type == "pong") return decodeAndRoundTrip<PongPayload>(text);
    if (type == "decks.snapshot") return decodeAndRoundTrip<DecksSnapshotPayload>(text);
    if (type == "app.error") return decodeAndRoundTrip<AppErrorPayload>(text);
    if (type == "app.ok") return decodeAndRoundTrip<AppOKPayload>(text);
    if (type == "app.icon") return decodeAndRoundTrip<AppIconPayload>(text);
    if (type == "action.ok") return decodeAndRoundTrip<ActionOKPayload>(text);
    if (type == "action.error") return decodeAndRoundTrip<ActionErrorPayload>(text);
    if (type == "shortcut.ok") return decodeAndRoundTrip<ShortcutOKPayload>(text);
    if (type == "shortcut.error") return decodeAndRoundTrip<ShortcutErrorPayload>(text);
    if (type == "pair.ok") return decodeAndRoundTrip<PairOKPayload>(text);
    if (type == "pair.fail") return decodeAndRoundTrip<PairFailPayload>(text);
    decodeAndRoundTrip<EmptyPayload>(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    WireMessageParser::ParsedMessage parsed;
    try {
        parsed = WireMessageParser::parse(text);
    } catch (const DecodeError&) {
        return 0;
    }
    std::visit(
        [text](const auto& message) {
            if constexpr (std::is_same_v<std::decay_t<decltype(message)>,
                                         WireMessageParser::UnknownMessage>) {
                decodeReply(message.type, text);
            } else {
                checkRoundTrip(message);
            }
        },
        parsed);
    return 0;
}
