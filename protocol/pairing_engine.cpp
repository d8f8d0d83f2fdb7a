#include "protocol/pairing_engine.h"

#include <algorithm>
#include <limits>

#include "protocol/pairing_records.h"

namespace velopad {
namespace {

constexpr int kMaxPINAttempts = HarborlinkService::maxPINAttempts;
constexpr std::size_t kPINLength = HarborlinkService::pinLength;

bool isWellFormedPIN(std::string_view pin) {
    return pin.size() == kPINLength &&
           std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// 5 minus the counter, computed wide so that no counter value can overflow.
int attemptsLeft(int failed) {
    const long long left = static_cast<long long>(kMaxPINAttempts) - failed;
    return static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
}

}  // namespace

PairingEngine::PINCheckResult PairingEngine::checkPIN(std::string_view submitted,
                                                      std::string_view expected) {
    if (isLockedOut()) return PINCheckResult::lockout();
    if (isWellFormedPIN(submitted) && submitted == expected) {
        failedAttempts = 0;
        return PINCheckResult::accepted();
    }
    ++failedAttempts;
    if (isLockedOut()) return PINCheckResult::lockout();
    return PINCheckResult::invalidPIN(attemptsLeft(failedAttempts));
}

bool PairingEngine::isLockedOut() const { return failedAttempts >= kMaxPINAttempts; }

int PairingEngine::remainingAttempts() const { return attemptsLeft(failedAttempts); }

}  // namespace velopad
