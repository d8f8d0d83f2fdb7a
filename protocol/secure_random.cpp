#include "protocol/secure_random.h"

#include <openssl/rand.h>

#include <climits>

namespace velopad {

RandomSource systemRandomSource() {
    return [](std::span<std::uint8_t> bytes) {
        if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return false;
        return RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) == 1;
    };
}

RandomSourceError::RandomSourceError()
    : std::runtime_error("The secure random source is unavailable.") {}

void fillRandom(const RandomSource& source, std::span<std::uint8_t> bytes) {
    if (!source || !source(bytes)) throw RandomSourceError();
}

}  // namespace velopad
