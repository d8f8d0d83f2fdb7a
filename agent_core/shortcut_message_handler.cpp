#include "agent_core/shortcut_message_handler.h"

#include <utility>

#include "protocol/message_factory.h"
#include "protocol/wire_codec.h"

namespace velopad {

namespace {

Task<ShortcutMessageResponse> runAndReply(Task<ShortcutRunResult> run, Uuid messageId) {
    const ShortcutRunResult result = co_await std::move(run);
    co_return shortcutResponse(result, messageId);
}

}  // namespace

std::string encodeShortcutResponse(const ShortcutMessageResponse& response) {
    return std::visit([](const auto& message) { return WireCodec::encode(message); }, response);
}

ShortcutMessageResponse shortcutResponse(const ShortcutRunResult& result, const Uuid& messageId) {
    if (!result.error) {
        return MessageFactory::shortcutOK(result.shortcutIdentifier, messageId);
    }
    return MessageFactory::shortcutError(result.shortcutIdentifier, result.error->code,
                                         result.error->message, messageId);
}

ShortcutMessageHandler::ShortcutMessageHandler(ShortcutsRunner runner)
    : runner_(std::move(runner)) {}

Task<ShortcutMessageResponse> ShortcutMessageHandler::handleRun(std::string shortcutIdentifier,
                                                                Uuid messageId) const {
    // runner_.run() copies what it needs before this returns.
    return runAndReply(runner_.run(std::move(shortcutIdentifier)), messageId);
}

}  // namespace velopad
