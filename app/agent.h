#pragma once
// The whole agent, wired together: stores, handlers, icon providers, deck store, pairing
// service, listener with its DNS-SD advertisement, and the view model that front ends observe.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "agent_core/async.h"
#include "app/agent_view_model.h"
#include "app/editor/deck_editor_context.h"

namespace velopad {

struct AgentConfig {
    std::uint16_t port = 9847;
    std::optional<std::filesystem::path> decksPath;  // default: the agent's data directory
    bool advertise = true;                           // DNS-SD through Avahi
};

class Agent {
  public:
    Agent(Executor executor, asio::thread_pool& pool, AgentConfig config = {});
    ~Agent();
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    // Starts the refresh loop and the listener.
    void start();
    // Ends the refresh loop, withdraws the advertisement and closes every connection.
    Task<void> shutdown();

    AgentViewModel& viewModel();
    std::shared_ptr<AgentViewModel> sharedViewModel();
    ListenerService& listener();
    // What a deck editor needs, bound to this agent's store, workspace, Shortcuts and phones.
    // The editor must end before the agent does.
    DeckEditorContext deckEditorContext();

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace velopad
