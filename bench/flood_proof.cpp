// Each round opens <unpaired> WebSockets without a token and <half-open> TCP connections that
// send part of a handshake and fall silent, all from 127.0.0.2; then, while new unpaired ones
// keep coming, the paired phone connects from 127.0.0.1, pings and receives a push typed at the
// agent's terminal, within 5 s per step.
//   flood_proof [rounds] [unpaired] [half-open]      (20, 500, 200; run through bench/run-flood)

#include <boost/asio/write.hpp>
#include <list>
#include <memory>

#include "bench/proof_support.h"

namespace {

using namespace velopad;
using namespace velopad::proof;

struct Flood {
    std::list<std::shared_ptr<WebSocket>> connections;
    int settled = 0;        // connected and handshaken, or failed doing so
    int upgraded = 0;       // unpaired WebSockets that finished their handshake
    int closedByAgent = 0;  // connections the agent ended (refused, evicted, timed out)
    bool churning = false;

    void close() {
        for (auto& ws : connections) beast::get_lowest_layer(*ws).close();
    }
};

// A connection from 127.0.0.2: an unpaired WebSocket, or a TCP connection that sends part of a
// handshake; either then waits for the agent to end it.
Task<void> floodConnection(std::shared_ptr<WebSocket> ws, std::shared_ptr<Flood> flood,
                           bool halfOpen) {
    auto& stream = beast::get_lowest_layer(*ws);
    const std::string part = "GET / HTTP/1.1\r\nHost: 127.0.0.1:9847\r\nUpgrade: websocket\r\n";
    beast::error_code error;
    if (halfOpen) {
        error = co_await connectFrom(stream, "127.0.0.2");
        if (!error) co_await asio::async_write(stream, asio::buffer(part), awaitInto(error));
    } else {
        error = co_await openWebSocket(*ws, "127.0.0.2", std::nullopt);
        flood->upgraded += !error;
    }
    ++flood->settled;
    char byte;
    beast::flat_buffer buffer;
    if (!error && halfOpen)
        co_await stream.async_read_some(asio::buffer(&byte, 1), awaitInto(error));
    if (!error && !halfOpen) co_await ws->async_read(buffer, awaitInto(error));
    flood->closedByAgent += error != asio::error::operation_aborted;
}

void spawnConnection(const std::shared_ptr<Flood>& flood, bool halfOpen, const Executor& executor) {
    flood->connections.push_back(std::make_shared<WebSocket>(executor));
    asio::co_spawn(executor, floodConnection(flood->connections.back(), flood, halfOpen),
                   asio::detached);
}

// A new unpaired connection every millisecond while the phone is served.
Task<void> churn(std::shared_ptr<Flood> flood) {
    const auto executor = co_await asio::this_coro::executor;
    for (int i = 0; flood->churning && i < 5000; ++i) {
        spawnConnection(flood, false, executor);
        co_await pause(1ms);
    }
}

// The next message as JSON; an object saying what went wrong when there is none.
Task<nlohmann::json> receiveJson(WebSocket& ws) {
    beast::flat_buffer buffer;
    beast::error_code error;
    beast::get_lowest_layer(ws).expires_after(5s);
    co_await ws.async_read(buffer, awaitInto(error));
    const std::string text = error ? "nothing in 5 s" : beast::buffers_to_string(buffer.data());
    const auto json = nlohmann::json::parse(text, nullptr, false);
    co_return json.is_object() ? json : nlohmann::json{{"unreadable", text.substr(0, 80)}};
}

// Connects, pings and waits for a push; the step that failed, or "" when served.
Task<std::string> servePhone(const std::string& token, test::AgentProcess& agent, int round) {
    WebSocket ws(co_await asio::this_coro::executor);
    beast::get_lowest_layer(ws).expires_after(5s);
    beast::error_code error = co_await openWebSocket(ws, "127.0.0.1", token);
    if (error) co_return "connect: " + error.message();
    const std::string id = messageId(0xC0000000, static_cast<unsigned long long>(round));
    const std::string pingText = ping(id);
    beast::get_lowest_layer(ws).expires_after(5s);
    co_await ws.async_write(asio::buffer(pingText), awaitInto(error));
    if (error) co_return "ping: " + error.message();
    const nlohmann::json pong = co_await receiveJson(ws);
    if (pong.value("type", "") != "pong" || pong.value("id", "") != id)
        co_return "pong: " + pong.dump().substr(0, 80);
    agent.command("push");
    const nlohmann::json pushed = co_await receiveJson(ws);
    if (pushed.value("type", "") != "decks.snapshot")
        co_return "push: " + pushed.dump().substr(0, 80);
    beast::get_lowest_layer(ws).expires_after(2s);
    co_await ws.async_close(websocket::close_code::normal, awaitInto(error));
    co_return std::string();
}

Task<int> flood(test::AgentProcess& agent, std::string token, int rounds, int unpaired,
                int halfOpen) {
    const auto executor = co_await asio::this_coro::executor;
    int served = 0;
    auto flood = std::make_shared<Flood>();
    for (int round = 1; round <= rounds; ++round) {
        flood->close();
        flood = std::make_shared<Flood>();
        co_await pause(200ms);
        // The unpaired connections come in waves of 50, each let finish its handshakes (or be
        // turned away) before the next, then the half-open ones all at once; the phone comes
        // when the flood has taken its places or is held at the door.
        for (int i = 0; i < unpaired + halfOpen; ++i) {
            spawnConnection(flood, i >= unpaired, executor);
            const int opened = i + 1;
            if (opened <= unpaired ? opened % 50 != 0 && opened != unpaired
                                   : opened != unpaired + halfOpen)
                continue;
            const auto deadline = Clock::now() + 3s;
            while (flood->settled < opened && Clock::now() < deadline) co_await pause(5ms);
        }
        flood->churning = true;
        asio::co_spawn(executor, churn(flood), asio::detached);
        const auto start = Clock::now();
        const std::string failure = co_await servePhone(token, agent, round);
        flood->churning = false;
        served += failure.empty();
        std::printf(
            "round %2d: phone %s in %6.1f ms; flood: %zu connections opened, %d unpaired "
            "WebSocket handshakes finished, %d connections closed by the agent\n",
            round, failure.empty() ? "served" : ("NOT served (" + failure + ")").c_str(),
            millisecondsSince(start), flood->connections.size(), flood->upgraded,
            flood->closedByAgent);
        std::fflush(stdout);
    }
    flood->close();
    std::printf("flood: the paired phone was served in %d of %d rounds\n", served, rounds);
    co_return served == rounds ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    test::AgentProcess agent;
    const auto token = startAndPair(agent);
    if (!token) return 1;
    return runProof(agent, flood(agent, *token, argument(argc, argv, 1, 20),
                                 argument(argc, argv, 2, 500), argument(argc, argv, 3, 200)));
}
