// "action.run" from bytes to reply bytes, against a private PulseAudio server and a mock.

#include "agent_core/action_wire_handler.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/linux/pulse_audio_volume_controller.h"
#include "protocol/json_text.h"
#include "tests/support/io_thread.h"
#include "tests/support/pulse_audio_server.h"

namespace velopad {
namespace {

// A volume controller that touches no device: counts calls, fails each when told to.
class MockVolumeController final : public VolumeControlling {
  public:
    struct MockVolumeError : std::runtime_error {
        MockVolumeError() : std::runtime_error("Simulated volume failure.") {}
    };
    int volumeUpCount = 0;
    int volumeDownCount = 0;
    int toggleMuteCount = 0;
    bool shouldThrow = false;

    void volumeUp() override { count(volumeUpCount); }
    void volumeDown() override { count(volumeDownCount); }
    void toggleMute() override { count(toggleMuteCount); }

  private:
    void count(int& counter) {
        ++counter;
        if (shouldThrow) throw MockVolumeError();
    }
};

constexpr const char* kId = "6c1b2f0e-93a4-4d5e-8f70-1a2b3c4d5e6f";
constexpr const char* kReplyId = R"("id":"6C1B2F0E-93A4-4D5E-8F70-1A2B3C4D5E6F")";

std::string actionRun(const std::string& actionId) {
    return std::string(R"({"type":"action.run","id":")") + kId + R"(","payload":{"actionId":")" +
           actionId + "\"}}";
}

std::string reply(const std::string& payload, const std::string& type) {
    return std::string("{") + kReplyId + ",\"payload\":" + payload + ",\"type\":\"" + type + "\"}";
}

ActionWireHandler pulseHandler() {
    return ActionWireHandler(
        ActionMessageHandler(SystemActionRunner(std::make_shared<PulseAudioVolumeController>())));
}

class ActionWireHandlerPulseTest : public testing::SandboxTest {
  protected:
    testing::PulseAudioServer server{sandbox};
};

TEST_F(ActionWireHandlerPulseTest, VolumeUpAnswersOkAndChangesTheSink) {
    server.setSinkVolume("97%");
    server.setSinkMuted(true);
    EXPECT_EQ(pulseHandler().handle(actionRun("system.volume.up")),
              reply(R"({"actionId":"system.volume.up"})", "action.ok"));
    EXPECT_EQ(server.sinkVolumes(), (std::vector<long>{65536, 65536}));
    EXPECT_FALSE(server.sinkMuted());
}

TEST_F(ActionWireHandlerPulseTest, MuteAndDownAnswerOk) {
    server.setSinkVolume("32768");
    server.setSinkMuted(false);
    const auto handler = pulseHandler();
    EXPECT_EQ(handler.handle(actionRun("system.volume.mute")),
              reply(R"({"actionId":"system.volume.mute"})", "action.ok"));
    EXPECT_TRUE(server.sinkMuted());
    EXPECT_EQ(handler.handle(actionRun("system.volume.down")),
              reply(R"({"actionId":"system.volume.down"})", "action.ok"));
    EXPECT_EQ(server.sinkVolumes(), (std::vector<long>{28672, 28672}));
}

TEST_F(ActionWireHandlerPulseTest, RunsOnAThreadPoolWhenAskedTo) {
    server.setSinkVolume("32768");
    test::IoThread io;
    asio::thread_pool& pool = io.pool();
    const auto handler = pulseHandler();
    EXPECT_EQ(io.run(handler.handle(actionRun("system.volume.up"), pool)),
              reply(R"({"actionId":"system.volume.up"})", "action.ok"));
    EXPECT_EQ(server.sinkVolumes(), (std::vector<long>{36864, 36864}));
}

TEST(ActionWireHandlerTest, NoServerAnswersFailedWithNoOutputDevice) {
    testing::Sandbox sandbox;  // empty runtime directory, no server
    sandbox.setEnv("PULSE_SERVER", std::nullopt);
    sandbox.setEnv("DISPLAY", std::nullopt);
    EXPECT_EQ(
        pulseHandler().handle(actionRun("system.volume.up")),
        reply(
            R"({"actionId":"system.volume.up","code":"failed","message":"No audio output device found."})",
            "action.error"));
}

TEST(ActionWireHandlerTest, UnknownIdentifiersAnswerUnknownWithoutTouchingTheVolume) {
    auto mock = std::make_shared<MockVolumeController>();
    const ActionWireHandler handler{ActionMessageHandler{SystemActionRunner{mock}}};
    for (const std::string actionId :
         {"SYSTEM.VOLUME.UP", " system.volume.up", "system.volume", ""}) {
        EXPECT_EQ(handler.handle(actionRun(actionId)),
                  reply(R"({"actionId":")" + actionId +
                            R"(","code":"unknown","message":"Unknown action"})",
                        "action.error"));
    }
    EXPECT_EQ(mock->volumeUpCount + mock->volumeDownCount + mock->toggleMuteCount, 0);
}

TEST(ActionWireHandlerTest, AFailingControllerAnswersFailedForEveryVolumeAction) {
    auto mock = std::make_shared<MockVolumeController>();
    mock->shouldThrow = true;
    const ActionWireHandler handler{ActionMessageHandler{SystemActionRunner{mock}}};
    for (const std::string actionId :
         {"system.volume.up", "system.volume.down", "system.volume.mute"}) {
        EXPECT_EQ(handler.handle(actionRun(actionId)),
                  reply(R"({"actionId":")" + actionId +
                            R"(","code":"failed","message":"Simulated volume failure."})",
                        "action.error"));
    }
    EXPECT_EQ(mock->volumeUpCount, 1);
    EXPECT_EQ(mock->volumeDownCount, 1);
    EXPECT_EQ(mock->toggleMuteCount, 1);
}

TEST(ActionWireHandlerTest, OtherMessageTypesGetNoReply) {
    auto mock = std::make_shared<MockVolumeController>();
    const ActionWireHandler handler{ActionMessageHandler{SystemActionRunner{mock}}};
    EXPECT_EQ(handler.handle(std::string(R"({"type":"ping","id":")") + kId +
                             R"(","payload":{"ts":"2024-05-01T10:00:00Z"}})"),
              std::nullopt);
    EXPECT_EQ(handler.handle(std::string(R"({"type":"Action.run","id":")") + kId +
                             R"(","payload":{"actionId":"x"}})"),
              std::nullopt);
    EXPECT_EQ(mock->volumeUpCount + mock->volumeDownCount + mock->toggleMuteCount, 0);
}

TEST(ActionWireHandlerTest, UndecodableInputFails) {
    auto mock = std::make_shared<MockVolumeController>();
    const ActionWireHandler handler{ActionMessageHandler{SystemActionRunner{mock}}};
    const std::string cases[] = {
        "not json",
        R"({"type":"action.run","payload":{"actionId":"system.volume.up"}})",
        R"({"type":"action.run","id":"nope","payload":{"actionId":"system.volume.up"}})",
        std::string(R"({"type":"action.run","id":")") + kId + R"(","payload":{}})",
        std::string(R"({"type":"action.run","id":")") + kId + R"(","payload":{"actionId":7}})",
        std::string(R"({"type":"action.run","id":")") + kId + R"("})",
    };
    for (const auto& input : cases) {
        EXPECT_THROW((void)handler.handle(input), DecodeError) << input;
    }
    EXPECT_EQ(mock->volumeUpCount, 0);
}

}  // namespace
}  // namespace velopad
