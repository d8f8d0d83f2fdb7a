#pragma once
// What every front end shows: a plain copy of the view model's observable fields, with the texts
// derived from them.

#include <optional>
#include <string>
#include <vector>

#include "protocol/pairing_records.h"

namespace velopad {

enum class StatusTone { connected, running, failed, starting };

struct AgentViewState {
    std::string currentPIN;
    std::string pairingQRString;
    std::string bonjourServiceName;
    std::vector<PairedDevice> pairedDevices;
    bool isLockedOut = false;
    bool isListenerRunning = false;
    std::optional<std::string> listenerError;
    bool hasConnectedPhone = false;
    std::optional<std::string> shortcutCoachMessage;
    bool isShowingPairingCode = false;
    std::optional<std::string> advertisingNotice;  // DNS-SD could not advertise the agent
    std::optional<std::string> commandError;       // the user's last command that failed

    friend bool operator==(const AgentViewState&, const AgentViewState&) = default;

    // The pairing line: paired device names, the lockout, or the invitation to scan.
    std::string pairingStatusText() const;
    // The status row and its colour.
    std::string statusText() const;
    StatusTone statusTone() const;
    // Whether the pairing block (QR code and PIN) is shown rather than the device names or the
    // lock.
    bool showsPairingBlock() const;
    // The instruction beside the QR code.
    std::string pairingInstruction() const;
};

}  // namespace velopad
