#pragma once
// Shared by the proofs and the benchmark: the command line, frames, starting and pairing the real
// agent, its memory and open files, and phones on coroutines that may choose their address.

#include <sys/types.h>
#include <unistd.h>

#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent_core/async.h"
#include "tests/support/child_process.h"
#include "tests/support/ws_client.h"

namespace velopad::proof {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
using namespace std::chrono_literals;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using WebSocket = websocket::stream<beast::tcp_stream>;

inline constexpr std::uint16_t agentPort = 9847;

// Argument `index` of the command line as a number, or `fallback` when there is none.
template <class T>
T argument(int argc, char** argv, int index, T fallback) {
    return argc > index ? static_cast<T>(std::atof(argv[index])) : fallback;
}

inline double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline std::string messageId(unsigned prefix, unsigned long long n) {
    char text[48];
    std::snprintf(text, sizeof text, "%08X-0000-4000-8000-%012llX", prefix, n);
    return text;
}

inline std::string frame(const std::string& type, const std::string& id,
                         const std::string& payload) {
    return R"({"type":")" + type + R"(","id":")" + id + R"(","payload":)" + payload + "}";
}

inline std::string ping(const std::string& id) {
    return frame("ping", id, R"({"ts":"2024-05-01T10:00:00Z"})");
}

inline std::string iconRequest(const std::string& id, const std::vector<std::string>& bundleIds) {
    return frame("app.icon.request", id, nlohmann::json{{"bundleIds", bundleIds}}.dump());
}

// Resident memory (KiB), open file descriptors and user plus system CPU time of a process.
struct ProcessSample {
    long rssKiB = -1;
    int fds = -1;
    double cpuSeconds = 0;
};

inline ProcessSample sampleProcess(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream in(proc + "/stat");
    const std::string stat{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    unsigned long long user = 0, system = 0;  // fields 14, 15 and 24, after the name in parentheses
    long pages = 0;                           // (none when the process is gone: npos + 1 is 0)
    std::sscanf(
        stat.c_str() + (stat.rfind(')') + 1),
        " %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu %*s %*s %*s %*s %*s %*s %*s "
        "%*s %ld",
        &user, &system, &pages);
    std::error_code error;
    return {pages * sysconf(_SC_PAGESIZE) / 1024,
            static_cast<int>(
                std::distance(std::filesystem::directory_iterator(proc + "/fd", error), {})),
            static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK))};
}

// Awaits an operation leaving its failure in `error` instead of throwing.
inline auto awaitInto(beast::error_code& error) {
    return asio::redirect_error(asio::use_awaitable, error);
}

inline Task<void> pause(std::chrono::milliseconds duration) {
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(asio::use_awaitable);
}

// A phone on the agent's port, retried until `limit` passes while the agent starts.
inline std::optional<test::WsClient> connectWithin(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        try {
            return std::optional<test::WsClient>(std::in_place, agentPort);
        } catch (const std::exception&) {
            if (Clock::now() > deadline) return std::nullopt;
            std::this_thread::sleep_for(1ms);
        }
    }
}

// Pairs a phone called `deviceId` by `pin`, connecting within `limit`: the agent's reply, or none.
inline std::optional<std::string> pair(const std::string& pin, const std::string& deviceId,
                                       std::chrono::milliseconds limit) {
    auto phone = connectWithin(limit);
    if (!phone) return std::nullopt;
    phone->send(frame("pair.request", deviceId,
                      R"({"method":"pin","secret":")" + pin +
                          R"(","deviceName":"Proof Phone","deviceId":")" + deviceId + R"("})"));
    return phone->receive(5s);
}

// Waits for the started agent's PIN and pairs one phone by it: the phone's token, or none with
// the reason on standard error.
inline std::optional<std::string> startAndPair(test::AgentProcess& agent) {
    const auto pin = agent.waitForLine("PIN: ", 15s);
    const auto reply = pin ? pair(*pin, messageId(0xB0000000, 1), 10s) : std::nullopt;
    const auto json = nlohmann::json::parse(reply.value_or("{}"));
    if (json.value("type", "") == "pair.ok") return json["payload"]["token"].get<std::string>();
    std::fprintf(stderr, "pairing failed: %s\nthe agent's output:\n%s\n",
                 reply.value_or("(no answer)").c_str(), agent.output().c_str());
    return std::nullopt;
}

// Connects `stream` from `from` (an address of this host) to the agent's port.
inline Task<beast::error_code> connectFrom(beast::tcp_stream& stream, const std::string& from) {
    beast::error_code error;
    stream.socket().open(tcp::v4(), error);
    if (!error) stream.socket().bind({asio::ip::make_address(from), 0}, error);
    if (error) co_return error;
    const tcp::endpoint agent{asio::ip::make_address("127.0.0.1"), agentPort};
    co_await stream.async_connect(agent, awaitInto(error));
    if (!error) stream.socket().set_option(tcp::no_delay(true));
    co_return error;
}

// Connects from `from` and finishes the WebSocket handshake, sending the token header when there
// is a token.
inline Task<beast::error_code> openWebSocket(WebSocket& ws, const std::string& from,
                                             std::optional<std::string> token) {
    beast::error_code error = co_await connectFrom(beast::get_lowest_layer(ws), from);
    if (error) co_return error;
    ws.set_option(websocket::stream_base::decorator([token](websocket::request_type& request) {
        if (token) request.insert("X-Harborlink-Token", *token);
    }));
    co_await ws.async_handshake("127.0.0.1:9847", "/", awaitInto(error));
    co_return error;
}

// Runs `proof` to its end, reading the agent's output on the way (so that the agent never blocks
// on a full pipe), then stops the agent; shows its output when either failed. The proof's status.
inline int runProof(test::AgentProcess& agent, Task<int> proof) {
    asio::io_context context;
    auto result = asio::co_spawn(context, std::move(proof), asio::use_future);
    while (!context.stopped()) {
        context.run_for(100ms);
        while (agent.waitForLine("", 0ms)) {
        }
    }
    int status = 1;
    try {
        status = result.get();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    if (agent.terminate() != 0 || status != 0)
        std::fprintf(stderr, "the agent's output:\n%s\n", agent.output().c_str());
    return status;
}

}  // namespace velopad::proof
