#pragma once
// One-time pairing codes carried by the pairing QR code.

#include <string>

#include "protocol/secure_random.h"

namespace velopad::PairingCodeGenerator {

// 32 secure random bytes as unpadded base64url: 43 characters from A-Z, a-z, 0-9, "-" and "_".
// Throws RandomSourceError when the random source fails.
std::string generateCode(const RandomSource& source = systemRandomSource());

}  // namespace velopad::PairingCodeGenerator
