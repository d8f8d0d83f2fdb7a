#include "platform/linux/pulse_audio_session.h"

#include <pulse/def.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>

#include <algorithm>

namespace velopad {
namespace {

using Clock = std::chrono::steady_clock;

struct ServerInfoCall {
    bool done = false;
    std::string defaultSink;
};

struct SinkInfoCall {
    bool done = false;
    bool found = false;
    bool failed = false;
    PulseSinkState state;
};

struct SuccessCall {
    bool done = false;
    bool succeeded = false;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* call = static_cast<ServerInfoCall*>(userdata);
    if (info != nullptr && info->default_sink_name != nullptr) {
        call->defaultSink = info->default_sink_name;
    }
    call->done = true;
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* call = static_cast<SinkInfoCall*>(userdata);
    if (eol < 0) {
        call->failed = true;
        call->done = true;
    } else if (eol > 0) {
        call->done = true;
    } else if (info != nullptr && !call->found) {
        call->found = true;
        call->state.volume = info->volume;
        call->state.muted = info->mute != 0;
    }
}

void onSuccess(pa_context*, int success, void* userdata) {
    auto* call = static_cast<SuccessCall*>(userdata);
    call->succeeded = success != 0;
    call->done = true;
}

}  // namespace

PulseAudioSession::PulseAudioSession(std::chrono::milliseconds timeout) : timeout_(timeout) {
    loop_ = pa_mainloop_new();
    if (loop_ == nullptr) {
        return;
    }
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "Velopad Agent");
    if (context_ == nullptr) {
        return;
    }
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return;
    }
    bool gaveUp = false;
    iterateUntil([&] {
        const pa_context_state_t state = pa_context_get_state(context_);
        gaveUp = !PA_CONTEXT_IS_GOOD(state);
        return state == PA_CONTEXT_READY || gaveUp;
    });
    connected_ = !gaveUp && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

PulseAudioSession::~PulseAudioSession() {
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_ != nullptr) {
        pa_mainloop_free(loop_);
    }
}

bool PulseAudioSession::iterateUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + timeout_;
    while (!done()) {
        if (context_ != nullptr && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            return false;
        }
        const auto remaining =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (remaining.count() <= 0) {
            return false;
        }
        if (pa_mainloop_prepare(
                loop_, static_cast<int>(std::min<long long>(remaining.count(), 1'000'000))) < 0 ||
            pa_mainloop_poll(loop_) < 0 || pa_mainloop_dispatch(loop_) < 0) {
            return false;
        }
    }
    return true;
}

int PulseAudioSession::lastError() const {
    const int error = context_ != nullptr ? pa_context_errno(context_) : PA_ERR_CONNECTIONREFUSED;
    return error != PA_OK ? error : PA_ERR_UNKNOWN;
}

int PulseAudioSession::finish(pa_operation* operation, const bool& answered) {
    if (operation == nullptr) {
        return lastError();
    }
    const bool completed = iterateUntil(
        [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    if (!completed) {
        pa_operation_cancel(operation);
    }
    pa_operation_unref(operation);
    if (!completed) {
        return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ? PA_ERR_TIMEOUT : lastError();
    }
    return answered ? 0 : lastError();
}

PulseReply<std::string> PulseAudioSession::defaultSinkName() {
    ServerInfoCall call;
    const int error = finish(pa_context_get_server_info(context_, onServerInfo, &call), call.done);
    if (error != 0) {
        return {std::nullopt, error};
    }
    return {call.defaultSink, 0};
}

PulseReply<PulseSinkState> PulseAudioSession::sinkState(const std::string& name) {
    SinkInfoCall call;
    const int error = finish(
        pa_context_get_sink_info_by_name(context_, name.c_str(), onSinkInfo, &call), call.done);
    if (error != 0) {
        return {std::nullopt, error};
    }
    if (!call.found) {
        return {std::nullopt, call.failed ? lastError() : PA_ERR_NOENTITY};
    }
    return {call.state, 0};
}

int PulseAudioSession::setSinkVolume(const std::string& name, const pa_cvolume& volume) {
    SuccessCall call;
    const int error = finish(
        pa_context_set_sink_volume_by_name(context_, name.c_str(), &volume, onSuccess, &call),
        call.done);
    return error != 0 ? error : (call.succeeded ? 0 : lastError());
}

int PulseAudioSession::setSinkMute(const std::string& name, bool muted) {
    SuccessCall call;
    const int error = finish(
        pa_context_set_sink_mute_by_name(context_, name.c_str(), muted ? 1 : 0, onSuccess, &call),
        call.done);
    return error != 0 ? error : (call.succeeded ? 0 : lastError());
}

}  // namespace velopad
