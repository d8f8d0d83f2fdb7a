#include "protocol/builtin_action.h"

namespace velopad {
namespace {

struct ActionInfo {
    std::string_view rawValue;
    std::string_view label;
    std::string_view symbolName;
};

constexpr ActionInfo info(BuiltinAction action) {
    switch (action) {
        case BuiltinAction::volumeDown:
            return {"system.volume.down", "Vol \u2212", "speaker.wave.1.fill"};
        case BuiltinAction::volumeUp:
            return {"system.volume.up", "Vol +", "speaker.wave.3.fill"};
        case BuiltinAction::volumeMute:
            return {"system.volume.mute", "Mute", "speaker.slash.fill"};
    }
    return {};
}

}  // namespace

std::string_view rawValue(BuiltinAction action) { return info(action).rawValue; }
std::string_view label(BuiltinAction action) { return info(action).label; }
std::string_view symbolName(BuiltinAction action) { return info(action).symbolName; }

std::optional<BuiltinAction> builtinActionFromRawValue(std::string_view raw) {
    for (BuiltinAction action : allBuiltinActions) {
        if (rawValue(action) == raw) return action;
    }
    return std::nullopt;
}

}  // namespace velopad
