#include "app/listener/request_router.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/fake_executors.h"
#include "tests/support/io_thread.h"

namespace velopad::test {
namespace {

constexpr const char* requestId = "0F6B2D4C-1A2B-4C3D-8E9F-A0B1C2D3E4F5";
const std::string shortcutId = "8A1F3B2C-4D5E-4F60-8172-93A4B5C6D7E8";

std::string frame(const std::string& type, const std::string& payload,
                  const std::string& id = requestId) {
    return R"({"type":")" + type + R"(","id":")" + id + R"(","payload":)" + payload + "}";
}

class RequestRouterTest : public ::testing::Test {
  protected:
    std::vector<std::string> route(const std::string& data, std::optional<std::string> token) {
        return io.run(router.route(data, std::move(token)));
    }

    IoThread io;
    FakeExecutors executors;
    std::chrono::system_clock::time_point now = std::chrono::sys_days{std::chrono::May / 1 / 2024} +
                                                std::chrono::hours(10) +
                                                std::chrono::milliseconds(1500);
    RequestRouter router{executors, [this] { return now; }};
};

TEST_F(RequestRouterTest, RefusesEveryRequestWithoutAPairedToken) {
    const std::string head = R"({"id":")" + std::string(requestId) + R"(","payload":{)";
    const std::string refusal =
        R"("code":"unauthorized","message":"Missing or invalid X-Harborlink-Token header")";
    const std::vector<std::array<std::string, 3>> cases{
        // type, payload, reply
        {"deck.sync", "{}", head + R"("bundleId":"",)" + refusal + R"(},"type":"app.error"})"},
        {"app.launch", R"({"bundleId":"org.gnome.Nautilus"})",
         head + R"("bundleId":"org.gnome.Nautilus",)" + refusal + R"(},"type":"app.error"})"},
        {"action.run", R"({"actionId":"system.volume.up"})",
         head + R"("actionId":"system.volume.up",)" + refusal + R"(},"type":"action.error"})"},
        {"shortcut.run", R"({"shortcutIdentifier":"S1","label":"Go"})",
         head + refusal + R"(,"shortcutIdentifier":"S1"},"type":"shortcut.error"})"},
        {"ping", R"({"ts":"2024-05-01T10:00:00Z"})", ""},
        {"app.icon.request", R"({"bundleIds":["firefox"]})", ""},
    };
    executors.pairedTokens = {"GOOD"};
    for (const std::optional<std::string>& token :
         {std::optional<std::string>{}, std::optional<std::string>{""},
          std::optional<std::string>{"STALE"}, std::optional<std::string>{"good"}}) {
        for (const auto& [type, payload, reply] : cases) {
            SCOPED_TRACE(type + " with token " + token.value_or("<none>"));
            EXPECT_EQ(route(frame(type, payload), token),
                      reply.empty() ? std::vector<std::string>{} : std::vector{reply});
        }
    }
    EXPECT_TRUE(executors.calls.empty());
}

TEST_F(RequestRouterTest, ServesPairedRequestsWithTheRequestId) {
    executors.pairedTokens = {"GOOD"};
    executors.running = {"firefox"};
    const std::string head = R"({"id":")" + std::string(requestId) + R"(","payload":)";
    const std::vector<std::pair<std::string, std::string>> cases{
        {frame("ping", R"({"ts":"2024-05-01T10:00:00Z"})", "0f6b2d4c-1a2b-4c3d-8e9f-a0b1c2d3e4f5"),
         R"({"rtt":1.5,"runningBundleIds":["firefox"],"ts":"2024-05-01T10:00:00Z"},"type":"pong"})"},
        {frame("app.launch", R"({"bundleId":"firefox"})"),
         R"({"bundleId":"firefox"},"type":"app.ok"})"},
        {frame("deck.sync", "{}"), R"({"decks":[]},"type":"decks.snapshot"})"},
    };
    for (const auto& [request, reply] : cases) {
        EXPECT_EQ(route(request, "GOOD"), std::vector<std::string>{head + reply});
    }
    EXPECT_EQ(executors.calls, (std::vector<std::string>{"launch firefox"}));
}

TEST_F(RequestRouterTest, IgnoresWhatItCannotRead) {
    executors.pairedTokens = {"GOOD"};
    for (const std::string& bad :
         {std::string("not json"), std::string("{}"), frame("ping", R"({"ts":12})"),
          frame("launch.rocket", "{}"),
          std::string(R"({"type":"ping","id":"nope","payload":{"ts":"2024-05-01T10:00:00Z"}})"),
          std::string(100, '[')}) {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(route(bad, "GOOD").empty());
    }
}

TEST_F(RequestRouterTest, SendsIconsInRequestOrderWithFreshIds) {
    executors.pairedTokens = {"GOOD"};
    executors.appIcons["org.example.Editor"] = {"PNG-A?>", std::string(64, 'a')};
    executors.shortcutIcons[shortcutId] = {"PNG-S", std::string(64, 'b')};
    const std::string notHex = "8A1F3B2C-4D5E-4F60-8172-93A4B5C6D7EZ";
    const auto replies =
        route(frame("app.icon.request", R"({"bundleIds":["org.example.Editor",")" + shortcutId +
                                            R"(","no.icon",")" + notHex + R"("]})"),
              "GOOD");
    ASSERT_EQ(replies.size(), 2u);
    const auto first = nlohmann::json::parse(replies[0]);
    const auto second = nlohmann::json::parse(replies[1]);
    EXPECT_NE(replies[0].find(R"("bundleId":"org.example.Editor","pngBase64":"UE5HLUE\/Pg==")"),
              std::string::npos);
    EXPECT_EQ(second["payload"]["revision"], std::string(64, 'b'));
    EXPECT_NE(first["id"], requestId);
    EXPECT_NE(first["id"], second["id"]);
    EXPECT_EQ(executors.calls, (std::vector<std::string>{
                                   "app icon org.example.Editor", "shortcut icon " + shortcutId,
                                   "app icon no.icon", "app icon " + notHex}));
    EXPECT_TRUE(route(frame("app.icon.request", R"({"bundleIds":[]})"), "GOOD").empty());
}

TEST_F(RequestRouterTest, ShowsTheShortcutHintOnceUntilDismissed) {
    executors.pairedTokens = {"GOOD"};
    const auto run = frame("shortcut.run", R"({"shortcutIdentifier":"S1"})");
    auto errorReply = [](const std::string& code) {
        return R"({"id":")" + std::string(requestId) + R"(","payload":{"code":")" + code +
               R"(","shortcutIdentifier":"S1"},"type":"shortcut.error"})";
    };
    const std::string hint =
        "Allow this Shortcut on your Mac (System Settings \u2192 Privacy & Security \u2192 "
        "Automation), then try again.";

    executors.shortcutReply = errorReply("run_failed");
    EXPECT_EQ(route(run, "GOOD"), std::vector<std::string>{errorReply("run_failed")});
    EXPECT_FALSE(router.shortcutCoachMessage());

    executors.shortcutReply = errorReply("cancelled");
    route(run, "GOOD");
    EXPECT_EQ(router.shortcutCoachMessage(), hint);
    executors.shortcutReply = errorReply("run_failed");  // another outcome leaves the hint
    route(run, "GOOD");
    EXPECT_EQ(router.shortcutCoachMessage(), hint);

    router.clearShortcutCoachMessage();
    executors.shortcutReply = errorReply("timed_out");
    route(run, "GOOD");
    EXPECT_EQ(router.shortcutCoachMessage(), hint);

    executors.shortcutReply = std::nullopt;
    EXPECT_TRUE(route(run, "GOOD").empty());
    executors.shortcutReply = std::string("\xff\xfe");
    EXPECT_TRUE(route(run, "GOOD").empty());
}

}  // namespace
}  // namespace velopad::test
