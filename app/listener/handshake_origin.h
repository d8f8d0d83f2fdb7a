#pragma once
// Browsers put an Origin header on every WebSocket handshake; the phone app does not. A web page
// open anywhere must not reach the agent (it could use up the PIN attempts or hold connections),
// so a handshake is refused when its Origin names a site other than the host it connects to.

#include <string_view>

namespace velopad {

// True when the handshake may proceed: no Origin at all (native clients), or an Origin whose
// host and port are the Host header's (the agent's own page, should it ever serve one). An
// Origin of "null" (sandboxed pages, local files) or one that cannot be read is refused.
bool isHandshakeOriginAllowed(std::string_view origin, std::string_view host);

}  // namespace velopad
