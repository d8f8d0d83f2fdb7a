#include "platform/linux/pulse_audio_volume_controller.h"

#include <pulse/def.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/linux/pulse_audio_session.h"
#include "platform/linux/pulse_audio_volume_error.h"

namespace velopad {
namespace {

using Code = PulseAudioVolumeErrorCode;

struct OutputDevice {
    std::string sinkName;
};

// No server, a server without a default sink, or a default sink that has gone away all mean
// there is no output device to act on.
OutputDevice defaultOutputDevice(PulseAudioSession& session) {
    if (!session.connected()) {
        throw PulseAudioVolumeError(Code::noOutputDevice);
    }
    const auto name = session.defaultSinkName();
    if (!name.value || name.value->empty()) {
        throw PulseAudioVolumeError(Code::noOutputDevice);
    }
    return {*name.value};
}

PulseSinkState readSink(PulseAudioSession& session, const OutputDevice& device, Code failure) {
    auto state = session.sinkState(device.sinkName);
    if (!state.value) {
        if (state.error == PA_ERR_NOENTITY) {
            throw PulseAudioVolumeError(Code::noOutputDevice);
        }
        throw PulseAudioVolumeError(failure, state.error);
    }
    return *state.value;
}

// The level a volume key acts on: the loudest channel, as desktop volume controls show it.
float scalarVolume(const pa_cvolume& volume) {
    return static_cast<float>(pa_cvolume_max(&volume)) / static_cast<float>(PA_VOLUME_NORM);
}

// Sets the loudest channel to `scalar` (0…1) and scales the others with it, so the balance
// between channels is kept. A level above zero also un-mutes.
void setVolume(PulseAudioSession& session, const PulseSinkState& current, float scalar) {
    const OutputDevice device = defaultOutputDevice(session);
    const float clamped = std::clamp(scalar, 0.0F, 1.0F);
    const auto raw =
        static_cast<pa_volume_t>(std::lround(clamped * static_cast<float>(PA_VOLUME_NORM)));
    pa_cvolume volume = current.volume;
    if (!pa_cvolume_valid(&volume)) {
        pa_cvolume_set(&volume, 1, raw);
    } else {
        pa_cvolume_scale(&volume, raw);  // every channel at `raw` when all were silent
    }
    if (const int error = session.setSinkVolume(device.sinkName, volume); error != 0) {
        throw PulseAudioVolumeError(Code::writeVolumeFailed, error);
    }
    if (clamped > 0.0F) {
        if (const int error = session.setSinkMute(device.sinkName, false); error != 0) {
            throw PulseAudioVolumeError(Code::writeMuteFailed, error);
        }
    }
}

}  // namespace

PulseAudioVolumeController::PulseAudioVolumeController(float step,
                                                       std::chrono::milliseconds timeout)
    : step_(step), timeout_(timeout) {}

void PulseAudioVolumeController::volumeUp() { changeVolumeBy(step_); }

void PulseAudioVolumeController::volumeDown() { changeVolumeBy(-step_); }

void PulseAudioVolumeController::changeVolumeBy(float delta) {
    PulseAudioSession session(timeout_);
    const OutputDevice device = defaultOutputDevice(session);
    const PulseSinkState state = readSink(session, device, Code::readVolumeFailed);
    const float current = scalarVolume(state.volume);
    // Desktops let the volume go past 100 %. A key never moves it the wrong way: "up" above
    // 100 % keeps the level (and still un-mutes), "down" from there goes one step below 100 %.
    if (delta > 0 && current > 1.0F) {
        if (const int error = session.setSinkMute(device.sinkName, false); error != 0) {
            throw PulseAudioVolumeError(Code::writeMuteFailed, error);
        }
        return;
    }
    const float next = std::min(current, 1.0F) + delta;
    setVolume(session, state, next);
}

void PulseAudioVolumeController::toggleMute() {
    PulseAudioSession session(timeout_);
    const OutputDevice device = defaultOutputDevice(session);
    const PulseSinkState state = readSink(session, device, Code::readMuteFailed);
    if (const int error = session.setSinkMute(device.sinkName, !state.muted); error != 0) {
        throw PulseAudioVolumeError(Code::writeMuteFailed, error);
    }
}

}  // namespace velopad
