#include "agent_core/shortcut_text.h"

#include <cstdint>
#include <utility>

namespace velopad {

namespace {

// The character starting at `index` and its length in bytes; a byte that does not start a
// well-formed character counts as one character of its own (never white space).
std::pair<char32_t, std::size_t> decodeAt(std::string_view text, std::size_t index) {
    const auto lead = static_cast<std::uint8_t>(text[index]);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
        return {lead, 1};
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return {0xFFFD, 1};
    }
    if (index + length > text.size()) {
        return {0xFFFD, 1};
    }
    for (std::size_t offset = 1; offset < length; ++offset) {
        const auto next = static_cast<std::uint8_t>(text[index + offset]);
        if ((next & 0xC0) != 0x80) {
            return {0xFFFD, 1};
        }
        value = (value << 6) | (next & 0x3F);
    }
    return {value, length};
}

// Start of the character that ends just before `end`.
std::size_t previousCharacterStart(std::string_view text, std::size_t end) {
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 &&
           (static_cast<std::uint8_t>(text[start]) & 0xC0) == 0x80) {
        --start;
    }
    return decodeAt(text, start).second == end - start ? start : end - 1;
}

}  // namespace

bool isLineBreak(char32_t character) {
    return (character >= 0x0A && character <= 0x0D) || character == 0x85 || character == 0x2028 ||
           character == 0x2029;
}

bool isWhitespaceOrLineBreak(char32_t character) {
    return isLineBreak(character) || character == 0x09 || character == 0x20 || character == 0xA0 ||
           character == 0x1680 || (character >= 0x2000 && character <= 0x200A) ||
           character == 0x202F || character == 0x205F || character == 0x3000;
}

std::string_view trimWhitespaceAndLineBreaks(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto [character, length] = decodeAt(text, begin);
        if (!isWhitespaceOrLineBreak(character)) {
            break;
        }
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t start = previousCharacterStart(text, end);
        if (!isWhitespaceOrLineBreak(decodeAt(text, start).first)) {
            break;
        }
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::vector<std::string_view> splitAtLineBreaks(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t pieceStart = 0;
    std::size_t index = 0;
    while (index < text.size()) {
        const auto [character, length] = decodeAt(text, index);
        if (isLineBreak(character)) {
            if (index > pieceStart) {
                pieces.push_back(text.substr(pieceStart, index - pieceStart));
            }
            pieceStart = index + length;
        }
        index += length;
    }
    if (pieceStart < text.size()) {
        pieces.push_back(text.substr(pieceStart));
    }
    return pieces;
}

std::string asciiLowercase(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lowered;
}

}  // namespace velopad
