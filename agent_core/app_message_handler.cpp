#include "agent_core/app_message_handler.h"

#include <utility>

#include "protocol/message_factory.h"
#include "protocol/wire_codec.h"

namespace velopad {

AppMessageResponse appMessageResponse(const AppLauncherOutcome& outcome, Uuid messageId) {
    if (outcome.error) {
        return MessageFactory::appError(outcome.bundleId, outcome.error->code,
                                        outcome.error->message, messageId);
    }
    return MessageFactory::appOK(outcome.bundleId, messageId);
}

std::string encodeAppMessageResponse(const AppMessageResponse& response) {
    return std::visit([](const auto& message) { return WireCodec::encode(message); }, response);
}

Task<AppMessageResponse> AppMessageHandler::handleLaunch(std::string bundleId,
                                                         Uuid messageId) const {
    const AppLauncher worker = launcher;
    const auto outcome = co_await worker.launch(std::move(bundleId));
    co_return appMessageResponse(outcome, messageId);
}

Task<AppMessageResponse> AppMessageHandler::handleFocus(std::string bundleId,
                                                        Uuid messageId) const {
    const AppLauncher worker = launcher;
    const auto outcome = co_await worker.focus(std::move(bundleId));
    co_return appMessageResponse(outcome, messageId);
}

}  // namespace velopad
