#include "protocol/pairing_secret.h"

#include <cstdint>

namespace velopad::PairingSecret {

bool constantTimeEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    // Every byte pair is visited; the volatile accumulator keeps the compiler from
    // short-circuiting on the first difference.
    volatile std::uint8_t difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference = difference | static_cast<std::uint8_t>(static_cast<std::uint8_t>(a[i]) ^
                                                            static_cast<std::uint8_t>(b[i]));
    }
    return difference == 0;
}

}  // namespace velopad::PairingSecret
