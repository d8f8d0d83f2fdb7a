#pragma once
// The cryptographically secure random source behind PINs, pairing codes and device tokens.
// Injectable so that a failing source can be exercised; a failure is always an error, never
// silently zero-filled output.

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>

namespace velopad {

// Fills the whole buffer with secure random bytes; returns false when the source fails.
using RandomSource = std::function<bool(std::span<std::uint8_t>)>;

// The process's secure random source (OpenSSL RAND_bytes).
RandomSource systemRandomSource();

// Raised when the random source cannot deliver; no secret is made from partial output.
class RandomSourceError : public std::runtime_error {
  public:
    RandomSourceError();
};

// Fills `bytes` from `source`, throwing RandomSourceError when it fails (or is empty).
void fillRandom(const RandomSource& source, std::span<std::uint8_t> bytes);

}  // namespace velopad
