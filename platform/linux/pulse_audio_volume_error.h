#pragma once
// Failures of the PulseAudio volume binding, with the texts the phone shows for them.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velopad {

enum class PulseAudioVolumeErrorCode {
    readVolumeFailed,
    writeVolumeFailed,
    readMuteFailed,
    writeMuteFailed,
    noOutputDevice,
};

class PulseAudioVolumeError : public std::runtime_error {
  public:
    // `status` is the client library's error number (ignored for noOutputDevice).
    explicit PulseAudioVolumeError(PulseAudioVolumeErrorCode code, std::int32_t status = 0);

    [[nodiscard]] PulseAudioVolumeErrorCode code() const noexcept { return code_; }
    [[nodiscard]] std::int32_t status() const noexcept { return status_; }

    static std::string describe(PulseAudioVolumeErrorCode code, std::int32_t status);

  private:
    PulseAudioVolumeErrorCode code_;
    std::int32_t status_;
};

}  // namespace velopad
