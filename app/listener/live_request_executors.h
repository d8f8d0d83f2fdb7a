#pragma once
// The request executors of the running agent: the pairing service, the application, action and
// Shortcut handlers, the icon providers and the deck store.

#include "agent_core/action_message_handler.h"
#include "agent_core/app_icon_provider.h"
#include "agent_core/app_message_handler.h"
#include "agent_core/shortcut_icon_provider.h"
#include "agent_core/shortcut_wire_handler.h"
#include "agent_core/workspace_client.h"
#include "app/decks/deck_store.h"
#include "app/listener/request_executors.h"
#include "app/pairing/pairing_service.h"

namespace velopad {

struct AgentComponents {
    PairingService& pairingService;
    AppMessageHandler& appMessageHandler;
    ActionMessageHandler& actionMessageHandler;
    ShortcutWireHandler& shortcutWireHandler;
    DeckStore& deckStore;
    AppIconProvider& iconProvider;
    ShortcutIconProvider& shortcutIconProvider;
    WorkspaceClient workspace;
    asio::thread_pool& pool;
};

class LiveRequestExecutors final : public RequestExecutors {
  public:
    explicit LiveRequestExecutors(AgentComponents components) : c_(std::move(components)) {}

    Task<std::optional<std::string>> pair(WireMessage<PairRequestPayload> request) override;
    Task<bool> isPairedToken(std::string token) override;
    Task<std::string> launchApplication(WireMessage<AppActionPayload> request) override;
    Task<std::string> focusApplication(WireMessage<AppActionPayload> request) override;
    Task<std::string> runAction(WireMessage<ActionRunPayload> request) override;
    Task<std::optional<std::string>> runShortcut(std::string frame) override;
    Task<std::vector<DeckSnapshotPayload>> deckSnapshots() override;
    Task<std::vector<std::string>> runningDeckBundleIds() override;
    Task<std::optional<IconImage>> applicationIcon(std::string bundleId) override;
    Task<std::optional<IconImage>> shortcutIcon(std::string shortcutIdentifier) override;

  private:
    AgentComponents c_;
};

}  // namespace velopad
