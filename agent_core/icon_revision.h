#pragma once
// The revision tag of an icon: the lower-case hexadecimal SHA-256 of its PNG bytes (64
// characters). It changes exactly when the bytes change.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velopad {

using PngBytes = std::vector<std::uint8_t>;

[[nodiscard]] std::string iconRevision(std::span<const std::uint8_t> png);

// An icon as it is sent to the phone.
struct IconPng {
    std::string revision;
    PngBytes pngData;

    friend bool operator==(const IconPng&, const IconPng&) = default;
};

}  // namespace velopad
