#include "agent_core/action_message_handler.h"

#include <utility>

#include "protocol/message_factory.h"
#include "protocol/wire_codec.h"

namespace velopad {

std::string encodeActionResponse(const ActionMessageResponse& response) {
    return std::visit([](const auto& message) { return WireCodec::encodeString(message); },
                      response);
}

ActionMessageHandler::ActionMessageHandler(SystemActionRunner runner)
    : runner_(std::move(runner)) {}

ActionMessageResponse ActionMessageHandler::handleRun(const std::string& actionId,
                                                      const Uuid& messageId) const {
    SystemActionResult result = runner_.perform(actionId);
    if (result.isOk()) {
        return MessageFactory::actionOK(std::move(result.actionId), messageId);
    }
    return MessageFactory::actionError(std::move(result.actionId), result.code,
                                       std::move(result.message), messageId);
}

Task<ActionMessageResponse> ActionMessageHandler::handleRun(std::string actionId, Uuid messageId,
                                                            asio::thread_pool& pool) const {
    // The work captures only pointers (GCC 12 may destroy runBlocking's closure twice); this
    // handler and the arguments outlive it because this coroutine waits for it.
    const auto work = [this, &actionId, &messageId] { return handleRun(actionId, messageId); };
    ActionMessageResponse response = co_await runBlocking(pool, work);
    co_return response;
}

}  // namespace velopad
