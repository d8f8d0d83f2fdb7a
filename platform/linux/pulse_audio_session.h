#pragma once
// One short-lived connection to the user's PulseAudio server, driven by a private main loop on
// the calling thread. Every wait is bounded, so a stalled server costs at most `timeout` per step.

#include <pulse/context.h>
#include <pulse/mainloop.h>
#include <pulse/volume.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace velopad {

struct PulseSinkState {
    pa_cvolume volume{};
    bool muted = false;
};

// The outcome of one request: the server's answer, or the library's error number.
template <class T>
struct PulseReply {
    std::optional<T> value;
    int error = 0;  // PA_ERR_* when `value` is empty
};

class PulseAudioSession {
  public:
    // Connects without spawning a server. `connected()` tells whether it worked.
    explicit PulseAudioSession(std::chrono::milliseconds timeout);
    ~PulseAudioSession();
    PulseAudioSession(const PulseAudioSession&) = delete;
    PulseAudioSession& operator=(const PulseAudioSession&) = delete;

    [[nodiscard]] bool connected() const noexcept { return connected_; }

    // The default sink's name; an empty string when the server has none.
    [[nodiscard]] PulseReply<std::string> defaultSinkName();
    // Volume and mute of the named sink; error PA_ERR_NOENTITY when there is no such sink.
    [[nodiscard]] PulseReply<PulseSinkState> sinkState(const std::string& name);
    // Returns 0 on success, otherwise the library's error number.
    [[nodiscard]] int setSinkVolume(const std::string& name, const pa_cvolume& volume);
    [[nodiscard]] int setSinkMute(const std::string& name, bool muted);

  private:
    // Runs the loop until `done` holds; false on timeout or a broken connection.
    bool iterateUntil(const std::function<bool()>& done);
    // Waits for `operation` (which may be null) and releases it; returns an error number or 0.
    int finish(pa_operation* operation, const bool& answered);
    [[nodiscard]] int lastError() const;

    std::chrono::milliseconds timeout_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool connected_ = false;
};

}  // namespace velopad
