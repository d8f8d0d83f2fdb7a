#include "protocol/message_factory.h"

#include <utility>

#include "protocol/message_type.h"

namespace velopad::MessageFactory {
namespace {

template <class Payload>
WireMessage<Payload> make(MessageType type, Payload payload, Uuid id) {
    return {std::string(rawValue(type)), id, std::move(payload)};
}

}  // namespace

WireMessage<PairRequestPayload> pairRequest(PairingMethod method, std::string secret,
                                            std::string deviceName, Uuid deviceId, Uuid id) {
    return make(MessageType::pairRequest,
                PairRequestPayload{method, std::move(secret), std::move(deviceName), deviceId}, id);
}

WireMessage<PairOKPayload> pairOK(std::string token, Uuid id) {
    return make(MessageType::pairOK, PairOKPayload{std::move(token)}, id);
}

WireMessage<PairFailPayload> pairFail(PairingFailureReason reason,
                                      std::optional<std::string> message, Uuid id) {
    return make(MessageType::pairFail, PairFailPayload{reason, std::move(message)}, id);
}

WireMessage<EmptyPayload> deckSync(Uuid id) {
    return make(MessageType::deckSync, EmptyPayload{}, id);
}

WireMessage<DeckSnapshotPayload> deckSnapshot(std::string deckId, std::string name,
                                              std::vector<DeckTile> tiles,
                                              std::vector<std::string> runningBundleIds,
                                              std::map<std::string, std::string> iconRevisions,
                                              Uuid id) {
    return make(MessageType::deckSnapshot,
                DeckSnapshotPayload{std::move(deckId), std::move(name), std::move(tiles),
                                    std::move(runningBundleIds), std::move(iconRevisions)},
                id);
}

WireMessage<DecksSnapshotPayload> decksSnapshot(std::vector<DeckSnapshotPayload> decks, Uuid id) {
    return make(MessageType::decksSnapshot, DecksSnapshotPayload{std::move(decks)}, id);
}

WireMessage<AppActionPayload> appLaunch(std::string bundleId, Uuid id) {
    return make(MessageType::appLaunch, AppActionPayload{std::move(bundleId)}, id);
}

WireMessage<AppActionPayload> appFocus(std::string bundleId, Uuid id) {
    return make(MessageType::appFocus, AppActionPayload{std::move(bundleId)}, id);
}

WireMessage<AppOKPayload> appOK(std::string bundleId, Uuid id) {
    return make(MessageType::appOK, AppOKPayload{std::move(bundleId)}, id);
}

WireMessage<AppErrorPayload> appError(std::string bundleId, AppErrorCode code,
                                      std::optional<std::string> message, Uuid id) {
    return make(MessageType::appError,
                AppErrorPayload{std::move(bundleId), code, std::move(message)}, id);
}

WireMessage<PingPayload> ping(WireDate ts, Uuid id) {
    return make(MessageType::ping, PingPayload{ts}, id);
}

WireMessage<PongPayload> pong(WireDate ts, std::optional<double> rtt,
                              std::optional<std::vector<std::string>> runningBundleIds, Uuid id) {
    return make(MessageType::pong, PongPayload{ts, rtt, std::move(runningBundleIds)}, id);
}

WireMessage<AppIconRequestPayload> appIconRequest(std::vector<std::string> bundleIds, Uuid id) {
    return make(MessageType::appIconRequest, AppIconRequestPayload{std::move(bundleIds)}, id);
}

WireMessage<AppIconPayload> appIcon(std::string bundleId, std::string revision,
                                    std::string pngBase64, Uuid id) {
    return make(MessageType::appIcon,
                AppIconPayload{std::move(bundleId), std::move(revision), std::move(pngBase64)}, id);
}

WireMessage<ActionRunPayload> actionRun(std::string actionId, Uuid id) {
    return make(MessageType::actionRun, ActionRunPayload{std::move(actionId)}, id);
}

WireMessage<ActionOKPayload> actionOK(std::string actionId, Uuid id) {
    return make(MessageType::actionOK, ActionOKPayload{std::move(actionId)}, id);
}

WireMessage<ActionErrorPayload> actionError(std::string actionId, ActionErrorCode code,
                                            std::optional<std::string> message, Uuid id) {
    return make(MessageType::actionError,
                ActionErrorPayload{std::move(actionId), code, std::move(message)}, id);
}

WireMessage<ShortcutRunPayload> shortcutRun(std::string shortcutIdentifier,
                                            std::optional<std::string> label, Uuid id) {
    return make(MessageType::shortcutRun,
                ShortcutRunPayload{std::move(shortcutIdentifier), std::move(label)}, id);
}

WireMessage<ShortcutOKPayload> shortcutOK(std::string shortcutIdentifier, Uuid id) {
    return make(MessageType::shortcutOK, ShortcutOKPayload{std::move(shortcutIdentifier)}, id);
}

WireMessage<ShortcutErrorPayload> shortcutError(std::string shortcutIdentifier,
                                                ShortcutErrorCode code,
                                                std::optional<std::string> message, Uuid id) {
    return make(MessageType::shortcutError,
                ShortcutErrorPayload{std::move(shortcutIdentifier), code, std::move(message)}, id);
}

}  // namespace velopad::MessageFactory
