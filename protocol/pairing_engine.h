#pragma once
// Counting failed PIN attempts and locking PIN pairing after too many.

#include <string_view>

namespace velopad {

struct PairingEngine {
    // The outcome of one PIN check.
    struct PINCheckResult {
        enum class Kind { invalidPIN, accepted, lockout };

        Kind kind = Kind::invalidPIN;
        int remainingAttempts = 0;  // meaningful for invalidPIN only

        static PINCheckResult invalidPIN(int remaining) { return {Kind::invalidPIN, remaining}; }
        static PINCheckResult accepted() { return {Kind::accepted, 0}; }
        static PINCheckResult lockout() { return {Kind::lockout, 0}; }

        bool operator==(const PINCheckResult&) const = default;
    };

    // PIN attempts that failed since the last success or reset.
    int failedAttempts = 0;

    // Checks `submitted` against `expected`. Once locked out nothing is compared and the
    // counter stays; otherwise a wrong, short, long or non-digit submission counts as a
    // failure and a match resets the counter.
    PINCheckResult checkPIN(std::string_view submitted, std::string_view expected);

    bool isLockedOut() const;
    int remainingAttempts() const;  // never below 0
    void reset() { failedAttempts = 0; }

    bool operator==(const PairingEngine&) const = default;
};

}  // namespace velopad
