#pragma once
// The three output-volume operations behind the volume keys. Implementations block while they
// talk to the audio system, so callers on an actor run them on a thread pool.

namespace velopad {

class VolumeControlling {
  public:
    virtual ~VolumeControlling() = default;

    // Each operation reads the current state of the default output device and writes the new
    // one; a failure is thrown as an exception whose what() is the text shown on the phone.
    virtual void volumeUp() = 0;
    virtual void volumeDown() = 0;
    virtual void toggleMute() = 0;
};

// The change in scalar volume (0…1) per key press: one sixteenth of the full range.
inline constexpr float kVolumeStep = 0.0625F;

}  // namespace velopad
