#pragma once
// Volume keys bound to the default sink of the user's PulseAudio (or PipeWire-Pulse) server.
// The scalar volume 0…1 is the sink's loudest channel over PA_VOLUME_NORM; the other channels
// follow it in proportion, so the balance is kept.

#include <chrono>

#include "agent_core/volume_controlling.h"

namespace velopad {

class PulseAudioVolumeController final : public VolumeControlling {
  public:
    explicit PulseAudioVolumeController(
        float step = kVolumeStep, std::chrono::milliseconds timeout = std::chrono::seconds(2));

    // Throw PulseAudioVolumeError. Each call opens its own connection and looks the default
    // sink up afresh, so a change of output device between presses is followed.
    void volumeUp() override;
    void volumeDown() override;
    void toggleMute() override;

    [[nodiscard]] float step() const noexcept { return step_; }

  private:
    void changeVolumeBy(float delta);

    float step_;
    std::chrono::milliseconds timeout_;
};

}  // namespace velopad
