#include "protocol/pin_generator.h"

#include <array>

#include "protocol/pairing_records.h"

namespace velopad::PINGenerator {
namespace {

constexpr std::uint32_t kPINSpace = 1'000'000;  // 10^6: six decimal digits
constexpr std::size_t kPINLength = HarborlinkService::pinLength;
// The largest multiple of kPINSpace that fits in 32 bits; draws at or above it are redrawn so
// that every PIN is equally likely.
constexpr std::uint64_t kUnbiasedLimit = (std::uint64_t{1} << 32) / kPINSpace * kPINSpace;

std::uint32_t drawUInt32(const RandomSource& source) {
    std::array<std::uint8_t, 4> bytes{};
    fillRandom(source, bytes);
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

std::string generatePIN(const RandomSource& source) {
    std::uint32_t draw = drawUInt32(source);
    while (draw >= kUnbiasedLimit) draw = drawUInt32(source);
    return formatPIN(draw % kPINSpace);
}

std::string formatPIN(std::uint32_t value) {
    std::string digits = std::to_string(value);
    if (digits.size() < kPINLength) digits.insert(0, kPINLength - digits.size(), '0');
    return digits;
}

}  // namespace velopad::PINGenerator
