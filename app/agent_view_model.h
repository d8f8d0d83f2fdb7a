#pragma once
// The one observable object behind every front end: mirrors the pairing service and the listener
// once a second, recovers a failed listener by itself, and carries out the user's commands.
// Confined to its own strand (the agent's "main thread"); front ends read a copy of the state
// and are told when it changes.

#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

#include "agent_core/async.h"
#include "app/agent_view_state.h"
#include "app/listener/listener_service.h"
#include "app/pairing/pairing_service.h"

namespace velopad {

struct AgentViewModelOptions {
    std::function<std::string()> computerName = [] { return std::string("Velopad Mac"); };
    std::function<std::optional<std::string>()> advertisingNotice = [] { return std::nullopt; };
    std::chrono::steady_clock::duration refreshPeriod = std::chrono::seconds(1);
    std::chrono::steady_clock::duration recoveryCooldown = std::chrono::seconds(5);
    // How often a paired-device store that fell back to a file looks for the keyring again.
    std::chrono::steady_clock::duration storeRetryPeriod = std::chrono::seconds(10);
};

class AgentViewModel : public std::enable_shared_from_this<AgentViewModel> {
  public:
    using Observer = std::function<void(const AgentViewState&)>;

    static std::shared_ptr<AgentViewModel> create(Executor executor, PairingService& pairing,
                                                  ListenerService& listener,
                                                  AgentViewModelOptions options = {});

    // Starts the refresh loop and the first listener start.
    void start();
    // Ends the refresh loop (at exit).
    void stop();

    // A copy of the current state; safe from any thread.
    AgentViewState state() const;
    // Called on the view model's strand after every change of state.
    void observe(Observer observer);

    Task<void> refresh();
    Task<void> startListener();
    Task<void> restartListener();
    Task<void> unpair();
    Task<void> showPairingCode();
    Task<void> hidePairingCode();
    Task<void> dismissShortcutCoach();
    Task<void> pushDecks();

    // Runs one of the commands above on the strand without waiting for it. A command that
    // fails shows its failure as `commandError`; the next command that succeeds clears it.
    void post(Task<void> (AgentViewModel::*command)());

    // Where the view model reports a failure no front end caused (a refresh that threw).
    using ProblemReporter = std::function<void(std::string_view)>;
    void setProblemReporter(ProblemReporter report);

  private:
    AgentViewModel(Executor executor, PairingService& pairing, ListenerService& listener,
                   AgentViewModelOptions options);

    Task<void> refreshOnStrand();
    Task<void> attemptAutomaticRecoveryIfNeeded();
    void retryPreferredStoreInBackground();
    Task<void> refreshLoop();
    Task<void> runCommand(Task<void> (AgentViewModel::*command)());
    void publish();

    Strand strand_;
    PairingService& pairing_;
    ListenerService& listener_;
    AgentViewModelOptions options_;

    AgentViewState fields_;  // touched on strand_ only
    std::optional<std::chrono::steady_clock::time_point> lastRecoveryAttempt_;
    std::optional<std::chrono::steady_clock::time_point> lastStoreRetry_;
    bool storeRetryRunning_ = false;
    std::shared_ptr<asio::steady_timer> refreshTimer_;
    bool stopped_ = false;
    bool hasRefreshed_ = false;  // observers see no state before the first refresh
    ProblemReporter report_;

    mutable std::mutex publishedMutex_;
    AgentViewState published_;
    std::vector<Observer> observers_;
};

}  // namespace velopad
