#include "platform/linux/pulse_audio_volume_error.h"

namespace velopad {

PulseAudioVolumeError::PulseAudioVolumeError(PulseAudioVolumeErrorCode code, std::int32_t status)
    : std::runtime_error(describe(code, status)), code_(code), status_(status) {}

std::string PulseAudioVolumeError::describe(PulseAudioVolumeErrorCode code, std::int32_t status) {
    const auto withStatus = [status](const char* prefix) {
        return std::string(prefix) + std::to_string(status) + ").";
    };
    switch (code) {
        case PulseAudioVolumeErrorCode::readVolumeFailed:
            return withStatus("Could not read volume (error ");
        case PulseAudioVolumeErrorCode::writeVolumeFailed:
            return withStatus("Could not change volume (error ");
        case PulseAudioVolumeErrorCode::readMuteFailed:
            return withStatus("Could not read mute state (error ");
        case PulseAudioVolumeErrorCode::writeMuteFailed:
            return withStatus("Could not toggle mute (error ");
        case PulseAudioVolumeErrorCode::noOutputDevice:
            break;
    }
    return "No audio output device found.";
}

}  // namespace velopad
