#pragma once
// UTF-8 validity (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF).

#include <string_view>

namespace velopad {

bool isValidUtf8(std::string_view bytes);

}  // namespace velopad
