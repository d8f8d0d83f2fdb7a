// The editor on the whole agent: what the user saves is stored, reaches the paired phone at once
// and is what the phone's next sync gets.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/agent.h"
#include "app/editor/deck_editor_model.h"
#include "tests/support/child_process.h"
#include "tests/support/io_thread.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/ws_client.h"

namespace velopad::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* pairId = "A1A1A1A1-0000-4000-8000-000000000001";
constexpr const char* syncId = "A1A1A1A1-0000-4000-8000-000000000002";

nlohmann::json parsed(const std::optional<std::string>& text) {
    return text ? nlohmann::json::parse(*text) : nlohmann::json();
}

// Whether any deck of a snapshot message holds the key with this action id.
bool holdsAction(const nlohmann::json& message, const std::string& actionId) {
    return message.dump().find("\"actionId\":\"" + actionId + "\"") != std::string::npos;
}

TEST(DeckEditorOnTheAgent, ASavedDeckIsStoredPushedAndServedByTheNextSync) {
    testing::Sandbox sandbox;
    sandbox.setEnv("DBUS_SESSION_BUS_ADDRESS", std::nullopt);  // pairings go to the file
    IoThread io;
    const auto decksFile = sandbox.dataHome() / "HarborlinkAgent" / "decks.json";
    auto agent =
        std::make_unique<Agent>(io.executor(), io.pool(),
                                AgentConfig{.port = 0, .decksPath = decksFile, .advertise = false});
    agent->start();
    std::uint16_t port = 0;
    std::string pin;
    ASSERT_TRUE(testing::waitUntil([&] {
        port = io.run(agent->listener().boundPort());
        pin = agent->viewModel().state().currentPIN;
        return port != 0 && !pin.empty();
    }));

    WsClient newcomer(port);
    newcomer.send(
        std::string(R"({"type":"pair.request","id":")") + pairId +
        R"(","payload":{"method":"pin","secret":")" + pin +
        R"(","deviceName":"Test Phone","deviceId":"6F9619FF-8B86-4D11-B42D-00C04FC964FF"}})");
    const auto paired = parsed(newcomer.receive(5s));
    ASSERT_EQ(paired["type"], "pair.ok") << paired.dump();
    WsClient phone(port, {{"X-Harborlink-Token", paired["payload"]["token"].get<std::string>()}});
    const std::string sync =
        std::string(R"({"type":"deck.sync","id":")") + syncId + R"(","payload":{}})";
    phone.send(sync);
    ASSERT_FALSE(holdsAction(parsed(phone.receive(5s)), "system.volume.mute"));

    auto editor = DeckEditorModel::create(agent->deckEditorContext());
    io.run(editor->load());
    auto addMute = [](DeckEditorState& state) { return state.drop({"system.volume.mute"}, 0); };
    ASSERT_TRUE(io.run(editor->update(addMute)));
    io.run(editor->save());
    EXPECT_EQ(editor->state().errorMessage, std::nullopt);

    const auto pushed = parsed(phone.receive(5s));
    EXPECT_EQ(pushed["type"], "decks.snapshot");
    EXPECT_TRUE(holdsAction(pushed, "system.volume.mute")) << pushed.dump();
    EXPECT_NE(testing::readTextFile(decksFile).find("system.volume.mute"), std::string::npos);
    phone.send(sync);
    EXPECT_TRUE(holdsAction(parsed(phone.receive(5s)), "system.volume.mute"));

    editor->close();
    io.run(agent->shutdown());
    io.drain();
}

}  // namespace
}  // namespace velopad::test
