#include "agent_core/app_wire_handler.h"

#include <utility>

#include "agent_core/incoming_wire_envelope.h"
#include "protocol/message_type.h"
#include "protocol/wire_codec.h"

namespace velopad {

Task<std::optional<std::string>> AppWireHandler::handle(std::string data) const {
    const AppMessageHandler worker = handler;
    const IncomingWireEnvelope envelope = decodeIncomingWireEnvelope(data);

    const auto type = messageTypeFromRawValue(envelope.type);
    if (type != MessageType::appLaunch && type != MessageType::appFocus) {
        co_return std::nullopt;
    }

    auto request = WireCodec::decode<AppActionPayload>(data);
    std::string bundleId = std::move(request.payload.bundleId);
    // Plain statements rather than one conditional expression: GCC 12 mishandles co_await
    // inside the conditional operator.
    std::optional<AppMessageResponse> response;
    if (type == MessageType::appLaunch) {
        response = co_await worker.handleLaunch(std::move(bundleId), envelope.id);
    } else {
        response = co_await worker.handleFocus(std::move(bundleId), envelope.id);
    }
    co_return encodeAppMessageResponse(*response);
}

}  // namespace velopad
