// The PulseAudio volume binding against a private server with null sinks.

#include "platform/linux/pulse_audio_volume_controller.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>

#include "platform/linux/pulse_audio_volume_error.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

using testing::PulseAudioServer;
using testing::Sandbox;

class PulseAudioVolumeControllerTest : public ::testing::Test {
  protected:
    Sandbox sandbox;
    PulseAudioServer server{sandbox};
    PulseAudioVolumeController controller;
};

// Each key from a given level and mute state, on two channels that may be out of balance and
// above 100 %: a key never moves the level the wrong way and the channels keep their ratio.
TEST_F(PulseAudioVolumeControllerTest, KeysStepTheLevelKeepTheBalanceAndSetMute) {
    enum Key { up, down, mute };
    const struct {
        const char* left;
        const char* right;
        bool muted;
        Key key;
        std::vector<long> expected;
        bool expectedMuted;
    } cases[] = {
        {"97%", "97%", true, up, {65536, 65536}, false},      // clamps to full, unmutes
        {"32768", "32768", true, up, {36864, 36864}, false},  // + 1/16
        {"32768", "32768", true, down, {28672, 28672}, false},
        {"3%", "3%", true, down, {0, 0}, true},  // down to zero leaves mute as it was
        {"3%", "3%", false, down, {0, 0}, false},
        {"40000", "40000", false, mute, {40000, 40000}, true},  // mute keeps the level
        {"40000", "40000", true, mute, {40000, 40000}, false},
        {"98304", "65536", true, up, {98304, 65536}, false},    // 150 %: "up" leaves it
        {"98304", "49152", true, down, {61440, 30720}, false},  // 150 %: down to 93.75 %
        {"32768", "16384", true, up, {36864, 18432}, false},    // 50 % / 25 %: scaled together
        {"65536", "32768", true, up, {65536, 32768}, false},    // at 100 %: stays
        {"16384", "65536", true, down, {16384 * 61440 / 65536, 61440}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.left << " " << c.right << " key " << c.key);
        server.pactl({"set-sink-volume", "test", c.left, c.right});
        server.pactl({"set-sink-mute", "test", c.muted ? "1" : "0"});
        if (c.key == up) controller.volumeUp();
        if (c.key == down) controller.volumeDown();
        if (c.key == mute) controller.toggleMute();
        EXPECT_EQ(server.sinkVolumes(), c.expected);
        EXPECT_EQ(server.sinkMuted(), c.expectedMuted);
    }
}

TEST_F(PulseAudioVolumeControllerTest, FollowsTheDefaultSinkWhenItChanges) {
    server.pactl({"load-module", "module-null-sink", "sink_name=second"});
    server.pactl({"set-default-sink", "second"});
    server.pactl({"set-sink-volume", "test", "50%"});
    server.pactl({"set-sink-volume", "second", "32768"});
    controller.volumeUp();
    EXPECT_EQ(server.sinkVolumes("second"), (std::vector<long>{36864, 36864}));
    EXPECT_EQ(server.sinkVolumes("test"), (std::vector<long>{32768, 32768}));
}

TEST(PulseAudioWithoutServerTest, EveryKeyReportsNoOutputDeviceAndASilentServerOnlyTheTimeout) {
    Sandbox sandbox;  // an empty runtime directory: nothing to connect to
    testing::isolateFromTheDesktop(sandbox);
    PulseAudioVolumeController controller(kVolumeStep, std::chrono::milliseconds(300));
    for (auto operation :
         {&PulseAudioVolumeController::volumeUp, &PulseAudioVolumeController::volumeDown,
          &PulseAudioVolumeController::toggleMute}) {
        try {
            (controller.*operation)();
            ADD_FAILURE() << "expected a failure";
        } catch (const PulseAudioVolumeError& error) {
            EXPECT_EQ(error.code(), PulseAudioVolumeErrorCode::noOutputDevice);
            EXPECT_STREQ(error.what(), "No audio output device found.");
        }
    }

    // A socket where the server would be, accepting connections and never speaking.
    const auto socketPath = sandbox.runtimeDir() / "pulse" / "native";
    std::filesystem::create_directories(socketPath.parent_path());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(controller.volumeUp(), PulseAudioVolumeError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    ::close(listener);
}

TEST(PulseAudioVolumeErrorTest, DescribesEachFailureWithTheLibraryErrorNumber) {
    const struct {
        PulseAudioVolumeErrorCode code;
        int status;
        const char* text;
    } cases[] = {
        {PulseAudioVolumeErrorCode::readVolumeFailed, 7, "Could not read volume (error 7)."},
        {PulseAudioVolumeErrorCode::readMuteFailed, -25, "Could not read mute state (error -25)."},
        {PulseAudioVolumeErrorCode::writeMuteFailed, 11, "Could not toggle mute (error 11)."},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(PulseAudioVolumeError(c.code, c.status).what(), c.text);
    }
}

}  // namespace
}  // namespace velopad
