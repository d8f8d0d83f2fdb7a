#pragma once
// Six-digit PINs for pairing by hand.

#include <cstdint>
#include <string>

#include "protocol/secure_random.h"

namespace velopad::PINGenerator {

// A new uniformly distributed PIN of six decimal digits. Throws RandomSourceError when the
// random source fails.
std::string generatePIN(const RandomSource& source = systemRandomSource());

// `value` as decimal text, zero-padded on the left to six digits ("000042"). Values above
// 999999 keep all their digits.
std::string formatPIN(std::uint32_t value);

}  // namespace velopad::PINGenerator
