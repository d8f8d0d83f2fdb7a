#include "agent_core/shortcut_wire_handler.h"

#include <utility>

#include "agent_core/incoming_wire_envelope.h"
#include "protocol/payloads.h"
#include "protocol/wire_codec.h"

namespace velopad {

ShortcutWireHandler::ShortcutWireHandler(ShortcutMessageHandler handler)
    : handler_(std::move(handler)) {}

Task<std::optional<std::string>> ShortcutWireHandler::handle(std::string bytes) const {
    const IncomingWireEnvelope envelope = decodeIncomingWireEnvelope(bytes);
    if (envelope.type != "shortcut.run") {
        co_return std::nullopt;
    }
    auto request = WireCodec::decode<ShortcutRunPayload>(bytes);
    // handleRun() copies what the run needs before the first suspension; `this` is not used after.
    const ShortcutMessageResponse response =
        co_await handler_.handleRun(std::move(request.payload.shortcutIdentifier), envelope.id);
    co_return encodeShortcutResponse(response);
}

}  // namespace velopad
