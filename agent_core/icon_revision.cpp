#include "agent_core/icon_revision.h"

#include <openssl/sha.h>

#include <array>

namespace velopad {

std::string iconRevision(std::span<const std::uint8_t> png) {
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256(png.data(), png.size(), digest.data());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const unsigned char byte : digest) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0x0F]);
    }
    return text;
}

}  // namespace velopad
