#pragma once
// Text rules shared by the Shortcuts catalog and runner: Unicode white space and line breaks
// in UTF-8 text.

#include <string>
#include <string_view>
#include <vector>

namespace velopad {

// Line feed, vertical tab, form feed, carriage return, next line (U+0085), line separator
// (U+2028) and paragraph separator (U+2029).
bool isLineBreak(char32_t character);

// The line breaks above, the tab and every Unicode space separator (U+0020, U+00A0, U+1680,
// U+2000…U+200A, U+202F, U+205F, U+3000).
bool isWhitespaceOrLineBreak(char32_t character);

// `text` without leading and trailing white space and line breaks.
std::string_view trimWhitespaceAndLineBreaks(std::string_view text);

// The pieces between line breaks, empty pieces dropped ("a\r\n\nb" gives "a", "b").
std::vector<std::string_view> splitAtLineBreaks(std::string_view text);

// ASCII letters lowered; every other byte kept.
std::string asciiLowercase(std::string_view text);

}  // namespace velopad
