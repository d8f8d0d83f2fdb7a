#include "agent_core/process_output.h"

#include <cstdint>

namespace velopad {

void ProcessOutputBuffer::append(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    const std::size_t room = limit_ - bytes_.size();
    if (bytes.size() > room) {
        truncated_ = true;
        bytes = bytes.substr(0, room);
    }
    bytes_.append(bytes);
}

std::string ProcessOutputBuffer::text() const {
    const std::size_t valid = validUtf8PrefixLength(bytes_);
    if (valid == bytes_.size()) {
        return bytes_;
    }
    // A cut in the middle of a character leaves at most three bytes of it at the end.
    if (truncated_ && bytes_.size() - valid < 4) {
        return bytes_.substr(0, valid);
    }
    return {};
}

std::size_t validUtf8PrefixLength(std::string_view bytes) {
    std::size_t index = 0;
    while (index < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[index]);
        if (lead < 0x80) {
            ++index;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t low = 0x80;  // allowed range of the second byte
        std::uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) {
                low = 0xA0;  // no overlong forms
            } else if (lead == 0xED) {
                high = 0x9F;  // no surrogates
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F;  // nothing above U+10FFFF
            }
        } else {
            return index;
        }
        if (index + length > bytes.size()) {
            return index;
        }
        for (std::size_t offset = 1; offset < length; ++offset) {
            const auto next = static_cast<std::uint8_t>(bytes[index + offset]);
            const std::uint8_t min = offset == 1 ? low : 0x80;
            const std::uint8_t max = offset == 1 ? high : 0xBF;
            if (next < min || next > max) {
                return index;
            }
        }
        index += length;
    }
    return index;
}

}  // namespace velopad
