// The real agent on its real port, inside a private network namespace, driven by a WebSocket
// client as a phone would drive it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "tests/support/agent_process.h"
#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/services.h"
#include "tests/support/ws_client.h"

namespace velopad::test {
namespace {

using namespace std::chrono_literals;
using velopad::testing::onlyLoopbackInterfaces;
using velopad::testing::SandboxTest;

constexpr std::uint16_t agentPort = 9847;

std::string pairRequest(const std::string& method, const std::string& secret,
                        const std::string& id) {
    return R"({"type":"pair.request","id":")" + id + R"(","payload":{"method":")" + method +
           R"(","secret":")" + secret +
           R"(","deviceName":"Test Phone","deviceId":"6F9619FF-8B86-4D11-B42D-00C04FC964FF"}})";
}
std::string message(const std::string& type, const std::string& payload, const std::string& id) {
    return R"({"type":")" + type + R"(","id":")" + id + R"(","payload":)" + payload + "}";
}
nlohmann::json parsed(const std::optional<std::string>& text) {
    return text ? nlohmann::json::parse(*text) : nlohmann::json();
}

constexpr const char* id1 = "A1A1A1A1-0000-4000-8000-000000000001";
constexpr const char* id2 = "A1A1A1A1-0000-4000-8000-000000000002";
constexpr const char* id3 = "A1A1A1A1-0000-4000-8000-000000000003";

class AgentEndToEndTest : public SandboxTest {
  protected:
    void SetUp() override {
        if (!onlyLoopbackInterfaces())
            GTEST_SKIP() << "runs only inside a private network namespace";
        isolateFromTheDesktop(sandbox);  // no keyring either: the file store
    }

    // Starts an agent and waits until it listens; returns its PIN.
    std::string startAgent(std::unique_ptr<AgentProcess>& agent) {
        agent = std::make_unique<AgentProcess>();
        const auto pin = agent->waitForLine("PIN: ", 10s);
        EXPECT_TRUE(pin) << agent->output();
        std::optional<std::string> status;
        do {
            status = agent->waitForLine("Status: ", 10s);
        } while (status && *status == "Starting\u2026");
        EXPECT_TRUE(status == "Ready for iPhone" || status == "Waiting for iPhone")
            << agent->output();
        return pin.value_or("");
    }

    std::string pairByPIN(const std::string& pin) {
        WsClient phone(agentPort);
        phone.send(pairRequest("pin", pin, id1));
        const auto reply = parsed(phone.receive(5s));
        EXPECT_EQ(reply["type"], "pair.ok") << reply.dump();
        EXPECT_EQ(reply["id"], id1);
        return reply["payload"]["token"].get<std::string>();
    }
};

TEST_F(AgentEndToEndTest, PairsByPinAndServesThePhone) {
    std::unique_ptr<AgentProcess> agent;
    const auto pin = startAgent(agent);
    ASSERT_EQ(pin.size(), 6u);

    const auto token = pairByPIN(pin);
    EXPECT_EQ(agent->output().find(token), std::string::npos) << "a token is never printed";
    ASSERT_TRUE(agent->waitForLine("Pairing: Test Phone", 5s)) << agent->output();

    WsClient phone(agentPort, {{"x-harborlink-token", token}});
    phone.send(message("ping", R"({"ts":"2024-05-01T10:00:00Z"})", id1));
    const auto pong = parsed(phone.receive(5s));
    EXPECT_EQ(pong["type"], "pong");
    EXPECT_GT(pong["payload"]["rtt"].get<double>(), 1e6);

    phone.send(message("deck.sync", "{}", id2));
    const auto decks = parsed(phone.receive(5s));
    ASSERT_EQ(decks["type"], "decks.snapshot") << decks.dump();
    ASSERT_EQ(decks["payload"]["decks"].size(), 2u);
    EXPECT_EQ(decks["payload"]["decks"][0]["deckId"], "streaming");
    EXPECT_EQ(decks["payload"]["decks"][1]["deckId"], "gaming");

    phone.send(message("app.launch", R"({"bundleId":"no.such.application"})", id3));
    const auto launch = parsed(phone.receive(5s));
    EXPECT_EQ(launch["type"], "app.error");
    EXPECT_EQ(launch["payload"]["code"], "not_found");

    // A push from the terminal reaches the paired phone, and a stranger gets nothing.
    WsClient stranger(agentPort);
    ASSERT_TRUE(agent->waitForLine("Status: iPhone connected", 5s)) << agent->output();
    agent->command("push");
    const auto pushed = parsed(phone.receive(5s));
    EXPECT_EQ(pushed["type"], "decks.snapshot");
    EXPECT_NE(pushed["id"], id2);
    stranger.send(message("app.focus", R"({"bundleId":"x"})", id1));
    EXPECT_EQ(parsed(stranger.receive(5s))["type"], "app.error");

    // After "unpair" the open connection is refused and receives no more pushes.
    agent->command("unpair");
    ASSERT_TRUE(agent->waitForLine("Pairing: Open Velopad on your iPhone", 5s)) << agent->output();
    agent->command("push");
    phone.send(message("deck.sync", "{}", id3));
    const auto refused = parsed(phone.receive(5s));
    EXPECT_EQ(refused["type"], "app.error") << refused.dump();
    EXPECT_EQ(refused["payload"]["message"], "Missing or invalid X-Harborlink-Token header");

    EXPECT_EQ(agent->terminate(), 0) << agent->output();
}

TEST_F(AgentEndToEndTest, ThePairedPhoneSurvivesARestartAndANewCopyReplacesTheOld) {
    std::unique_ptr<AgentProcess> first;
    const auto token = pairByPIN(startAgent(first));
    EXPECT_EQ(first->terminate(), 0);

    std::unique_ptr<AgentProcess> second;
    startAgent(second);
    {
        WsClient phone(agentPort, {{"X-Harborlink-Token", token}});
        phone.send(message("ping", R"({"ts":"2024-05-01T10:00:00Z"})", id1));
        EXPECT_EQ(parsed(phone.receive(5s))["type"], "pong") << second->output();
    }

    // A third copy terminates the running one and takes the port.
    std::unique_ptr<AgentProcess> third;
    third = std::make_unique<AgentProcess>();
    EXPECT_TRUE(second->waitForExit(10s)) << "the older copy must end";
    ASSERT_TRUE(third->waitForLine("Status: Waiting for iPhone", 10s)) << third->output();
    WsClient phone(agentPort, {{"X-Harborlink-Token", token}});
    phone.send(message("ping", R"({"ts":"2024-05-01T10:00:00Z"})", id2));
    EXPECT_EQ(parsed(phone.receive(5s))["id"], id2);
}

TEST_F(AgentEndToEndTest, KeepsThePairingInTheSecretServiceKeyring) {
    velopad::testing::KeyringSession keyring(sandbox);
    std::unique_ptr<AgentProcess> first;
    const auto token = pairByPIN(startAgent(first));
    EXPECT_EQ(first->terminate(), 0);

    const auto [status, stored] =
        keyring.secretTool({"lookup", "service", "com.quentaro.harborlink.agent.paired-devices",
                            "account", "paired-devices"});
    EXPECT_EQ(status, 0);
    EXPECT_NE(stored.find("6F9619FF-8B86-4D11-B42D-00C04FC964FF"), std::string::npos) << stored;

    std::unique_ptr<AgentProcess> second;
    startAgent(second);
    WsClient phone(agentPort, {{"X-Harborlink-Token", token}});
    phone.send(message("ping", R"({"ts":"2024-05-01T10:00:00Z"})", id1));
    EXPECT_EQ(parsed(phone.receive(5s))["type"], "pong") << second->output();
}

TEST_F(AgentEndToEndTest, ShowsAPortConflictAndRecoversOnceThePortIsFree) {
    std::optional<velopad::testing::PortHolder> holder{
        std::in_place, velopad::testing::PortHolder::Options{.port = agentPort}};
    AgentProcess agent;
    EXPECT_TRUE(agent.waitForLine("Status: Connection failed", 15s)) << agent.output();
    EXPECT_NE(agent.output().find(
                  "Error: Port 9847 is already in use. Quit the other Velopad Agent first.\n"),
              std::string::npos)
        << agent.output();

    holder.reset();
    EXPECT_TRUE(agent.waitForLine("Status: Ready for iPhone", 10s)) << agent.output();
}

}  // namespace
}  // namespace velopad::test
