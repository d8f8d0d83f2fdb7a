#include "protocol/pairing_code_generator.h"

#include <array>
#include <cstdint>
#include <span>

#include "protocol/pairing_records.h"

namespace velopad::PairingCodeGenerator {
namespace {

constexpr std::size_t kCodeByteCount = HarborlinkService::pairingCodeByteCount;
constexpr char kBase64URL[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Base64 with the URL-safe alphabet (RFC 4648 section 5) and no padding.
std::string base64URLUnpadded(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() * 4 + 2) / 3);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out += kBase64URL[(group >> shift) & 0x3F];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (rest == 2) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        out += kBase64URL[(group >> 18) & 0x3F];
        out += kBase64URL[(group >> 12) & 0x3F];
        if (rest == 2) out += kBase64URL[(group >> 6) & 0x3F];
    }
    return out;
}

}  // namespace

std::string generateCode(const RandomSource& source) {
    std::array<std::uint8_t, kCodeByteCount> bytes{};
    fillRandom(source, bytes);
    return base64URLUnpadded(bytes);
}

}  // namespace velopad::PairingCodeGenerator
