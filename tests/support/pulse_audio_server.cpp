#include "tests/support/pulse_audio_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velopad::testing {
namespace {

// Runs `argv` with the current environment; returns exit status and standard output.
std::pair<int, std::string> runCapture(const std::vector<std::string>& argv) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string output;
    if (spawned == 0) {
        char buffer[4096];
        ssize_t count = 0;
        while ((count = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
            output.append(buffer, count);
    }
    ::close(pipeFds[0]);
    if (spawned != 0) throw std::runtime_error("cannot start " + argv[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace

PulseAudioServer::PulseAudioServer(Sandbox& sandbox) {
    sandbox.setEnv("PULSE_SERVER", std::nullopt);
    sandbox.setEnv("DISPLAY", std::nullopt);  // libpulse would also look for a server on X11
    // setpriv execs the server in place (same PID) and has it stopped should this test process
    // die before it can stop the server itself.
    const std::vector<std::string> argv = {"setpriv",
                                           "--pdeathsig",
                                           "TERM",
                                           "pulseaudio",
                                           "--daemonize=no",
                                           "--exit-idle-time=-1",
                                           "--disallow-exit",
                                           "-n",
                                           "--system=no",
                                           "--use-pid-file=no",
                                           "--load=module-native-protocol-unix",
                                           "--load=module-null-sink sink_name=test",
                                           "--log-target=stderr"};
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start pulseaudio");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("pulseaudio exited during start-up");
        }
        if (std::filesystem::exists(sandbox.runtimeDir() / "pulse" / "native") &&
            runCapture({"pactl", "get-default-sink"}).first == 0) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("pulseaudio did not come up");
}

PulseAudioServer::~PulseAudioServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string PulseAudioServer::pactl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto [status, output] = runCapture(argv);
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
