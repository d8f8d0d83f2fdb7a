#include "agent_core/action_wire_handler.h"

#include <utility>

#include "agent_core/incoming_wire_envelope.h"
#include "protocol/payloads.h"
#include "protocol/wire_codec.h"

namespace velopad {

ActionWireHandler::ActionWireHandler(ActionMessageHandler handler) : handler_(std::move(handler)) {}

std::optional<std::string> ActionWireHandler::handle(std::string_view bytes) const {
    const IncomingWireEnvelope envelope = decodeIncomingWireEnvelope(bytes);
    if (envelope.type != "action.run") {
        return std::nullopt;
    }
    const auto request = WireCodec::decode<ActionRunPayload>(bytes);
    return encodeActionResponse(handler_.handleRun(request.payload.actionId, envelope.id));
}

Task<std::optional<std::string>> ActionWireHandler::handle(std::string bytes,
                                                           asio::thread_pool& pool) const {
    // The work captures only pointers (GCC 12 may destroy runBlocking's closure twice); this
    // handler and `bytes` outlive it because this coroutine waits for it.
    const auto work = [this, &bytes] { return handle(std::string_view(bytes)); };
    std::optional<std::string> reply = co_await runBlocking(pool, work);
    co_return reply;
}

}  // namespace velopad
