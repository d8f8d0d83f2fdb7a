#pragma once
// A private PulseAudio server for volume tests: started in a Sandbox (its own HOME and
// XDG_RUNTIME_DIR, which this process then uses too), with one null sink "test" as the default
// output. Stopped by its PID when the object ends. State is arranged and read with pactl.

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/sandbox_fixture.h"

namespace velopad::testing {

class PulseAudioServer {
  public:
    // Throws std::runtime_error when the server does not come up within a few seconds.
    explicit PulseAudioServer(Sandbox& sandbox);
    ~PulseAudioServer();
    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    // Runs pactl with `arguments`; returns its standard output, throws if it fails.
    std::string pactl(const std::vector<std::string>& arguments) const;

    // The named sink's raw channel volumes (PA_VOLUME_NORM = 65536 is 100 %) and mute state.
    std::vector<long> sinkVolumes(const std::string& sink = "test") const;
    bool sinkMuted(const std::string& sink = "test") const;

    void setSinkVolume(const std::string& value,
                       const std::string& sink = "test") const;  // "97%" or "63570"
    void setSinkMuted(bool muted, const std::string& sink = "test") const;

  private:
    pid_t pid_ = -1;
};

}  // namespace velopad::testing
