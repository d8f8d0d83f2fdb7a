#include "tests/support/pulse_audio_server.h"

#include <sys/wait.h>

#include <regex>
#include <stdexcept>

#include "tests/support/child_process.h"

namespace velopad::testing {

PulseAudioServer::PulseAudioServer(Sandbox& sandbox) {
    sandbox.setEnv("PULSE_SERVER", std::nullopt);
    sandbox.setEnv("DISPLAY", std::nullopt);  // libpulse would also look for a server on X11
    pid_ = spawnProcess(
        {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
         "--system=no", "--use-pid-file=no", "--load=module-native-protocol-unix",
         "--load=module-null-sink sink_name=test", "--log-target=stderr"},
        {}, std::nullopt, true);
    bool exited = false;
    const bool up = waitUntil([&] {
        exited = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
        return exited || (std::filesystem::exists(sandbox.runtimeDir() / "pulse" / "native") &&
                          runCapturingOutput({"pactl", "get-default-sink"}).first == 0);
    });
    if (exited) pid_ = -1;
    if (!up || exited) {
        stopChild(pid_);
        throw std::runtime_error("pulseaudio did not come up");
    }
}

PulseAudioServer::~PulseAudioServer() { stopChild(pid_); }

std::string PulseAudioServer::pactl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto [status, output] = runCapturingOutput(argv);
    if (status != 0) throw std::runtime_error("pactl failed: " + arguments.front());
    return output;
}

std::vector<long> PulseAudioServer::sinkVolumes(const std::string& sink) const {
    // "Volume: front-left: 63570 /  97% / -0.79 dB,   front-right: 63570 / ..."
    const std::string output = pactl({"get-sink-volume", sink});
    static const std::regex channel(R"(:\s*(\d+)\s*/)");
    std::vector<long> volumes;
    for (std::sregex_iterator it(output.begin(), output.end(), channel), end; it != end; ++it) {
        volumes.push_back(std::stol((*it)[1]));
    }
    return volumes;
}

bool PulseAudioServer::sinkMuted(const std::string& sink) const {
    return pactl({"get-sink-mute", sink}).find("yes") != std::string::npos;
}

void PulseAudioServer::setSinkVolume(const std::string& value, const std::string& sink) const {
    pactl({"set-sink-volume", sink, value});
}

void PulseAudioServer::setSinkMuted(bool muted, const std::string& sink) const {
    pactl({"set-sink-mute", sink, muted ? "1" : "0"});
}

}  // namespace velopad::testing
