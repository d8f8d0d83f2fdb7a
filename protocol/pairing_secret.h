#pragma once
// Comparison of secrets (the scanned pairing code) without leaking timing.

#include <string_view>

namespace velopad::PairingSecret {

// Whether `a` and `b` are the same UTF-8 text, byte for byte, in time that depends only on
// their byte lengths. Texts of different byte lengths are never equal, so a text carrying an
// extra combining mark never matches one without it. No normalisation is applied.
bool constantTimeEquals(std::string_view a, std::string_view b);

}  // namespace velopad::PairingSecret
