// "action.run" from bytes to reply bytes, against a private PulseAudio server and a fake.

#include "agent_core/action_wire_handler.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/linux/pulse_audio_volume_controller.h"
#include "protocol/json_text.h"
#include "tests/support/io_thread.h"
#include "tests/support/pulse_audio_server.h"

namespace velopad {
namespace {

// Records the volume operations it is asked for; fails each one when told to.
class FakeVolumeController final : public VolumeControlling {
  public:
    std::string calls;
    bool shouldThrow = false;

    void volumeUp() override { record("up "); }
    void volumeDown() override { record("down "); }
    void toggleMute() override { record("mute "); }

  private:
    void record(const char* call) {
        calls += call;
        if (shouldThrow) throw std::runtime_error("Simulated volume failure.");
    }
};

constexpr const char* kId = "6c1b2f0e-93a4-4d5e-8f70-1a2b3c4d5e6f";

std::string actionRun(const std::string& actionId) {
    return std::string(R"({"type":"action.run","id":")") + kId + R"(","payload":{"actionId":")" +
           actionId + "\"}}";
}

std::string reply(const std::string& payload, const std::string& type) {
    return R"({"id":"6C1B2F0E-93A4-4D5E-8F70-1A2B3C4D5E6F","payload":)" + payload + ",\"type\":\"" +
           type + "\"}";
}

ActionWireHandler handlerOver(std::shared_ptr<VolumeControlling> volume) {
    return ActionWireHandler(ActionMessageHandler(SystemActionRunner(std::move(volume))));
}

TEST(ActionWireHandlerTest, EachVolumeActionAnswersOkOrItsFailure) {
    const struct {
        const char *actionId, *call;
    } cases[] = {{"system.volume.up", "up "},
                 {"system.volume.down", "down "},
                 {"system.volume.mute", "mute "}};
    for (const bool fails : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.actionId);
            const auto volume = std::make_shared<FakeVolumeController>();
            volume->shouldThrow = fails;
            const std::string id = R"({"actionId":")" + std::string(c.actionId);
            EXPECT_EQ(
                handlerOver(volume).handle(actionRun(c.actionId)),
                fails ? reply(id + R"(","code":"failed","message":"Simulated volume failure."})",
                              "action.error")
                      : reply(id + "\"}", "action.ok"));
            EXPECT_EQ(volume->calls, c.call);
        }
    }
}

TEST(ActionWireHandlerTest, UnknownActionsAndOtherTypesLeaveTheVolumeAlone) {
    const auto volume = std::make_shared<FakeVolumeController>();
    const ActionWireHandler handler = handlerOver(volume);
    for (const std::string actionId :
         {"SYSTEM.VOLUME.UP", " system.volume.up", "system.volume", ""}) {
        EXPECT_EQ(handler.handle(actionRun(actionId)),
                  reply(R"({"actionId":")" + actionId +
                            R"(","code":"unknown","message":"Unknown action"})",
                        "action.error"));
    }
    EXPECT_EQ(handler.handle(std::string(R"({"type":"ping","id":")") + kId +
                             R"(","payload":{"ts":"2024-05-01T10:00:00Z"}})"),
              std::nullopt);
    EXPECT_EQ(handler.handle(std::string(R"({"type":"Action.run","id":")") + kId +
                             R"(","payload":{"actionId":"system.volume.up"}})"),
              std::nullopt);
    for (const std::string& input :
         {std::string("not json"),
          std::string(R"({"type":"action.run","payload":{"actionId":"system.volume.up"}})"),
          std::string(R"({"type":"action.run","id":")") + kId + R"(","payload":{}})",
          std::string(R"({"type":"action.run","id":")") + kId + R"(","payload":{"actionId":7}})"})
        EXPECT_THROW((void)handler.handle(input), DecodeError) << input;
    EXPECT_EQ(volume->calls, "");
}

TEST(ActionWireHandlerTest, RunsOnAThreadPoolAndChangesTheRealSink) {
    testing::Sandbox sandbox;
    const testing::PulseAudioServer server{sandbox};
    server.setSinkVolume("32768");
    server.setSinkMuted(true);
    test::IoThread io;
    const auto handler = handlerOver(std::make_shared<PulseAudioVolumeController>());
    EXPECT_EQ(io.run(handler.handle(actionRun("system.volume.up"), io.pool())),
              reply(R"({"actionId":"system.volume.up"})", "action.ok"));
    EXPECT_EQ(server.sinkVolumes(), (std::vector<long>{36864, 36864}));
    EXPECT_FALSE(server.sinkMuted());
}

TEST(ActionWireHandlerTest, NoServerAnswersFailedWithNoOutputDevice) {
    testing::Sandbox sandbox;  // empty runtime directory, no server
    sandbox.setEnv("PULSE_SERVER", std::nullopt);
    sandbox.setEnv("DISPLAY", std::nullopt);
    EXPECT_EQ(
        handlerOver(std::make_shared<PulseAudioVolumeController>())
            .handle(actionRun("system.volume.up")),
        reply(
            R"({"actionId":"system.volume.up","code":"failed","message":"No audio output device found."})",
            "action.error"));
}

}  // namespace
}  // namespace velopad
