// "action.run" from bytes to reply bytes, over a volume controller that records its calls.

#include "agent_core/action_wire_handler.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "protocol/json_text.h"
#include "tests/support/io_thread.h"

namespace velopad {
namespace {

// Records the volume operations it is asked for; fails each one when told to.
struct FakeVolumeController final : VolumeControlling {
    std::string calls;
    bool shouldThrow = false;
    void volumeUp() override { record("up "); }
    void volumeDown() override { record("down "); }
    void toggleMute() override { record("mute "); }
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

TEST(ActionWireHandlerTest, UnknownActionsOtherTypesAndAMissingDeviceLeaveTheVolumeAlone) {
    const auto volume = std::make_shared<FakeVolumeController>();
    const ActionWireHandler handler = handlerOver(volume);
    EXPECT_EQ(
        handler.handle(actionRun("SYSTEM.VOLUME.UP")),
        reply(R"({"actionId":"SYSTEM.VOLUME.UP","code":"unknown","message":"Unknown action"})",
              "action.error"));
    EXPECT_EQ(handler.handle(std::string(R"({"type":"Action.run","id":")") + kId +
                             R"(","payload":{"actionId":"system.volume.up"}})"),
              std::nullopt);
    EXPECT_THROW((void)handler.handle("not json"), DecodeError);
    EXPECT_EQ(volume->calls, "");

    test::IoThread io;  // without an output device, the same answer from the pool
    EXPECT_EQ(
        io.run(handlerOver(nullptr).handle(actionRun("system.volume.mute"), io.pool())),
        reply(
            R"({"actionId":"system.volume.mute","code":"failed","message":"No audio output device found."})",
            "action.error"));
}

}  // namespace
}  // namespace velopad
