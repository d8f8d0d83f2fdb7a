#include "app/listener/listener_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <nlohmann/json.hpp>

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
constexpr const char* id1 = "00000000-0000-4000-8000-000000000001";
constexpr const char* id2 = "00000000-0000-4000-8000-000000000002";

std::string ping(const std::string& id) {
    return R"({"type":"ping","id":")" + id + R"(","payload":{"ts":"2024-05-01T10:00:00Z"}})";
}
std::string launch(const std::string& id) {
    return R"({"type":"app.launch","id":")" + id + R"(","payload":{"bundleId":"firefox"}})";
}
// "<type> <id>" of a reply, or "<nothing>".
std::string summary(const std::optional<std::string>& text) {
    if (!text) return "<nothing>";
    const auto json = nlohmann::json::parse(*text);
    return json["type"].get<std::string>() + " " + json["id"].get<std::string>();
}
std::string typeOf(const std::optional<std::string>& text) {
    return summary(text).substr(0, summary(text).find(' '));
}

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
        std::getline(std::istream(&answer), line);
        return error ? std::string() : line;
    }
    // True once the agent has closed the connection; false if it is still open at the deadline.
    bool closedWithin(std::chrono::milliseconds limit) {
        char byte = 0;
        return testing::waitUntil(
            [&] {
                const ssize_t got = ::recv(socket.native_handle(), &byte, 1, MSG_DONTWAIT);
                return got == 0 || (got < 0 && errno != EAGAIN);
            },
            limit);
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
            ADD_FAILURE() << "never listened: " << status().lastError.value_or("no error");
        }
        return port;
    }
    ListenerStatus status() { return io.run(listener->status()); }
    // A phone whose connection is known to be served.
    std::unique_ptr<WsClient> connectPhone(std::uint16_t port,
                                           const WsClient::Headers& headers = withPairedToken) {
        auto phone = std::make_unique<WsClient>(port, headers);
        phone->send(ping(id1));
        EXPECT_EQ(summary(phone->receive()), std::string("pong ") + id1);
        return phone;
    }

    IoThread io;  // outlives everything that holds one of its strands
    FakeExecutors executors;
    RequestRouter router{executors};
    std::shared_ptr<ListenerService> listener;
};

TEST_F(ListenerServiceTest, ServesMessagesInOrderSkipsWhatItCannotReadAndPingsDuringALongRun) {
    executors.shortcutDuration = 3s;
    executors.shortcutReply = "{}";
    const auto port = startListening();
    WsClient phone(port, {{"x-HARBORLINK-token", pairedToken}});  // any letter case
    for (const std::string& unreadable :
         {std::string("{not json"), std::string(),
          R"({"type":"rocket.launch","id":")" + std::string(id1) + R"(","payload":{}})"})
        phone.send(unreadable);
    phone.ping();
    phone.sendBinary(ping(id1));
    phone.send(launch(id2));
    EXPECT_EQ(summary(phone.receive()), std::string("pong ") + id1);
    EXPECT_EQ(summary(phone.receive()), std::string("app.ok ") + id2);
    EXPECT_EQ(phone.pongsReceived(), 1) << "the control ping is answered too";

    phone.send(R"({"type":"shortcut.run","id":")" + std::string(id1) +
               R"(","payload":{"shortcutIdentifier":"S1"}})");
    phone.ping();
    EXPECT_EQ(phone.receive(1500ms), std::nullopt) << "the Shortcut is still running";
    EXPECT_EQ(phone.pongsReceived(), 2);
}

TEST_F(ListenerServiceTest, PushesGoToLivePairedConnectionsOnlyEachWithAFreshId) {
    executors.pairedTokens.insert("SECOND");
    const auto port = startListening();
    auto first = connectPhone(port);
    auto second = connectPhone(port, {{"X-Harborlink-Token", "SECOND"}});
    auto vanishing = connectPhone(port);
    WsClient stranger(port, {{"X-Harborlink-Token", "UNKNOWN"}});
    EXPECT_EQ(status().pushConnectionCount, 3u);
    vanishing.reset();  // a phone that vanishes leaves the push connections
    EXPECT_TRUE(testing::waitUntil([&] { return status().pushConnectionCount == 2; }));

    io.run(listener->pushDecks());
    const auto a = first->receive();
    EXPECT_EQ(typeOf(a), "decks.snapshot");
    EXPECT_EQ(a, second->receive());
    stranger.send(launch(id2));
    EXPECT_EQ(typeOf(stranger.receive()), "app.error") << "no push may reach an unpaired phone";

    // A phone unpaired since it connected receives no more pushes.
    executors.pairedTokens.erase("SECOND");
    io.run(listener->pushDecks());
    const auto b = first->receive();
    EXPECT_EQ(typeOf(b), "decks.snapshot");
    EXPECT_NE(summary(a), summary(b));
    second->send(launch(id2));
    EXPECT_EQ(typeOf(second->receive()), "app.error");
}

TEST_F(ListenerServiceTest, ASecondStartFailsAndStopKeepsConnectionsButEndsTheirPushes) {
    const auto port = startListening();
    EXPECT_THAT([&] { io.run(listener->start()); },
                ::testing::Throws<ListenerServiceException>(::testing::Property(
                    &ListenerServiceException::error, ListenerServiceError::alreadyRunning)));
    EXPECT_EQ(io.run(listener->boundPort()), port);
    auto phone = connectPhone(port);  // the running listener still serves
    io.run(listener->stop());
    EXPECT_FALSE(status().isRunning);
    EXPECT_EQ(status().pushConnectionCount, 0u);
    io.run(listener->pushDecks());
    phone->send(ping(id2));
    EXPECT_EQ(summary(phone->receive()), std::string("pong ") + id2)
        << "the open connection is still served, without a push";

    io.run(listener->start());
    auto fresh = connectPhone(waitForPort());
    io.run(listener->pushDecks());
    EXPECT_EQ(typeOf(fresh->receive()), "decks.snapshot");
    phone->send(ping(id2));
    EXPECT_EQ(typeOf(phone->receive()), "pong") << "no push reaches a connection from before";
}

TEST_F(ListenerServiceTest, DropsOversizedMessagesAndUnfinishedHandshakes) {
    const auto port = startListening({.limits = {.handshakeTimeout = 1s}});
    RawPeer silent(port);
    RawPeer halfway(port);
    halfway.send("GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\n");
    WsClient phone(port, withPairedToken);
    try {
        phone.send(std::string(2 * 1024 * 1024, 'x'));
    } catch (const std::exception&) {
        // the agent may close the connection while the frame is still being written
    }
    EXPECT_TRUE(phone.closedByServer());
    EXPECT_TRUE(silent.closedWithin(5s));
    EXPECT_TRUE(halfway.closedWithin(5s));
    connectPhone(port);
}

TEST_F(ListenerServiceTest, AFloodOfStrangersNeverLocksOutThePairedPhone) {
    const auto port = startListening({.maxUnpairedConnections = 4});
    auto before = connectPhone(port);

    // One peer holds idle upgrades, half-sent handshakes and finished unpaired connections.
    std::vector<std::unique_ptr<RawPeer>> flood;
    for (int i = 0; i < 12; ++i) {
        flood.push_back(std::make_unique<RawPeer>(port, "127.0.0.2"));
        if (i % 2) flood.back()->send("GET / HTTP/1.1\r\nHost: x\r\n");
    }
    auto after = connectPhone(port);
    before->send(ping(id2));
    EXPECT_EQ(summary(before->receive()), std::string("pong ") + id2);
    io.run(listener->pushDecks());
    EXPECT_EQ(typeOf(after->receive()), "decks.snapshot");

    // The flood's oldest connections made room for its newest; the newest are still held.
    EXPECT_TRUE(flood.front()->closedWithin(2s));
    EXPECT_FALSE(flood.back()->closedWithin(200ms));
}

TEST_F(ListenerServiceTest, RefusesWebPagesAndKeepsEachHandshakesOwnHeaders) {
    const auto port = startListening();
    // The paired phone starts its handshake and finishes it only after the others.
    RawPeer slow(port);
    const std::string request = upgradeRequest(port, "X-Harborlink-Token: " + pairedToken + "\r\n");
    slow.send(request.substr(0, request.size() - 2));
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
    WsClient stranger(port);
    slow.send("\r\n");
    stranger.send(launch(id2));
    EXPECT_EQ(summary(stranger.receive()), std::string("app.error ") + id2)
        << "a stranger must never borrow the phone's token";
}

struct MockAdvertiser : ServiceAdvertising {
    MOCK_METHOD(void, advertise, (const std::string& name, std::uint16_t port), (override));
    MOCK_METHOD(void, withdraw, (), (override));
};

TEST_F(ListenerServiceTest, AdvertisesAComputerWithoutANameAsVelopadMacUntilShutDown) {
    MockAdvertiser advertiser;
    std::atomic<std::uint16_t> advertised = 0;
    EXPECT_CALL(advertiser, advertise("Velopad Mac", ::testing::_))
        .WillOnce([&](const std::string&, std::uint16_t port) { advertised = port; });
    EXPECT_CALL(advertiser, withdraw()).Times(::testing::AtLeast(1));
    const auto port = startListening({.advertiser = &advertiser});
    EXPECT_TRUE(testing::waitUntil([&] { return advertised == port; }));
    io.run(listener->shutdown());  // while the advertiser still exists
}

}  // namespace
}  // namespace velopad::test
