#pragma once
// The agent's single authority on pairing: the PIN and pairing code the desktop shows, the
// paired phone, the failed-PIN counter and whether a new phone may replace the paired one.
//
// An actor: every operation runs on the service's strand, one at a time and to completion
// (store I/O included, which runs on the thread pool), so a PIN check and its counter update
// are atomic with respect to other requests. The paired list is read from the store by the
// first operation. Device tokens are secrets: nothing here ever logs or prints one.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "agent_core/async.h"
#include "app/pairing/paired_device_store.h"
#include "protocol/pairing_engine.h"
#include "protocol/pairing_records.h"
#include "protocol/secure_random.h"
#include "protocol/wire_message.h"

namespace velopad {

class SerialGate;

enum class PairingServiceErrorCode {
    persistenceFailed,  // the new pairing could not be written to the store
};

class PairingServiceError : public std::runtime_error {
  public:
    explicit PairingServiceError(PairingServiceErrorCode code);
    [[nodiscard]] PairingServiceErrorCode code() const noexcept { return code_; }
    // "The new pairing could not be saved."
    static std::string describe(PairingServiceErrorCode code);

  private:
    PairingServiceErrorCode code_;
};

// The outcome of checking one offered secret.
enum class SecretCheck { accepted, invalidPIN, invalidCode, lockout };

// The answer to a pair request: "pair.ok" or "pair.fail", carrying the request's id.
struct [[nodiscard]] PairingResponse {
    std::variant<WireMessage<PairOKPayload>, WireMessage<PairFailPayload>> message;

    bool isOK() const { return message.index() == 0; }
    // The JSON text to send.
    std::string encoded() const;
};

// What the view model copies out of the service.
struct PairingState {
    std::string currentPIN;
    std::string currentPairingCode;
    std::vector<PairedDevice> pairedDevices;
    bool replacementPairingEnabled = false;
    int failedAttempts = 0;

    bool isPINPairingLocked() const { return failedAttempts >= HarborlinkService::maxPINAttempts; }
};

struct PairingServiceOptions {
    // The time recorded as `pairedAt`.
    std::function<WireDate()> now = [] { return WireDate::clock::now(); };
    // Behind PINs, pairing codes and device tokens.
    RandomSource random = systemRandomSource();
};

class PairingService {
  public:
    // No I/O here; a fresh PIN and pairing code are made at once.
    PairingService(Executor executor, asio::thread_pool& pool,
                   std::shared_ptr<PairedDeviceStoring> store, PairingServiceOptions options = {});
    ~PairingService();
    PairingService(const PairingService&) = delete;
    PairingService& operator=(const PairingService&) = delete;

    // "pair.ok" with a new token, or "pair.fail" with its reason and message. Throws
    // PairingServiceError (persistenceFailed) when the new pairing cannot be stored; the
    // paired list is then what it was before the request.
    Task<PairingResponse> handlePairRequest(PairRequestPayload request, Uuid messageId);

    // Checks a secret like a pair request would; a PIN check counts toward the lockout.
    Task<SecretCheck> verifySecret(PairingMethod method, std::string secret);

    // The paired device whose token is exactly `token`, if any.
    Task<std::optional<PairedDevice>> deviceForToken(std::string token);
    // The same question answered at once, without waiting for the service's turn: from the
    // list as it last stood between two operations. None until the list has been loaded.
    std::optional<bool> isPairedTokenNow(std::string_view token) const;

    // Forgets every paired device. Throws the store's error when clearing fails (the in-memory
    // list is empty all the same; PIN, code and counter then stay).
    Task<void> unpair();

    // Fresh PIN and code, counter reset, and the next good pair request from any phone
    // replaces the paired one.
    Task<void> enableReplacementPairing();
    // Withdraws replacement pairing; nothing else changes.
    Task<void> disableReplacementPairing();

    Task<PairingState> state();

    // When the store had to settle for its second choice and its first choice answers now,
    // moves the paired devices there and takes up the list as it then stands. Cheap when there
    // is nothing to do; the probe itself runs without holding up pairing requests.
    Task<void> retryPreferredStore();

    const Strand& strand() const { return strand_; }

  private:
    Task<void> loadIfNeeded();
    SecretCheck check(PairingMethod method, const std::string& secret);
    void rotateSecrets();
    // Called on strand_ whenever pairedDevices_ changes.
    void publishTokens();

    Strand strand_;
    asio::thread_pool& pool_;
    std::shared_ptr<PairedDeviceStoring> store_;
    PairingServiceOptions options_;
    std::unique_ptr<SerialGate> gate_;

    // Touched on strand_ only.
    bool loaded_ = false;
    PairingEngine engine_;
    std::string currentPIN_;
    std::string currentPairingCode_;
    std::vector<PairedDevice> pairedDevices_;
    bool replacementPairingEnabled_ = false;

    mutable std::mutex tokensMutex_;
    std::optional<std::vector<std::string>> publishedTokens_;  // guarded by tokensMutex_
};

}  // namespace velopad
