#include "app/listener/listener_service.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/listener/request_router.h"
#include "app/listener/service_advertising.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_executors.h"
#include "tests/support/io_thread.h"
#include "tests/support/ws_client.h"

namespace velopad::test {
namespace {

using namespace std::chrono_literals;

const std::string pairedToken = "5E0C1D2A-3B4C-4D5E-8F60-718293A4B5C6";
const WsClient::Headers withPairedToken{{"X-Harborlink-Token", pairedToken}};

std::string ping(const std::string& id) {
    return R"({"type":"ping","id":")" + id + R"(","payload":{"ts":"2024-05-01T10:00:00Z"}})";
}
std::string launch(const std::string& id) {
    return R"({"type":"app.launch","id":")" + id + R"(","payload":{"bundleId":"firefox"}})";
}
std::string idOf(const std::optional<std::string>& text) {
    return text ? nlohmann::json::parse(*text)["id"].get<std::string>() : "<nothing>";
}
std::string typeOf(const std::optional<std::string>& text) {
    return text ? nlohmann::json::parse(*text)["type"].get<std::string>() : "<nothing>";
}

constexpr const char* id1 = "00000000-0000-4000-8000-000000000001";
constexpr const char* id2 = "00000000-0000-4000-8000-000000000002";

// A raw TCP peer that speaks as much of the upgrade request as a test wants it to.
struct RawPeer {
    RawPeer(std::uint16_t port, const std::string& source = "127.0.0.1") : socket(context) {
        socket.open(boost::asio::ip::tcp::v4());
        socket.bind({boost::asio::ip::make_address(source), 0});
        socket.connect({boost::asio::ip::make_address("127.0.0.1"), port});
    }
    void send(const std::string& text) { boost::asio::write(socket, boost::asio::buffer(text)); }
    // The status line of the answer, or empty when the agent closed the connection instead.
    std::string statusLine() {
        boost::asio::streambuf answer;
        boost::system::error_code error;
        boost::asio::read_until(socket, answer, "\r\n", error);
        std::string line;
        std::istream(&answer) >> std::ws;
        std::getline(std::istream(&answer), line);
        return error ? std::string() : line;
    }
    // True once the agent has closed the connection; false if it is still open at the deadline.
    bool closedWithin(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        char byte = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            const ssize_t got = ::recv(socket.native_handle(), &byte, 1, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN)) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    boost::asio::io_context context;
    boost::asio::ip::tcp::socket socket;
};

std::string upgradeRequest(std::uint16_t port, const std::string& extra) {
    return "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
           extra + "\r\n";
}

class ListenerServiceTest : public ::testing::Test {
  protected:
    void SetUp() override { executors.pairedTokens = {pairedToken}; }
    void TearDown() override {
        if (listener) io.run(listener->shutdown());
        io.drain();
    }

    std::uint16_t startListening(ListenerOptions options = {}) {
        options.port = 0;  // a free port: never the real one outside a private namespace
        listener = ListenerService::create(io.executor(), router, std::move(options));
        io.run(listener->start());
        return waitForPort();
    }
    std::uint16_t waitForPort() {
        std::uint16_t port = 0;
        if (!testing::waitUntil([&] { return (port = io.run(listener->boundPort())) != 0; })) {
            ADD_FAILURE() << "listener never became ready: "
                          << status().lastError.value_or("no error");
        }
        return port;
    }
    ListenerStatus status() { return io.run(listener->status()); }
    void startOnHeldPort(std::uint16_t port, std::chrono::milliseconds retryDelay) {
        listener = ListenerService::create(io.executor(), router,
                                           {.port = port, .portConflictRetryDelay = retryDelay});
        io.run(listener->start());
    }

    IoThread io;  // outlives everything that holds one of its strands
    FakeExecutors executors;
    RequestRouter router{executors};
    std::shared_ptr<ListenerService> listener;
};

TEST_F(ListenerServiceTest, ServesMessagesInOrderAndSkipsWhatItCannotRead) {
    const auto port = startListening();
    EXPECT_TRUE(status().isRunning);
    WsClient phone(port, {{"x-HARBORLINK-token", pairedToken}});  // any letter case
    phone.send("{not json");
    phone.send("");
    phone.ping();
    phone.send(R"({"type":"rocket.launch","id":")" + std::string(id1) + R"(","payload":{}})");
    phone.sendBinary(ping(id1));
    phone.send(launch(id2));
    auto first = phone.receive();
    auto second = phone.receive();
    EXPECT_EQ(typeOf(first), "pong");
    EXPECT_EQ(idOf(first), id1);
    EXPECT_EQ(typeOf(second), "app.ok");
    EXPECT_EQ(idOf(second), id2);
    EXPECT_EQ(phone.pongsReceived(), 1) << "the control ping is answered too";
}

TEST_F(ListenerServiceTest, ConnectionWithoutTokenIsServedButRefused) {
    const auto port = startListening();
    WsClient stranger(port);
    stranger.send(ping(id1));  // no answer at all
    stranger.send(launch(id2));
    auto reply = stranger.receive();
    EXPECT_EQ(typeOf(reply), "app.error");
    EXPECT_EQ(idOf(reply), id2);
    EXPECT_EQ(status().pushConnectionCount, 0u);
}

TEST_F(ListenerServiceTest, OverlappingHandshakesKeepTheirOwnHeaders) {
    const auto port = startListening();
    // The paired phone starts its handshake but has not finished sending its headers ...
    RawPeer slow(port);
    const std::string request = upgradeRequest(port, "X-Harborlink-Token: " + pairedToken + "\r\n");
    slow.send(request.substr(0, request.size() - 2));
    // ... while a stranger connects and completes its handshake without a token.
    WsClient stranger(port);
    slow.send("\r\n");
    stranger.send(ping(id1));
    stranger.send(launch(id2));
    auto reply = stranger.receive();
    EXPECT_EQ(typeOf(reply), "app.error") << "a stranger must never borrow the phone's token";
}

TEST_F(ListenerServiceTest, PushesGoToPairedConnectionsOnly) {
    executors.pairedTokens.insert("SECOND");
    const auto port = startListening();
    WsClient first(port, withPairedToken);
    WsClient second(port, {{"X-Harborlink-Token", "SECOND"}});
    WsClient stranger(port, {{"X-Harborlink-Token", "UNKNOWN"}});
    // A round trip on each makes sure every connection is ready before the push.
    for (auto* client : {&first, &second}) {
        client->send(ping(id1));
        ASSERT_EQ(typeOf(client->receive()), "pong");
    }
    EXPECT_EQ(status().pushConnectionCount, 2u);

    io.run(listener->pushDecks());
    auto a = first.receive();
    auto b = second.receive();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a, *b);
    EXPECT_EQ(typeOf(a), "decks.snapshot");
    EXPECT_NE(idOf(a), id1);
    stranger.send(launch(id2));
    EXPECT_EQ(typeOf(stranger.receive()), "app.error") << "no push may reach an unpaired phone";

    io.run(listener->pushDecks());
    EXPECT_NE(idOf(first.receive()), idOf(a)) << "each push has a fresh id";
    EXPECT_EQ(typeOf(second.receive()), "decks.snapshot");

    // A phone unpaired since it connected receives no more pushes.
    executors.pairedTokens.erase("SECOND");
    io.run(listener->pushDecks());
    EXPECT_EQ(typeOf(first.receive()), "decks.snapshot");
    second.send(launch(id2));
    EXPECT_EQ(typeOf(second.receive()), "app.error");
}

TEST_F(ListenerServiceTest, APhoneThatVanishesLeavesThePushConnections) {
    const auto port = startListening();
    WsClient stays(port, withPairedToken);
    auto vanishing = std::make_unique<WsClient>(port, withPairedToken);
    for (auto* client : {&stays, vanishing.get()}) {
        client->send(ping(id1));
        ASSERT_EQ(typeOf(client->receive()), "pong");
    }
    ASSERT_EQ(status().pushConnectionCount, 2u);
    vanishing.reset();
    EXPECT_TRUE(testing::waitUntil([&] { return status().pushConnectionCount == 1; }));
    io.run(listener->pushDecks());
    EXPECT_EQ(typeOf(stays.receive()), "decks.snapshot");
}

TEST_F(ListenerServiceTest, StopKeepsConnectionsButEndsTheirPushesEvenAfterARestart) {
    const auto port = startListening();
    WsClient phone(port, withPairedToken);
    phone.send(ping(id1));
    ASSERT_EQ(typeOf(phone.receive()), "pong");
    io.run(listener->stop());
    EXPECT_FALSE(status().isRunning);
    EXPECT_EQ(status().pushConnectionCount, 0u);
    io.run(listener->pushDecks());
    phone.send(ping(id2));
    auto reply = phone.receive();
    EXPECT_EQ(typeOf(reply), "pong") << "the open connection is still served, without a push";
    EXPECT_EQ(idOf(reply), id2);

    io.run(listener->start());
    WsClient fresh(waitForPort(), withPairedToken);
    fresh.send(ping(id1));
    ASSERT_EQ(typeOf(fresh.receive()), "pong");
    io.run(listener->pushDecks());
    EXPECT_EQ(typeOf(fresh.receive()), "decks.snapshot");
    phone.send(ping(id2));
    EXPECT_EQ(typeOf(phone.receive()), "pong") << "no push reaches a connection from before";
}

TEST_F(ListenerServiceTest, DropsAPeerThatSendsAnOversizedMessage) {
    const auto port = startListening();
    WsClient phone(port, withPairedToken);
    try {
        phone.send(std::string(2 * 1024 * 1024, 'x'));
    } catch (const std::exception&) {
        // the agent may close the connection while the frame is still being written
    }
    EXPECT_TRUE(phone.closedByServer());
    WsClient next(port, withPairedToken);
    next.send(ping(id1));
    EXPECT_EQ(typeOf(next.receive()), "pong");
}

TEST_F(ListenerServiceTest, AFloodOfStrangersNeverLocksOutThePairedPhone) {
    ListenerOptions options;
    options.maxUnpairedConnections = 4;
    const auto port = startListening(options);
    WsClient before(port, withPairedToken);
    before.send(ping(id1));
    ASSERT_EQ(typeOf(before.receive()), "pong");

    // One peer holds idle upgrades, half-sent handshakes and finished unpaired connections.
    std::vector<std::unique_ptr<RawPeer>> flood;
    for (int i = 0; i < 12; ++i) {
        flood.push_back(std::make_unique<RawPeer>(port, "127.0.0.2"));
        if (i % 2) flood.back()->send("GET / HTTP/1.1\r\nHost: x\r\n");
    }
    WsClient after(port, withPairedToken);
    after.send(ping(id2));
    EXPECT_EQ(idOf(after.receive()), id2);
    before.send(ping(id1));
    EXPECT_EQ(idOf(before.receive()), id1);
    io.run(listener->pushDecks());
    EXPECT_EQ(typeOf(after.receive()), "decks.snapshot");

    // The flood's oldest connections made room for its newest; the newest are still held.
    EXPECT_TRUE(flood.front()->closedWithin(2s));
    EXPECT_FALSE(flood.back()->closedWithin(200ms));
}

TEST_F(ListenerServiceTest, AHandshakeThatDoesNotFinishInTimeIsDropped) {
    ListenerOptions options;
    options.limits.handshakeTimeout = 1s;
    const auto port = startListening(options);
    RawPeer silent(port);
    RawPeer halfway(port);
    halfway.send("GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\n");
    EXPECT_TRUE(silent.closedWithin(5s));
    EXPECT_TRUE(halfway.closedWithin(5s));
}

TEST_F(ListenerServiceTest, WebPagesAreRefusedAndNativeClientsAccepted) {
    const auto port = startListening();
    const std::string self = "http://127.0.0.1:" + std::to_string(port);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "HTTP/1.1 101"},
        {"Origin: " + self + "\r\n", "HTTP/1.1 101"},
        {"Origin: http://evil.example\r\n", "HTTP/1.1 403"},
        {"Origin: http://127.0.0.1:8080\r\n", "HTTP/1.1 403"},
        {"Origin: null\r\n", "HTTP/1.1 403"},
    };
    for (const auto& [header, expected] : cases) {
        RawPeer peer(port);
        peer.send(upgradeRequest(port, header));
        EXPECT_EQ(peer.statusLine().substr(0, expected.size()), expected) << header;
    }
}

TEST_F(ListenerServiceTest, PingsAreAnsweredWhileALongRequestRuns) {
    executors.shortcutDuration = 3s;
    executors.shortcutReply = "{}";
    const auto port = startListening();
    WsClient phone(port, withPairedToken);
    phone.send(R"({"type":"shortcut.run","id":")" + std::string(id1) +
               R"(","payload":{"shortcutIdentifier":"S1"}})");
    phone.ping();
    EXPECT_EQ(phone.receive(1500ms), std::nullopt) << "the Shortcut is still running";
    EXPECT_EQ(phone.pongsReceived(), 1);
}

TEST_F(ListenerServiceTest, ConnectionsAreWatchedByTcpKeepaliveNotAnIdleTimer) {
    const auto port = startListening();
    WsClient phone(port, withPairedToken);
    phone.send(ping(id1));
    ASSERT_EQ(typeOf(phone.receive()), "pong");
    // The agent's side of the connection carries a keepalive timer of about a minute (while a
    // reply is still unacknowledged the retransmission timer shows instead).
    const std::vector<std::string> ss{"ss", "-tno", "state", "established",
                                      "( sport = :" + std::to_string(port) + " )"};
    std::string output;
    testing::waitUntil([&] {
        output = testing::runCapturingOutput(ss).second;
        return output.find("keepalive") != std::string::npos;
    });
    EXPECT_NE(output.find("timer:(keepalive,"), std::string::npos) << output;
}

// Records what the listener advertises.
struct RecordingAdvertiser : ServiceAdvertising {
    void advertise(const std::string& name, std::uint16_t port) override {
        std::lock_guard lock(mutex);
        advertised = name + ":" + std::to_string(port);
    }
    void withdraw() override {}
    std::string last() {
        std::lock_guard lock(mutex);
        return advertised;
    }
    std::mutex mutex;
    std::string advertised;
};

TEST_F(ListenerServiceTest, AdvertisesAComputerWithoutANameAsVelopadMac) {
    RecordingAdvertiser advertiser;
    const auto port = startListening({.advertiser = &advertiser});
    EXPECT_TRUE(testing::waitUntil([&] { return !advertiser.last().empty(); }));
    EXPECT_EQ(advertiser.last(), "Velopad Mac:" + std::to_string(port));
    io.run(listener->shutdown());
}

TEST_F(ListenerServiceTest, ASecondStartFailsAndLeavesTheListenerServing) {
    const auto port = startListening();
    try {
        io.run(listener->start());
        FAIL() << "expected alreadyRunning";
    } catch (const ListenerServiceException& error) {
        EXPECT_EQ(error.error(), ListenerServiceError::alreadyRunning);
    }
    EXPECT_TRUE(status().isRunning);
    EXPECT_EQ(io.run(listener->boundPort()), port);
    WsClient phone(port, withPairedToken);
    phone.send(ping(id1));
    EXPECT_EQ(typeOf(phone.receive()), "pong");
}

TEST_F(ListenerServiceTest, RetriesAPortConflictEightTimesThenStaysFailed) {
    // Another program holds the port (without address reuse, like a foreign server).
    boost::asio::io_context context;
    boost::asio::ip::tcp::acceptor holder(context, {boost::asio::ip::tcp::v4(), 0});
    const auto port = holder.local_endpoint().port();
    startOnHeldPort(port, 20ms);
    testing::waitUntil([&] { return status().portConflictRetries >= 8; });
    std::this_thread::sleep_for(100ms);
    auto failed = status();
    EXPECT_FALSE(failed.isRunning);
    EXPECT_EQ(failed.portConflictRetries, 8);
    EXPECT_EQ(failed.lastError, "Port " + std::to_string(port) +
                                    " is already in use. Quit the other Velopad Agent first.");

    // Once the port is free, a restart (as the view model's recovery does) succeeds and resets.
    holder.close();
    io.run(listener->stop());
    io.run(listener->resetPortConflictRetries());
    io.run(listener->start());
    EXPECT_EQ(waitForPort(), port);
    EXPECT_EQ(status().portConflictRetries, 0);
    EXPECT_FALSE(status().lastError);
}

TEST_F(ListenerServiceTest, APortFreedDuringRetriesIsTaken) {
    boost::asio::io_context context;
    std::optional<boost::asio::ip::tcp::acceptor> holder{
        std::in_place, context, boost::asio::ip::tcp::endpoint{boost::asio::ip::tcp::v4(), 0}};
    const auto port = holder->local_endpoint().port();
    startOnHeldPort(port, 100ms);
    testing::waitUntil([&] { return status().portConflictRetries >= 2; });
    holder.reset();
    EXPECT_EQ(waitForPort(), port);
    EXPECT_TRUE(status().isRunning);
    EXPECT_EQ(status().portConflictRetries, 0);
}

}  // namespace
}  // namespace velopad::test
