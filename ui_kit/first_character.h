#pragma once
// The first user-perceived character of a UTF-8 text, for keys that show a letter.

#include <string>
#include <string_view>

namespace velopad {

// The first character of `text`: its first code point together with the combining marks,
// variation selectors, skin-tone modifiers and zero-width-joined code points that follow it
// (and both halves of a flag). Empty for empty text; an invalid leading byte gives U+FFFD.
std::string firstCharacter(std::string_view text);

}  // namespace velopad
