#include "app/pairing/pairing_service.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "agent_core/serial_gate.h"
#include "protocol/device_token_factory.h"
#include "protocol/message_factory.h"
#include "protocol/pairing_code_generator.h"
#include "protocol/pairing_secret.h"
#include "protocol/pin_generator.h"
#include "protocol/wire_codec.h"

namespace velopad {
namespace {

constexpr const char* lockoutMessage = "Too many failed PIN attempts";
constexpr const char* alreadyPairedMessage =
    "Mac is already paired. Show the pairing code again or Unpair to add a new device.";
constexpr const char* invalidPINMessage = "Invalid PIN";
constexpr const char* invalidCodeMessage = "Invalid pairing code";

PairingResponse failure(PairingFailureReason reason, const char* message, Uuid id) {
    return PairingResponse{MessageFactory::pairFail(reason, std::string(message), id)};
}

}  // namespace

PairingServiceError::PairingServiceError(PairingServiceErrorCode code)
    : std::runtime_error(describe(code)), code_(code) {}

std::string PairingServiceError::describe(PairingServiceErrorCode code) {
    switch (code) {
        case PairingServiceErrorCode::persistenceFailed:
            return "The new pairing could not be saved.";
    }
    return "Pairing failed.";
}

std::string PairingResponse::encoded() const {
    return std::visit([](const auto& wire) { return WireCodec::encode(wire); }, message);
}

PairingService::PairingService(Executor executor, asio::thread_pool& pool,
                               std::shared_ptr<PairedDeviceStoring> store,
                               PairingServiceOptions options)
    : strand_(asio::make_strand(std::move(executor))),
      pool_(pool),
      store_(std::move(store)),
      options_(std::move(options)),
      gate_(std::make_unique<SerialGate>(strand_)) {
    rotateSecrets();
}

PairingService::~PairingService() = default;

void PairingService::rotateSecrets() {
    currentPIN_ = PINGenerator::generatePIN(options_.random);
    currentPairingCode_ = PairingCodeGenerator::generateCode(options_.random);
}

// Runs with the gate held.
Task<void> PairingService::loadIfNeeded() {
    if (loaded_) co_return;
    auto store = store_;
    // Named first: GCC 12 destroys a lambda temporary inside co_await twice.
    auto load = [store] { return store->load(); };
    pairedDevices_ = co_await runBlocking(pool_, std::move(load));
    loaded_ = true;
    publishTokens();
}

void PairingService::publishTokens() {
    std::vector<std::string> tokens;
    tokens.reserve(pairedDevices_.size());
    for (const PairedDevice& device : pairedDevices_) tokens.push_back(device.token.value);
    const std::lock_guard lock(tokensMutex_);
    publishedTokens_ = std::move(tokens);
}

std::optional<bool> PairingService::isPairedTokenNow(std::string_view token) const {
    const std::lock_guard lock(tokensMutex_);
    if (!publishedTokens_) return std::nullopt;
    return std::find(publishedTokens_->begin(), publishedTokens_->end(), token) !=
           publishedTokens_->end();
}

SecretCheck PairingService::check(PairingMethod method, const std::string& secret) {
    if (method == PairingMethod::qr) {
        return PairingSecret::constantTimeEquals(secret, currentPairingCode_)
                   ? SecretCheck::accepted
                   : SecretCheck::invalidCode;
    }
    switch (engine_.checkPIN(secret, currentPIN_).kind) {
        case PairingEngine::PINCheckResult::Kind::accepted:
            return SecretCheck::accepted;
        case PairingEngine::PINCheckResult::Kind::invalidPIN:
            return SecretCheck::invalidPIN;
        case PairingEngine::PINCheckResult::Kind::lockout:
            return SecretCheck::lockout;
    }
    return SecretCheck::lockout;
}

Task<PairingResponse> PairingService::handlePairRequest(PairRequestPayload request,
                                                        Uuid messageId) {
    auto operation = [](PairingService* self, PairRequestPayload request,
                        Uuid id) -> Task<PairingResponse> {
        auto pass = co_await self->gate_->enter();
        co_await self->loadIfNeeded();

        if (request.method == PairingMethod::pin && self->engine_.isLockedOut()) {
            co_return failure(PairingFailureReason::lockout, lockoutMessage, id);
        }
        const bool knownPhone =
            std::any_of(self->pairedDevices_.begin(), self->pairedDevices_.end(),
                        [&](const PairedDevice& device) { return device.id == request.deviceId; });
        if (!knownPhone && !self->pairedDevices_.empty() && !self->replacementPairingEnabled_) {
            co_return failure(PairingFailureReason::alreadyPaired, alreadyPairedMessage, id);
        }
        switch (self->check(request.method, request.secret)) {
            case SecretCheck::invalidPIN:
                co_return failure(PairingFailureReason::invalidPIN, invalidPINMessage, id);
            case SecretCheck::invalidCode:
                co_return failure(PairingFailureReason::invalidCode, invalidCodeMessage, id);
            case SecretCheck::lockout:
                co_return failure(PairingFailureReason::lockout, lockoutMessage, id);
            case SecretCheck::accepted:
                break;
        }

        // One phone at a time: the new device replaces every earlier one.
        DeviceToken token = DeviceTokenFactory::makeToken(self->options_.random);
        // (Built without a braced list: GCC 12 mishandles std::initializer_list temporaries
        // inside coroutines.)
        std::vector<PairedDevice> devices;
        devices.push_back(PairedDevice{
            .id = request.deviceId,
            .name = std::move(request.deviceName),
            .token = token,
            .pairedAt = self->options_.now(),
        });
        auto store = self->store_;
        bool saved = true;
        try {
            auto save = [store, devices] { store->save(devices); };
            co_await runBlocking(self->pool_, std::move(save));
        } catch (const std::exception&) {
            saved = false;
        }
        if (!saved) {
            // The earlier list stays: nobody got the new token, and the phone that was paired
            // (still paired in the store) keeps working.
            throw PairingServiceError(PairingServiceErrorCode::persistenceFailed);
        }

        self->pairedDevices_ = std::move(devices);
        self->publishTokens();
        self->replacementPairingEnabled_ = false;
        self->rotateSecrets();
        self->engine_.reset();
        co_return PairingResponse{MessageFactory::pairOK(std::move(token.value), id)};
    };
    auto task = operation(this, std::move(request), messageId);
    co_return co_await onStrand(strand_, std::move(task));
}

Task<SecretCheck> PairingService::verifySecret(PairingMethod method, std::string secret) {
    auto operation = [](PairingService* self, PairingMethod method,
                        std::string secret) -> Task<SecretCheck> {
        auto pass = co_await self->gate_->enter();
        co_await self->loadIfNeeded();
        co_return self->check(method, secret);
    };
    auto task = operation(this, method, std::move(secret));
    co_return co_await onStrand(strand_, std::move(task));
}

Task<std::optional<PairedDevice>> PairingService::deviceForToken(std::string token) {
    auto operation = [](PairingService* self,
                        std::string token) -> Task<std::optional<PairedDevice>> {
        auto pass = co_await self->gate_->enter();
        co_await self->loadIfNeeded();
        for (const PairedDevice& device : self->pairedDevices_) {
            if (device.token.value == token) co_return device;
        }
        co_return std::nullopt;
    };
    auto task = operation(this, std::move(token));
    co_return co_await onStrand(strand_, std::move(task));
}

Task<void> PairingService::unpair() {
    auto operation = [](PairingService* self) -> Task<void> {
        auto pass = co_await self->gate_->enter();
        co_await self->loadIfNeeded();
        self->pairedDevices_.clear();
        self->publishTokens();
        self->replacementPairingEnabled_ = false;
        auto store = self->store_;
        auto clear = [store] { store->clear(); };
        co_await runBlocking(self->pool_, std::move(clear));
        self->rotateSecrets();
        self->engine_.reset();
    };
    auto task = operation(this);
    co_await onStrand(strand_, std::move(task));
}

Task<void> PairingService::enableReplacementPairing() {
    auto operation = [](PairingService* self) -> Task<void> {
        auto pass = co_await self->gate_->enter();
        co_await self->loadIfNeeded();
        self->rotateSecrets();
        self->engine_.reset();
        self->replacementPairingEnabled_ = true;
    };
    auto task = operation(this);
    co_await onStrand(strand_, std::move(task));
}

Task<void> PairingService::disableReplacementPairing() {
    auto operation = [](PairingService* self) -> Task<void> {
        auto pass = co_await self->gate_->enter();
        co_await self->loadIfNeeded();
        self->replacementPairingEnabled_ = false;
    };
    auto task = operation(this);
    co_await onStrand(strand_, std::move(task));
}

Task<PairingState> PairingService::state() {
    auto operation = [](PairingService* self) -> Task<PairingState> {
        auto pass = co_await self->gate_->enter();
        co_await self->loadIfNeeded();
        co_return PairingState{
            .currentPIN = self->currentPIN_,
            .currentPairingCode = self->currentPairingCode_,
            .pairedDevices = self->pairedDevices_,
            .replacementPairingEnabled = self->replacementPairingEnabled_,
            .failedAttempts = self->engine_.failedAttempts,
        };
    };
    auto task = operation(this);
    co_return co_await onStrand(strand_, std::move(task));
}

Task<void> PairingService::retryPreferredStore() {
    auto store = store_;
    if (!store->waitsForPreferredStore()) co_return;
    auto probe = [store] { return store->preferredStoreAnswers(); };
    const bool answers = co_await runBlocking(pool_, std::move(probe));
    if (!answers) co_return;
    auto operation = [](PairingService* self) -> Task<void> {
        auto pass = co_await self->gate_->enter();
        auto store = self->store_;
        auto move = [store] { return store->moveToPreferredStore(); };
        auto devices = co_await runBlocking(self->pool_, std::move(move));
        if (devices) {
            self->pairedDevices_ = std::move(*devices);
            self->loaded_ = true;
            self->publishTokens();
        }
    };
    auto task = operation(this);
    co_await onStrand(strand_, std::move(task));
}

}  // namespace velopad
