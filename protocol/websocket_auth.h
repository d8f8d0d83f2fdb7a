#pragma once
// Finding the device token among the WebSocket handshake headers.

#include <optional>
#include <span>
#include <string>
#include <utility>

namespace velopad::WebSocketAuth {

using HandshakeHeader = std::pair<std::string, std::string>;  // name, value

// The value of the first "X-Harborlink-Token" header (name compared ignoring ASCII letter
// case), exactly as received; no value when there is none. An empty value stays empty.
std::optional<std::string> tokenFromHeaders(std::span<const HandshakeHeader> headers);

}  // namespace velopad::WebSocketAuth
