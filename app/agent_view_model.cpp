#include "app/agent_view_model.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/detached.hpp>
#include <exception>
#include <string>

#include "agent_core/error_description.h"

namespace velopad {

std::shared_ptr<AgentViewModel> AgentViewModel::create(Executor executor, PairingService& pairing,
                                                       ListenerService& listener,
                                                       AgentViewModelOptions options) {
    return std::shared_ptr<AgentViewModel>(
        new AgentViewModel(std::move(executor), pairing, listener, std::move(options)));
}

AgentViewModel::AgentViewModel(Executor executor, PairingService& pairing,
                               ListenerService& listener, AgentViewModelOptions options)
    : strand_(asio::make_strand(std::move(executor))),
      pairing_(pairing),
      listener_(listener),
      options_(std::move(options)) {}

void AgentViewModel::start() {
    refreshTimer_ = std::make_shared<asio::steady_timer>(strand_);
    asio::co_spawn(strand_, refreshLoop(), asio::detached);
    post(&AgentViewModel::startListener);
}

void AgentViewModel::stop() {
    asio::post(strand_, [self = shared_from_this()] {
        self->stopped_ = true;
        if (self->refreshTimer_) self->refreshTimer_->cancel();
    });
}

AgentViewState AgentViewModel::state() const {
    std::lock_guard lock(publishedMutex_);
    return published_;
}

void AgentViewModel::observe(Observer observer) {
    asio::post(strand_, [self = shared_from_this(), observer = std::move(observer)]() mutable {
        if (self->hasRefreshed_) observer(self->fields_);
        self->observers_.push_back(std::move(observer));
    });
}

void AgentViewModel::post(Task<void> (AgentViewModel::*command)()) {
    asio::co_spawn(strand_, runCommand(command), asio::detached);
}

void AgentViewModel::setProblemReporter(ProblemReporter report) {
    asio::post(strand_, [self = shared_from_this(), report = std::move(report)]() mutable {
        self->report_ = std::move(report);
    });
}

Task<void> AgentViewModel::runCommand(Task<void> (AgentViewModel::*command)()) {
    auto self = shared_from_this();
    std::optional<std::string> failure;
    try {
        co_await (this->*command)();
    } catch (const std::exception& error) {
        failure = errorDescription(error);
    } catch (...) {
        failure = "The command failed.";
    }
    // Spawned on the strand, so this runs there.
    fields_.commandError = failure;
    publish();
}

void AgentViewModel::publish() {
    hasRefreshed_ = true;
    {
        std::lock_guard lock(publishedMutex_);
        if (published_ == fields_) return;  // an equal value does not notify
        published_ = fields_;
    }
    for (const auto& observer : observers_) observer(fields_);
}

Task<void> AgentViewModel::refreshLoop() {
    auto self = shared_from_this();
    while (!stopped_) {
        // One failed pass is reported and the loop goes on: it also drives automatic recovery.
        std::optional<std::string> failure;
        try {
            co_await refresh();
        } catch (const std::exception& error) {
            failure = errorDescription(error);
        } catch (...) {
            failure = "unknown error";
        }
        if (failure && report_) report_("The status refresh failed: " + *failure);
        if (stopped_) break;
        retryPreferredStoreInBackground();
        refreshTimer_->expires_after(options_.refreshPeriod);
        co_await refreshTimer_->async_wait(asio::as_tuple(asio::use_awaitable));
    }
}

Task<void> AgentViewModel::refresh() { co_await onStrand(strand_, refreshOnStrand()); }

Task<void> AgentViewModel::refreshOnStrand() {
    const auto pairing = co_await pairing_.state();
    fields_.currentPIN = pairing.currentPIN;
    fields_.pairedDevices = pairing.pairedDevices;
    fields_.isLockedOut = pairing.isPINPairingLocked();

    const auto listener = co_await listener_.status();
    fields_.isListenerRunning = listener.isRunning;
    fields_.listenerError = listener.lastError;
    fields_.hasConnectedPhone = listener.pushConnectionCount > 0;
    fields_.shortcutCoachMessage = listener.shortcutCoachMessage;

    if (fields_.pairedDevices.empty() ||
        (fields_.isShowingPairingCode && !pairing.replacementPairingEnabled)) {
        fields_.isShowingPairingCode = false;
    }
    fields_.bonjourServiceName = options_.computerName();
    fields_.pairingQRString =
        PairingQRPayload{1, fields_.bonjourServiceName, pairing.currentPairingCode}.pairingURL();
    fields_.advertisingNotice = options_.advertisingNotice();
    publish();

    if (!fields_.isListenerRunning && fields_.listenerError) {
        co_await attemptAutomaticRecoveryIfNeeded();
    }
}

// Runs beside the refresh loop: a keyring probe may take a while and must not hold up the
// status the front ends show.
void AgentViewModel::retryPreferredStoreInBackground() {
    const auto now = std::chrono::steady_clock::now();
    if (storeRetryRunning_ ||
        (lastStoreRetry_ && now - *lastStoreRetry_ < options_.storeRetryPeriod))
        return;
    lastStoreRetry_ = now;
    storeRetryRunning_ = true;
    asio::co_spawn(strand_, pairing_.retryPreferredStore(),
                   [self = shared_from_this()](std::exception_ptr failure) {
                       self->storeRetryRunning_ = false;
                       if (failure && self->report_)
                           self->report_("The keyring could not be taken up again.");
                   });
}

Task<void> AgentViewModel::attemptAutomaticRecoveryIfNeeded() {
    const auto now = std::chrono::steady_clock::now();
    if (lastRecoveryAttempt_ && now - *lastRecoveryAttempt_ < options_.recoveryCooldown) co_return;
    lastRecoveryAttempt_ = now;
    co_await listener_.stop();
    co_await listener_.resetPortConflictRetries();
    co_await listener_.clearLastError();
    try {
        co_await listener_.start();
        const auto status = co_await listener_.status();
        fields_.isListenerRunning = status.isRunning;
        fields_.listenerError = status.lastError;
    } catch (const std::exception& error) {
        fields_.listenerError = errorDescription(error);
    }
    publish();
}

Task<void> AgentViewModel::startListener() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        try {
            co_await listener_.start();
        } catch (const std::exception& error) {
            // "Listener is already running." or the system's description
            fields_.listenerError = errorDescription(error);
        }
        co_await refreshOnStrand();
    }());
}

Task<void> AgentViewModel::restartListener() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        co_await listener_.stop();
        co_await listener_.resetPortConflictRetries();
        co_await listener_.clearLastError();
        try {
            co_await listener_.start();
        } catch (const std::exception& error) {
            fields_.listenerError = errorDescription(error);
        }
        co_await refreshOnStrand();
    }());
}

Task<void> AgentViewModel::unpair() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        // The list is empty in memory whatever happens; a store that could not be cleared is
        // reported, because the phone would be paired again after a restart.
        std::optional<std::string> failure;
        try {
            co_await pairing_.unpair();
        } catch (const std::exception& error) {
            failure = errorDescription(error);
        }
        fields_.isShowingPairingCode = false;
        co_await refreshOnStrand();
        if (failure)
            throw std::runtime_error("The paired devices could not be removed: " + *failure);
    }());
}

Task<void> AgentViewModel::showPairingCode() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        co_await pairing_.enableReplacementPairing();
        fields_.isShowingPairingCode = true;
        co_await refreshOnStrand();
    }());
}

Task<void> AgentViewModel::hidePairingCode() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        co_await pairing_.disableReplacementPairing();
        fields_.isShowingPairingCode = false;
        co_await refreshOnStrand();
    }());
}

Task<void> AgentViewModel::dismissShortcutCoach() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        co_await listener_.clearShortcutCoachMessage();
        co_await refreshOnStrand();
    }());
}

Task<void> AgentViewModel::pushDecks() { co_await listener_.pushDecks(); }

}  // namespace velopad
