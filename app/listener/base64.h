#pragma once

#include <string>
#include <string_view>

namespace velopad {

// Standard Base64 ("+", "/", "=" padding) without line breaks.
std::string base64Encode(std::string_view bytes);

}  // namespace velopad
