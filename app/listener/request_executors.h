#pragma once
// The components that carry out the phone's requests, as the router sees them. The agent binds
// them to the pairing service, the handlers, the icon providers and the deck store; tests bind
// them to fakes.

#include <optional>
#include <string>
#include <vector>

#include "agent_core/async.h"
#include "protocol/pairing_records.h"
#include "protocol/payloads.h"
#include "protocol/wire_message.h"

namespace velopad {

struct IconImage {
    std::string png;       // PNG bytes
    std::string revision;  // lower-case hex SHA-256 of the bytes
};

class RequestExecutors {
  public:
    virtual ~RequestExecutors() = default;

    // "pair.ok" / "pair.fail" text with the request's id; none when pairing could not be stored.
    virtual Task<std::optional<std::string>> pair(WireMessage<PairRequestPayload> request) = 0;
    virtual Task<bool> isPairedToken(std::string token) = 0;

    // "app.ok" / "app.error" text with the request's id.
    virtual Task<std::string> launchApplication(WireMessage<AppActionPayload> request) = 0;
    virtual Task<std::string> focusApplication(WireMessage<AppActionPayload> request) = 0;
    // "action.ok" / "action.error" text with the request's id.
    virtual Task<std::string> runAction(WireMessage<ActionRunPayload> request) = 0;
    // The Shortcut handler works bytes in, bytes out; none means no reply.
    virtual Task<std::optional<std::string>> runShortcut(std::string frame) = 0;

    virtual Task<std::vector<DeckSnapshotPayload>> deckSnapshots() = 0;
    virtual Task<std::vector<std::string>> runningDeckBundleIds() = 0;

    virtual Task<std::optional<IconImage>> applicationIcon(std::string bundleId) = 0;
    virtual Task<std::optional<IconImage>> shortcutIcon(std::string shortcutIdentifier) = 0;
};

}  // namespace velopad
