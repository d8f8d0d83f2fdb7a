#pragma once
// Turns the launcher's outcome into the reply to the phone: "app.ok" or "app.error", carrying
// the request's id.

#include <string>
#include <variant>

#include "agent_core/app_launcher.h"
#include "agent_core/async.h"
#include "protocol/payloads.h"
#include "protocol/uuid.h"
#include "protocol/wire_message.h"

namespace velopad {

using AppMessageResponse = std::variant<WireMessage<AppOKPayload>, WireMessage<AppErrorPayload>>;

// The reply for `outcome` to the request `messageId`.
AppMessageResponse appMessageResponse(const AppLauncherOutcome& outcome, Uuid messageId);

// The reply's JSON text through the shared codec. Throws WireCodecException.
std::string encodeAppMessageResponse(const AppMessageResponse& response);

struct AppMessageHandler {
    AppLauncher launcher;

    Task<AppMessageResponse> handleLaunch(std::string bundleId, Uuid messageId) const;
    Task<AppMessageResponse> handleFocus(std::string bundleId, Uuid messageId) const;
};

}  // namespace velopad
