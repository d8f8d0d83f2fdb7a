#include "app/listener/live_request_executors.h"

namespace velopad {

namespace {

std::optional<IconImage> toIconImage(const std::optional<IconPng>& icon) {
    if (!icon) return std::nullopt;
    return IconImage{std::string(icon->pngData.begin(), icon->pngData.end()), icon->revision};
}

}  // namespace

Task<std::optional<std::string>> LiveRequestExecutors::pair(
    WireMessage<PairRequestPayload> request) {
    std::optional<std::string> reply;
    try {
        const auto response =
            co_await c_.pairingService.handlePairRequest(std::move(request.payload), request.id);
        reply = response.encoded();
    } catch (const PairingServiceError&) {
        // the pairing could not be stored: no answer
    }
    co_return reply;
}

Task<bool> LiveRequestExecutors::isPairedToken(std::string token) {
    // Every request asks this: answered without waiting for the pairing service's turn once
    // its list has been loaded.
    if (const auto known = c_.pairingService.isPairedTokenNow(token)) co_return *known;
    const auto device = co_await c_.pairingService.deviceForToken(std::move(token));
    co_return device.has_value();
}

Task<std::string> LiveRequestExecutors::launchApplication(WireMessage<AppActionPayload> request) {
    const auto response =
        co_await c_.appMessageHandler.handleLaunch(std::move(request.payload.bundleId), request.id);
    co_return encodeAppMessageResponse(response);
}

Task<std::string> LiveRequestExecutors::focusApplication(WireMessage<AppActionPayload> request) {
    const auto response =
        co_await c_.appMessageHandler.handleFocus(std::move(request.payload.bundleId), request.id);
    co_return encodeAppMessageResponse(response);
}

Task<std::string> LiveRequestExecutors::runAction(WireMessage<ActionRunPayload> request) {
    const auto response = co_await c_.actionMessageHandler.handleRun(
        std::move(request.payload.actionId), request.id, c_.pool);
    co_return encodeActionResponse(response);
}

Task<std::optional<std::string>> LiveRequestExecutors::runShortcut(std::string frame) {
    co_return co_await c_.shortcutWireHandler.handle(std::move(frame));
}

Task<std::vector<DeckSnapshotPayload>> LiveRequestExecutors::deckSnapshots() {
    co_return co_await c_.deckStore.deckSnapshots(c_.workspace, c_.iconProvider,
                                                  c_.shortcutIconProvider);
}

Task<std::vector<std::string>> LiveRequestExecutors::runningDeckBundleIds() {
    co_return co_await c_.deckStore.runningDeckBundleIds(c_.workspace);
}

Task<std::optional<IconImage>> LiveRequestExecutors::applicationIcon(std::string bundleId) {
    const auto icon = co_await c_.iconProvider.pngAndRevision(std::move(bundleId), c_.workspace);
    co_return toIconImage(icon);
}

Task<std::optional<IconImage>> LiveRequestExecutors::shortcutIcon(std::string shortcutIdentifier) {
    const auto icon =
        co_await c_.shortcutIconProvider.pngAndRevision(std::move(shortcutIdentifier));
    co_return toIconImage(icon);
}

}  // namespace velopad
