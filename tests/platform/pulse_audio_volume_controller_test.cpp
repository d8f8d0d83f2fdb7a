// The PulseAudio volume binding against a private server with null sinks.

#include "platform/linux/pulse_audio_volume_controller.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>

#include "platform/linux/pulse_audio_volume_error.h"
#include "tests/support/pulse_audio_server.h"

namespace velopad {
namespace {

using testing::PulseAudioServer;
using testing::Sandbox;

class PulseAudioVolumeControllerTest : public ::testing::Test {
  protected:
    Sandbox sandbox;
    PulseAudioServer server{sandbox};
    PulseAudioVolumeController controller;

    long volume(const std::string& sink = "test") const {
        const auto channels = server.sinkVolumes(sink);
        EXPECT_FALSE(channels.empty());
        long sum = 0;
        for (const long channel : channels) sum += channel;
        return channels.empty() ? -1 : sum / static_cast<long>(channels.size());
    }
};

TEST_F(PulseAudioVolumeControllerTest, UpFrom97PercentClampsToFullAndUnmutes) {
    server.setSinkVolume("97%");
    server.setSinkMuted(true);
    controller.volumeUp();
    EXPECT_EQ(volume(), 65536);
    EXPECT_FALSE(server.sinkMuted());
}

TEST_F(PulseAudioVolumeControllerTest, UpFromMutedHalfStepsOneSixteenthAndUnmutes) {
    server.setSinkVolume("32768");
    server.setSinkMuted(true);
    controller.volumeUp();
    EXPECT_EQ(volume(), 36864);  // 0.5625
    EXPECT_FALSE(server.sinkMuted());
}

TEST_F(PulseAudioVolumeControllerTest, DownToZeroLeavesMuteAsItWas) {
    for (const bool muted : {true, false}) {
        server.setSinkVolume("3%");
        server.setSinkMuted(muted);
        controller.volumeDown();
        EXPECT_EQ(volume(), 0);
        EXPECT_EQ(server.sinkMuted(), muted);
    }
}

TEST_F(PulseAudioVolumeControllerTest, DownAboveZeroUnmutes) {
    server.setSinkVolume("32768");
    server.setSinkMuted(true);
    controller.volumeDown();
    EXPECT_EQ(volume(), 28672);  // 0.4375
    EXPECT_FALSE(server.sinkMuted());
}

TEST_F(PulseAudioVolumeControllerTest, MuteTwiceRestoresTheStateAndKeepsTheVolume) {
    server.setSinkVolume("40000");
    server.setSinkMuted(false);
    controller.toggleMute();
    EXPECT_TRUE(server.sinkMuted());
    controller.toggleMute();
    EXPECT_FALSE(server.sinkMuted());
    EXPECT_EQ(volume(), 40000);
}

TEST_F(PulseAudioVolumeControllerTest, FollowsTheDefaultSinkWhenItChanges) {
    server.pactl({"load-module", "module-null-sink", "sink_name=second"});
    server.pactl({"set-default-sink", "second"});
    server.setSinkVolume("50%", "test");
    server.setSinkVolume("32768", "second");
    controller.volumeUp();
    EXPECT_EQ(volume("second"), 36864);
    EXPECT_EQ(volume("test"), 32768);
}

// Two channels out of balance, some above 100 %: a key never moves the level the wrong way and
// the channels keep their ratio.
TEST_F(PulseAudioVolumeControllerTest, KeysKeepTheBalanceAndNeverMoveTheWrongWayAbove100Percent) {
    const struct {
        const char* left;
        const char* right;
        bool up;
        std::vector<long> expected;
    } cases[] = {
        {"98304", "65536", true, {98304, 65536}},   // 150 %: "up" leaves it
        {"98304", "49152", false, {61440, 30720}},  // 150 %: "down" goes to 93.75 %
        {"32768", "16384", true, {36864, 18432}},   // 50 % / 25 %: scaled together
        {"65536", "32768", true, {65536, 32768}},   // at 100 %: stays
        {"16384", "65536", false, {16384 * 61440 / 65536, 61440}},
    };
    for (const auto& c : cases) {
        server.pactl({"set-sink-volume", "test", c.left, c.right});
        server.setSinkMuted(true);
        c.up ? controller.volumeUp() : controller.volumeDown();
        EXPECT_EQ(server.sinkVolumes(), c.expected) << c.left << " " << c.right << " " << c.up;
        EXPECT_FALSE(server.sinkMuted());
    }
}

class PulseAudioWithoutServerTest : public ::testing::Test {
  protected:
    Sandbox sandbox;  // an empty runtime directory: nothing to connect to
    void SetUp() override {
        sandbox.setEnv("PULSE_SERVER", std::nullopt);
        sandbox.setEnv("DISPLAY", std::nullopt);
    }
};

TEST_F(PulseAudioWithoutServerTest, EveryOperationReportsNoOutputDevice) {
    PulseAudioVolumeController controller;
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
}

TEST_F(PulseAudioWithoutServerTest, AServerThatNeverAnswersCostsOnlyTheTimeout) {
    // A socket where the server would be, accepting connections and never speaking.
    const auto socketPath = sandbox.runtimeDir() / "pulse" / "native";
    std::filesystem::create_directories(socketPath.parent_path());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);

    PulseAudioVolumeController controller(kVolumeStep, std::chrono::milliseconds(300));
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
        {PulseAudioVolumeErrorCode::writeVolumeFailed, 3, "Could not change volume (error 3)."},
        {PulseAudioVolumeErrorCode::readMuteFailed, -25, "Could not read mute state (error -25)."},
        {PulseAudioVolumeErrorCode::writeMuteFailed, 11, "Could not toggle mute (error 11)."},
        {PulseAudioVolumeErrorCode::noOutputDevice, 5, "No audio output device found."},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(PulseAudioVolumeError(c.code, c.status).what(), c.text);
    }
}

}  // namespace
}  // namespace velopad
