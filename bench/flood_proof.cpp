// A flood from one peer while the paired phone comes and goes: each round opens <unpaired>
// WebSocket connections without a token and <half-open> TCP connections that send part of a
// handshake and fall silent, all from 127.0.0.2, then the paired phone connects from
// 127.0.0.1, pings, and receives a push typed at the agent's terminal. Every round the phone
// must be served within 5 s per step, while new unpaired connections keep coming.
//   flood_proof [rounds] [unpaired] [half-open]      (20, 500, 200)
// Run it inside a private network namespace with temporary XDG directories (bench/run-flood).

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <cstdlib>
#include <list>
#include <memory>

#include "bench/proof_support.h"

namespace {

using namespace velopad;
using namespace velopad::proof;
using namespace std::chrono_literals;

const std::string fromFlood = "127.0.0.2";
const std::string fromPhone = "127.0.0.1";

struct FloodCounts {
    int settled = 0;        // connected and handshaken, or failed doing so
    int upgraded = 0;       // unpaired WebSockets that finished their handshake
    int closedByAgent = 0;  // flood connections the agent ended (refused, evicted, timed out)
};

Task<void> unpairedConnection(std::shared_ptr<WebSocket> ws, std::shared_ptr<FloodCounts> counts) {
    const beast::error_code error = co_await openWebSocket(*ws, fromFlood, std::nullopt);
    ++counts->settled;
    if (error) {
        ++counts->closedByAgent;
        co_return;
    }
    ++counts->upgraded;
    beast::flat_buffer buffer;
    auto [readError, n] = co_await ws->async_read(buffer, asio::as_tuple(asio::use_awaitable));
    (void)n;
    if (readError != asio::error::operation_aborted) ++counts->closedByAgent;
}

Task<void> halfOpenConnection(std::shared_ptr<tcp::socket> socket,
                              std::shared_ptr<FloodCounts> counts) {
    beast::error_code error;
    socket->open(tcp::v4(), error);
    if (!error) socket->bind({asio::ip::make_address(fromFlood), 0}, error);
    if (!error) {
        auto [connectError] = co_await socket->async_connect(
            {asio::ip::make_address("127.0.0.1"), agentPort}, asio::as_tuple(asio::use_awaitable));
        error = connectError;
    }
    const std::string part = "GET / HTTP/1.1\r\nHost: 127.0.0.1:9847\r\nUpgrade: websocket\r\n";
    if (!error) {
        auto [writeError, written] = co_await asio::async_write(
            *socket, asio::buffer(part), asio::as_tuple(asio::use_awaitable));
        (void)written;
        error = writeError;
    }
    ++counts->settled;
    if (error) {
        ++counts->closedByAgent;
        co_return;
    }
    char byte;
    auto [readError, n] = co_await socket->async_read_some(asio::buffer(&byte, 1),
                                                           asio::as_tuple(asio::use_awaitable));
    (void)n;
    if (readError != asio::error::operation_aborted) ++counts->closedByAgent;
}

Task<void> pause(std::chrono::milliseconds duration) {
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(asio::use_awaitable);
}

// The next text message, or "" when none came before the stream's deadline.
Task<std::string> receiveText(WebSocket& ws) {
    beast::flat_buffer buffer;
    beast::get_lowest_layer(ws).expires_after(5s);
    auto [error, n] = co_await ws.async_read(buffer, asio::as_tuple(asio::use_awaitable));
    (void)n;
    if (error) co_return std::string();
    co_return beast::buffers_to_string(buffer.data());
}

std::string typeOf(const std::string& text) {
    try {
        return nlohmann::json::parse(text).value("type", "");
    } catch (const std::exception&) {
        return "";
    }
}

// Connects, pings and waits for a push; the step that failed, or "" when served.
Task<std::string> servePhone(const std::string& token, test::AgentProcess& agent, int round) {
    WebSocket ws(co_await asio::this_coro::executor);
    beast::get_lowest_layer(ws).expires_after(5s);
    const beast::error_code error = co_await openWebSocket(ws, fromPhone, token);
    if (error) co_return "connect: " + error.message();
    const std::string id = messageId(0xC0000000, static_cast<unsigned long long>(round));
    beast::get_lowest_layer(ws).expires_after(5s);
    const std::string pingText = ping(id);
    auto [writeError, written] =
        co_await ws.async_write(asio::buffer(pingText), asio::as_tuple(asio::use_awaitable));
    (void)written;
    if (writeError) co_return "ping: " + writeError.message();
    const std::string pong = co_await receiveText(ws);
    if (typeOf(pong) != "pong" || pong.find(id) == std::string::npos)
        co_return "pong: " + (pong.empty() ? std::string("nothing in 5 s") : pong.substr(0, 80));
    agent.command("push");
    const std::string pushed = co_await receiveText(ws);
    if (typeOf(pushed) != "decks.snapshot")
        co_return "push: " +
            (pushed.empty() ? std::string("nothing in 5 s") : pushed.substr(0, 80));
    beast::get_lowest_layer(ws).expires_after(2s);
    auto [closeError] =
        co_await ws.async_close(websocket::close_code::normal, asio::as_tuple(asio::use_awaitable));
    (void)closeError;
    co_return std::string();
}

// Keeps reading the agent's output so that it never blocks on a full pipe.
Task<void> drainOutput(test::AgentProcess& agent, const bool& done) {
    while (!done) {
        while (agent.waitForLine("", 0ms)) {
        }
        co_await pause(100ms);
    }
}

Task<void> churn(std::shared_ptr<bool> churning, std::shared_ptr<FloodCounts> counts,
                 std::list<std::shared_ptr<WebSocket>>& webSockets) {
    const auto executor = co_await asio::this_coro::executor;
    for (int i = 0; *churning && i < 5000; ++i) {
        webSockets.push_back(std::make_shared<WebSocket>(executor));
        asio::co_spawn(executor, unpairedConnection(webSockets.back(), counts), asio::detached);
        co_await pause(1ms);
    }
}

Task<int> run(test::AgentProcess& agent, const std::string& token, int rounds, int unpaired,
              int halfOpen) {
    const auto executor = co_await asio::this_coro::executor;
    int served = 0;
    std::list<std::shared_ptr<WebSocket>> webSockets;
    std::list<std::shared_ptr<tcp::socket>> sockets;
    for (int round = 1; round <= rounds; ++round) {
        for (auto& ws : webSockets) beast::get_lowest_layer(*ws).close();
        for (auto& socket : sockets) socket->close();
        webSockets.clear();
        sockets.clear();
        co_await pause(200ms);

        // The unpaired connections come in waves of 50, each let finish its handshakes (or be
        // turned away) before the next, then the half-open ones all at once; the phone comes
        // when the flood has taken its places or is held at the door.
        auto counts = std::make_shared<FloodCounts>();
        for (int i = 0; i < unpaired; ++i) {
            webSockets.push_back(std::make_shared<WebSocket>(executor));
            asio::co_spawn(executor, unpairedConnection(webSockets.back(), counts), asio::detached);
            if ((i + 1) % 50 != 0 && i + 1 != unpaired) continue;
            const auto waveDeadline = Clock::now() + 3s;
            while (counts->settled < i + 1 && Clock::now() < waveDeadline) co_await pause(5ms);
        }
        for (int i = 0; i < halfOpen; ++i) {
            sockets.push_back(std::make_shared<tcp::socket>(executor));
            asio::co_spawn(executor, halfOpenConnection(sockets.back(), counts), asio::detached);
        }
        const auto floodDeadline = Clock::now() + 3s;
        while (counts->settled < unpaired + halfOpen && Clock::now() < floodDeadline)
            co_await pause(20ms);

        // And the flood goes on while the phone is there: a new unpaired connection every
        // millisecond, from its handshake to the push.
        auto churning = std::make_shared<bool>(true);
        asio::co_spawn(executor, churn(churning, counts, webSockets), asio::detached);
        const auto start = Clock::now();
        const std::string failure = co_await servePhone(token, agent, round);
        *churning = false;
        const double millis =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (failure.empty()) ++served;
        std::printf(
            "round %2d: phone %s in %6.1f ms; flood: %zu connections opened, %d unpaired "
            "WebSocket handshakes finished, %d connections closed by the agent\n",
            round, failure.empty() ? "served" : ("NOT served (" + failure + ")").c_str(), millis,
            webSockets.size() + sockets.size(), counts->upgraded, counts->closedByAgent);
        std::fflush(stdout);
    }
    for (auto& ws : webSockets) beast::get_lowest_layer(*ws).close();
    for (auto& socket : sockets) socket->close();
    std::printf("flood: the paired phone was served in %d of %d rounds\n", served, rounds);
    co_return served == rounds ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int unpaired = argc > 2 ? std::atoi(argv[2]) : 500;
    const int halfOpen = argc > 3 ? std::atoi(argv[3]) : 200;

    test::AgentProcess agent;
    const auto token = startAndPair(agent);
    if (!token) return 1;

    asio::io_context context;
    bool done = false;
    int status = 1;
    asio::co_spawn(context, drainOutput(agent, done), asio::detached);
    asio::co_spawn(context, run(agent, *token, rounds, unpaired, halfOpen),
                   [&](std::exception_ptr error, int result) {
                       done = true;
                       if (error) {
                           try {
                               std::rethrow_exception(error);
                           } catch (const std::exception& e) {
                               std::fprintf(stderr, "flood_proof: %s\n", e.what());
                           }
                       }
                       status = error ? 1 : result;
                   });
    context.run();
    agent.terminate();
    return status;
}
