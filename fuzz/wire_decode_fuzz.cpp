// Decodes arbitrary bytes as an envelope and as every payload record a phone may send (and the
// ones the phone receives), re-encodes whatever decodes and checks that the result decodes to
// the same message. Any other exception than DecodeError, a crash or a mismatch is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <type_traits>

#include "protocol/pairing_records.h"
#include "protocol/payloads.h"
#include "protocol/wire_codec.h"

namespace {

using namespace velopad;

template <class Payload>
void roundTrip(std::string_view text) {
    WireMessage<Payload> message;
    try {
        message = WireCodec::decode<Payload>(text);
    } catch (const DecodeError&) {
        return;
    }
    const std::string encoded = WireCodec::encodeString(message);
    auto again = WireCodec::decode<Payload>(encoded);
    if constexpr (std::is_same_v<Payload, PingPayload> || std::is_same_v<Payload, PongPayload>) {
        // Dates are written in whole seconds; compare after one normalising pass.
        if (WireCodec::encodeString(again) != encoded) std::abort();
    } else {
        if (!(again == message)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        (void)WireCodec::decodeEnvelope(text);
    } catch (const DecodeError&) {
    }
    roundTrip<EmptyPayload>(text);
    roundTrip<PairRequestPayload>(text);
    roundTrip<PingPayload>(text);
    roundTrip<AppActionPayload>(text);
    roundTrip<ActionRunPayload>(text);
    roundTrip<ShortcutRunPayload>(text);
    roundTrip<AppIconRequestPayload>(text);
    roundTrip<PongPayload>(text);
    roundTrip<DecksSnapshotPayload>(text);
    roundTrip<DeckSnapshotPayload>(text);
    roundTrip<AppErrorPayload>(text);
    roundTrip<PairFailPayload>(text);
    if (const auto payload = PairingQRPayload::parse(text)) {
        if (PairingQRPayload::parse(payload->pairingURL()) != payload) std::abort();
    }
    return 0;
}
