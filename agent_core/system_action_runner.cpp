#include "agent_core/system_action_runner.h"

#include <exception>
#include <utility>

#include "protocol/builtin_action.h"

namespace velopad {

SystemActionResult SystemActionResult::ok(std::string actionId) {
    return {Kind::ok, std::move(actionId), ActionErrorCode::failed, std::nullopt};
}

SystemActionResult SystemActionResult::error(std::string actionId, ActionErrorCode code,
                                             std::string message) {
    return {Kind::error, std::move(actionId), code, std::move(message)};
}

SystemActionRunner::SystemActionRunner(std::shared_ptr<VolumeControlling> volume)
    : volume_(std::move(volume)) {}

SystemActionResult SystemActionRunner::perform(const std::string& actionId) const {
    const auto action = builtinActionFromRawValue(actionId);
    if (!action) {
        return SystemActionResult::error(actionId, ActionErrorCode::unknown, "Unknown action");
    }
    if (!volume_) {
        return SystemActionResult::error(actionId, ActionErrorCode::failed,
                                         "No audio output device found.");
    }
    try {
        switch (*action) {
            case BuiltinAction::volumeUp:
                volume_->volumeUp();
                break;
            case BuiltinAction::volumeDown:
                volume_->volumeDown();
                break;
            case BuiltinAction::volumeMute:
                volume_->toggleMute();
                break;
        }
    } catch (const std::exception& failure) {
        return SystemActionResult::error(actionId, ActionErrorCode::failed, failure.what());
    } catch (...) {
        return SystemActionResult::error(actionId, ActionErrorCode::failed, "The action failed.");
    }
    return SystemActionResult::ok(actionId);
}

}  // namespace velopad
