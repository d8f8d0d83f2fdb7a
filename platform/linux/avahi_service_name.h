#pragma once
// Fitting a computer name to a DNS-SD service instance name.

#include <cstddef>
#include <string>
#include <string_view>

namespace velopad {

// A DNS-SD instance name is one DNS label: at most 63 bytes of UTF-8.
inline constexpr std::size_t maxServiceNameBytes = 63;

// `name` as a registrable instance name: bytes that are not UTF-8 (and NUL) become U+FFFD, the
// text is cut after the last whole character that fits in 63 bytes, and an empty name becomes
// "Velopad Mac". A name that already fits is returned unchanged.
std::string dnsSdServiceName(std::string_view name);

}  // namespace velopad
