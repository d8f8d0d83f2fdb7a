#pragma once
// Issuing device tokens when a pairing succeeds.

#include "protocol/pairing_records.h"
#include "protocol/secure_random.h"

namespace velopad::DeviceTokenFactory {

// A new token: the canonical upper-case text of a random version-4 UUID (36 characters).
// Throws RandomSourceError when the random source fails.
DeviceToken makeToken(const RandomSource& source = systemRandomSource());

}  // namespace velopad::DeviceTokenFactory
