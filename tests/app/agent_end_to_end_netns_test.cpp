// The real agent on its real port, inside a private network namespace, driven by a WebSocket
// client as a phone would drive it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/services.h"
#include "tests/support/ws_client.h"

namespace velopad::test {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t agentPort = 9847;
constexpr const char* id1 = "A1A1A1A1-0000-4000-8000-000000000001";
constexpr const char* id2 = "A1A1A1A1-0000-4000-8000-000000000002";

nlohmann::json exchange(WsClient& phone, const std::string& type, const std::string& payload,
                        const std::string& id = id1) {
    phone.send(R"({"type":")" + type + R"(","id":")" + id + R"(","payload":)" + payload + "}");
    const auto reply = phone.receive(5s);
    return reply ? nlohmann::json::parse(*reply) : nlohmann::json();
}
const char* const aPing = R"({"ts":"2024-05-01T10:00:00Z"})";

class AgentEndToEndTest : public velopad::testing::SandboxTest {
  protected:
    void SetUp() override {
        if (!velopad::testing::onlyLoopbackInterfaces())
            GTEST_SKIP() << "runs only inside a private network namespace";
        isolateFromTheDesktop(sandbox);  // no keyring either: the file store
    }

    // Starts an agent, waits until it listens and pairs a phone by PIN: the phone's token.
    std::string startAndPair(std::unique_ptr<AgentProcess>& agent) {
        agent = std::make_unique<AgentProcess>();
        const auto pin = agent->waitForLine("PIN: ", 10s);
        EXPECT_TRUE(agent->waitForLine("Status: Ready for iPhone", 10s)) << agent->output();
        WsClient newcomer(agentPort);
        const auto reply = exchange(
            newcomer, "pair.request",
            R"({"method":"pin","secret":")" + pin.value_or("") +
                R"(","deviceName":"Test Phone","deviceId":"6F9619FF-8B86-4D11-B42D-00C04FC964FF"})");
        EXPECT_EQ(reply["type"], "pair.ok") << reply.dump();
        return reply["payload"]["token"].get<std::string>();
    }
};

TEST_F(AgentEndToEndTest, PairsByPinAndServesThePhone) {
    std::unique_ptr<AgentProcess> agent;
    const auto token = startAndPair(agent);
    EXPECT_EQ(agent->output().find(token), std::string::npos) << "a token is never printed";
    ASSERT_TRUE(agent->waitForLine("Pairing: Test Phone", 5s)) << agent->output();

    WsClient phone(agentPort, {{"x-harborlink-token", token}});
    EXPECT_GT(exchange(phone, "ping", aPing)["payload"]["rtt"].get<double>(), 1e6);
    const auto decks = exchange(phone, "deck.sync", "{}");
    ASSERT_EQ(decks["type"], "decks.snapshot") << decks.dump();
    EXPECT_EQ(decks["payload"]["decks"][0]["deckId"], "streaming");
    EXPECT_EQ(decks["payload"]["decks"][1]["deckId"], "gaming");
    const auto launch = exchange(phone, "app.launch", R"({"bundleId":"no.such.application"})");
    EXPECT_EQ(launch["payload"]["code"], "not_found") << launch.dump();

    // A push from the terminal reaches the paired phone; after "unpair" it is refused.
    ASSERT_TRUE(agent->waitForLine("Status: iPhone connected", 5s)) << agent->output();
    agent->command("push");
    EXPECT_EQ(nlohmann::json::parse(phone.receive(5s).value_or("{}"))["type"], "decks.snapshot");
    agent->command("unpair");
    ASSERT_TRUE(agent->waitForLine("Pairing: Open Velopad on your iPhone", 5s)) << agent->output();
    agent->command("push");
    const auto refused = exchange(phone, "deck.sync", "{}", id2);
    EXPECT_EQ(refused["payload"]["message"], "Missing or invalid X-Harborlink-Token header")
        << refused.dump();
    EXPECT_EQ(agent->terminate(), 0) << agent->output();
}

TEST_F(AgentEndToEndTest, ThePairedPhoneSurvivesARestartAndANewCopyReplacesTheOld) {
    std::unique_ptr<AgentProcess> first;
    const auto token = startAndPair(first);
    EXPECT_EQ(first->terminate(), 0);

    // The next copy finds the phone; a third one ends it and takes the port.
    AgentProcess second;
    ASSERT_TRUE(second.waitForLine("Status: Waiting for iPhone", 10s)) << second.output();
    AgentProcess third;
    EXPECT_TRUE(second.waitForExit(10s)) << "the older copy must end";
    ASSERT_TRUE(third.waitForLine("Status: Waiting for iPhone", 10s)) << third.output();
    WsClient phone(agentPort, {{"X-Harborlink-Token", token}});
    EXPECT_EQ(exchange(phone, "ping", aPing, id2)["id"], id2);
}

TEST_F(AgentEndToEndTest, ShowsAPortConflictRecoversOnceThePortIsFreeAndQuitsMeanwhile) {
    std::optional<velopad::testing::PortHolder> holder{
        std::in_place, velopad::testing::PortHolder::Options{.port = agentPort}};
    AgentProcess waiting;
    EXPECT_EQ(waiting.waitForLine("Error: ", 15s),
              "Port 9847 is already in use. Quit the other Velopad Agent first.")
        << waiting.output();
    // A retry is pending; quitting must not wait for it.
    EXPECT_EQ(waiting.terminate(), 0) << waiting.output();

    AgentProcess agent;
    EXPECT_TRUE(agent.waitForLine("Status: Connection failed", 15s)) << agent.output();
    holder.reset();
    EXPECT_TRUE(agent.waitForLine("Status: Ready for iPhone", 10s)) << agent.output();
}

}  // namespace
}  // namespace velopad::test
