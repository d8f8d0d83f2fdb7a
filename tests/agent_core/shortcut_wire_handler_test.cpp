#include "agent_core/shortcut_wire_handler.h"

#include <gtest/gtest.h>

#include <memory>

#include "protocol/json_text.h"
#include "tests/support/shortcut_test_support.h"

namespace velopad {
namespace {

using testing::FakeProcessRunner;

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

    testing::IoHarness io;
};

TEST_F(ShortcutWireHandlerTest, AnswersASuccessfulRunWithTheRequestsId) {
    const auto fake = std::make_shared<FakeProcessRunner>(ProcessRunResult{0, "", "", false});
    EXPECT_EQ(handle(R"({"type":"shortcut.run","id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d",)"
                     R"("payload":{"shortcutIdentifier":")" +
                         std::string(kId) + R"(","label":"Greet"}})",
                     fake),
              R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","payload":{"shortcutIdentifier":")" +
                  std::string(kId) + R"("},"type":"shortcut.ok"})");
    ASSERT_EQ(fake->calls.size(), 1U);
    EXPECT_EQ(fake->calls[0].arguments, (std::vector<std::string>{"run", kId}));
}

TEST_F(ShortcutWireHandlerTest, AnswersEachFailureWithItsCodeAndMessage) {
    const std::string request =
        R"({"id":"00000000-0000-0000-0000-00000000000A","payload":{"shortcutIdentifier":")" +
        std::string(kId) + R"("},"type":"shortcut.run"})";
    const auto reply = [](const std::string& codeAndMessage) {
        return R"({"id":"00000000-0000-0000-0000-00000000000A","payload":{"code":)" +
               codeAndMessage + R"(","shortcutIdentifier":")" + kId +
               R"("},"type":"shortcut.error"})";
    };
    const std::pair<ProcessRunResult, std::string> cases[] = {
        {{66, "", "Shortcut not found", false},
         R"("not_found","message":"Shortcut missing — replace it in Edit Deck.)"},
        {{1, "", "bad \"quote\" / slash", false},
         R"("run_failed","message":"bad \"quote\" \/ slash)"},
    };
    for (const auto& [result, expected] : cases)
        EXPECT_EQ(handle(request, result), reply(expected));
}

TEST_F(ShortcutWireHandlerTest, OtherTypesGetNoReplyAndUndecodableInputFailsRunningNothing) {
    const auto fake = std::make_shared<FakeProcessRunner>();
    EXPECT_EQ(
        handle(
            R"({"type":"app.launch","id":"00000000-0000-0000-0000-000000000001","payload":{"bundleId":"x"}})",
            fake),
        std::nullopt);
    for (
        const char* bytes : {
            "not json",
            R"({"type":"shortcut.run","id":"00000000-0000-0000-0000-000000000001","payload":{"shortcutIdentifier":7}})",
        })
        EXPECT_THROW(handle(bytes, fake), DecodeError) << bytes;
    EXPECT_TRUE(fake->calls.empty());
}

}  // namespace
}  // namespace velopad
