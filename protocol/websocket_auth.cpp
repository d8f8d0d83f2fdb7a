#include "protocol/websocket_auth.h"

#include <algorithm>
#include <string_view>

#include "protocol/pairing_records.h"

namespace velopad::WebSocketAuth {
namespace {

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

}  // namespace

std::optional<std::string> tokenFromHeaders(std::span<const HandshakeHeader> headers) {
    for (const auto& [name, value] : headers) {
        if (equalsIgnoringASCIICase(name, HarborlinkService::tokenHeaderName)) return value;
    }
    return std::nullopt;
}

}  // namespace velopad::WebSocketAuth
