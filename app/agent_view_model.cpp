#include "app/agent_view_model.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/detached.hpp>

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
    asio::co_spawn(strand_, (this->*command)(), [self = shared_from_this()](std::exception_ptr) {});
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
        co_await refresh();
        if (stopped_) break;
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
        fields_.listenerError = error.what();
    }
    publish();
}

Task<void> AgentViewModel::startListener() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        try {
            co_await listener_.start();
        } catch (const std::exception& error) {
            fields_.listenerError =
                error.what();  // "Listener is already running." or the system's text
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
            fields_.listenerError = error.what();
        }
        co_await refreshOnStrand();
    }());
}

Task<void> AgentViewModel::unpair() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        try {
            co_await pairing_.unpair();
        } catch (const std::exception&) {
            // Not shown: the list is already empty in memory.
        }
        fields_.isShowingPairingCode = false;
        co_await refreshOnStrand();
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
