#include "platform/linux/avahi_service_name.h"

#include "platform/linux/host_name.h"
#include "protocol/utf8.h"

namespace velopad {
namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

// Length of the UTF-8 sequence that `lead` starts, or 0 when it cannot start one.
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

}  // namespace

std::string dnsSdServiceName(std::string_view name) {
    if (name.empty()) name = fallbackComputerName;
    std::string fitted;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(name[i]));
        std::string_view character;
        if (length > 0 && i + length <= name.size() && name[i] != '\0' &&
            isValidUtf8(name.substr(i, length))) {
            character = name.substr(i, length);
            i += length;
        } else {
            character = replacementCharacter;
            i += 1;
        }
        if (fitted.size() + character.size() > maxServiceNameBytes) break;
        fitted += character;
    }
    return fitted;
}

}  // namespace velopad
