#include "app/agent_view_state.h"

namespace velopad {

std::string AgentViewState::pairingStatusText() const {
    if (!pairedDevices.empty()) {
        std::string names;
        for (const auto& device : pairedDevices) {
            if (!names.empty()) names += ", ";
            names += device.name;
        }
        return names;
    }
    if (isLockedOut) return "Pairing locked \u2014 too many failed attempts";
    return "Waiting for iPhone to scan QR";
}

std::string AgentViewState::statusText() const {
    switch (statusTone()) {
        case StatusTone::connected:
            return "iPhone connected";
        case StatusTone::running:
            return pairedDevices.empty() ? "Ready for iPhone" : "Waiting for iPhone";
        case StatusTone::failed:
            return "Connection failed";
        case StatusTone::starting:
            break;
    }
    return "Starting\u2026";
}

StatusTone AgentViewState::statusTone() const {
    if (hasConnectedPhone) return StatusTone::connected;
    if (isListenerRunning) return StatusTone::running;
    if (listenerError) return StatusTone::failed;
    return StatusTone::starting;
}

bool AgentViewState::showsPairingBlock() const {
    if (!pairedDevices.empty() && !isShowingPairingCode) return false;
    return !isLockedOut;
}

std::string AgentViewState::pairingInstruction() const {
    return pairedDevices.empty()
               ? "Open Velopad on your iPhone and tap Pair. Point the camera at this code."
               : "Scan to pair this iPhone again. This replaces the pairing on this computer.";
}

}  // namespace velopad
