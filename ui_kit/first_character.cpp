#include "ui_kit/first_character.h"

#include <cstdint>
#include <optional>

namespace velopad {
namespace {

struct CodePoint {
    char32_t value;
    std::size_t length;  // bytes
};

// Decodes one well-formed UTF-8 sequence at the start of `text`.
std::optional<CodePoint> decode(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const auto lead = static_cast<std::uint8_t>(text[0]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) return CodePoint{lead, 1};
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<std::uint8_t>(text[i]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        value = value << 6 | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    return CodePoint{value, length};
}

bool inRange(char32_t c, char32_t low, char32_t high) { return c >= low && c <= high; }

// Code points that attach to the character before them.
bool extendsPrevious(char32_t c) {
    return inRange(c, 0x0300, 0x036F) || inRange(c, 0x1AB0, 0x1AFF) || inRange(c, 0x1DC0, 0x1DFF) ||
           inRange(c, 0x20D0, 0x20FF) || inRange(c, 0xFE20, 0xFE2F) || inRange(c, 0xFE00, 0xFE0F) ||
           inRange(c, 0xE0100, 0xE01EF) || inRange(c, 0x1F3FB, 0x1F3FF) ||
           inRange(c, 0xE0020, 0xE007F);
}

constexpr char32_t kZeroWidthJoiner = 0x200D;

bool isRegionalIndicator(char32_t c) { return inRange(c, 0x1F1E6, 0x1F1FF); }

}  // namespace

std::string firstCharacter(std::string_view text) {
    if (text.empty()) return {};
    const auto first = decode(text);
    if (!first) return "\uFFFD";
    std::size_t end = first->length;
    bool joinNext = false;
    if (isRegionalIndicator(first->value)) {
        if (auto second = decode(text.substr(end)); second && isRegionalIndicator(second->value)) {
            end += second->length;
        }
    }
    while (auto next = decode(text.substr(end))) {
        if (joinNext) {
            joinNext = false;
        } else if (next->value == kZeroWidthJoiner) {
            joinNext = true;
        } else if (!extendsPrevious(next->value)) {
            break;
        }
        end += next->length;
    }
    return std::string(text.substr(0, end));
}

}  // namespace velopad
