#include "agent_core/shortcut_wire_handler.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/linux/posix_process_runner.h"
#include "protocol/json_text.h"
#include "tests/support/shortcut_test_support.h"

namespace velopad {
namespace {

using testing::FakeProcessRunner;
using testing::IoHarness;

constexpr const char* kId = "1B4E28BA-2FA1-11D2-883F-0016D3CCA427";

class ShortcutWireHandlerTest : public ::testing::Test {
  protected:
    std::optional<std::string> handle(const std::string& bytes,
                                      std::shared_ptr<ProcessRunning> runner) {
        const ShortcutWireHandler handler(
            ShortcutMessageHandler(ShortcutsRunner(testing::shortcutsToolPath(), runner)));
        return io.run(handler.handle(bytes));
    }

    std::optional<std::string> handle(const std::string& bytes, ProcessRunResult result = {}) {
        return handle(bytes, std::make_shared<FakeProcessRunner>(std::move(result)));
    }

    IoHarness io;
};

TEST_F(ShortcutWireHandlerTest, AnswersASuccessfulRunWithTheRequestsId) {
    const auto fake = std::make_shared<FakeProcessRunner>(ProcessRunResult{0, "", "", false});
    const auto reply = handle(
        std::string(R"({"type":"shortcut.run","id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d",)") +
            R"("payload":{"shortcutIdentifier":")" + kId + R"(","label":"Greet"}})",
        fake);
    EXPECT_EQ(
        reply,
        std::string(
            R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","payload":{"shortcutIdentifier":")") +
            kId + R"("},"type":"shortcut.ok"})");
    ASSERT_EQ(fake->calls.size(), 1U);
    EXPECT_EQ(fake->calls[0].arguments, (std::vector<std::string>{"run", kId}));
}

TEST_F(ShortcutWireHandlerTest, AnswersEachFailureWithItsCodeAndMessage) {
    const std::string request =
        std::string(
            R"({"id":"00000000-0000-0000-0000-00000000000A","payload":{"shortcutIdentifier":")") +
        kId + R"("},"type":"shortcut.run"})";
    const std::string head = R"({"id":"00000000-0000-0000-0000-00000000000A","payload":{"code":")";
    const std::string tail =
        std::string(R"(","shortcutIdentifier":")") + kId + R"("},"type":"shortcut.error"})";
    EXPECT_EQ(
        handle(request, {66, "", "Shortcut not found", false}),
        head + "not_found\",\"message\":\"Shortcut missing \u2014 replace it in Edit Deck." + tail);
    EXPECT_EQ(handle(request, {143, "", "", false}),
              head + "cancelled\",\"message\":\"Needs permission or input on your Mac." + tail);
    EXPECT_EQ(handle(request, {0, "", "", true}),
              head +
                  "timed_out\",\"message\":\"Still waiting on your Mac \u2014 check for a dialog." +
                  tail);
    EXPECT_EQ(handle(request, {1, "", "", false}),
              head + "run_failed\",\"message\":\"Could not run Shortcut on Mac." + tail);
    EXPECT_EQ(handle(request, {1, "", "bad \"quote\" / slash", false}),
              head + "run_failed\",\"message\":\"bad \\\"quote\\\" \\/ slash" + tail);
}

TEST_F(ShortcutWireHandlerTest, RunsTheRealToolEndToEnd) {
    testing::ShortcutsSandbox sandbox;
    sandbox.writeShortcut(kId, "Greet", "true");
    const auto runner = std::make_shared<PosixProcessRunner>(io.executor());
    const std::string id = "5E2B7C1A-0000-4000-8000-000000000001";
    EXPECT_EQ(handle(std::string(R"({"type":"shortcut.run","id":")") + id +
                         R"(","payload":{"shortcutIdentifier":")" + kId + R"("}})",
                     runner),
              std::string(R"({"id":")") + id + R"(","payload":{"shortcutIdentifier":")" + kId +
                  R"("},"type":"shortcut.ok"})");
    EXPECT_EQ(
        handle(std::string(R"({"type":"shortcut.run","id":")") + id +
                   R"(","payload":{"shortcutIdentifier":"FFFFFFFF-0000-4000-8000-000000000000"}})",
               runner),
        std::string(R"({"id":")") + id +
            R"(","payload":{"code":"not_found","message":"Shortcut missing — replace it in Edit Deck.",)"
            R"("shortcutIdentifier":"FFFFFFFF-0000-4000-8000-000000000000"},"type":"shortcut.error"})");
}

TEST_F(ShortcutWireHandlerTest, OtherMessageTypesGetNoReply) {
    const auto fake = std::make_shared<FakeProcessRunner>();
    EXPECT_EQ(
        handle(
            R"({"type":"app.launch","id":"00000000-0000-0000-0000-000000000001","payload":{"bundleId":"x"}})",
            fake),
        std::nullopt);
    EXPECT_TRUE(fake->calls.empty());
}

TEST_F(ShortcutWireHandlerTest, UndecodableInputFails) {
    for (
        const char* bytes : {
            "not json",
            R"({"type":"shortcut.run","payload":{"shortcutIdentifier":"x"}})",
            R"({"type":"shortcut.run","id":"nope","payload":{"shortcutIdentifier":"x"}})",
            R"({"type":"shortcut.run","id":"00000000-0000-0000-0000-000000000001","payload":{}})",
            R"({"type":"shortcut.run","id":"00000000-0000-0000-0000-000000000001","payload":{"shortcutIdentifier":7}})",
            R"({"type":"shortcut.run","id":"00000000-0000-0000-0000-000000000001"})",
        }) {
        SCOPED_TRACE(bytes);
        const auto fake = std::make_shared<FakeProcessRunner>();
        EXPECT_THROW(handle(bytes, fake), DecodeError);
        EXPECT_TRUE(fake->calls.empty());
    }
}

}  // namespace
}  // namespace velopad
