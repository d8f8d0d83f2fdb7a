#include "protocol/device_token_factory.h"

#include "protocol/uuid.h"

namespace velopad::DeviceTokenFactory {

DeviceToken makeToken(const RandomSource& source) {
    Uuid::Bytes bytes{};
    fillRandom(source, bytes);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return DeviceToken{Uuid(bytes).toString()};
}

}  // namespace velopad::DeviceTokenFactory
