#pragma once
// Shared by the load proofs: starting and pairing the real agent, sampling its memory and open
// files, and WebSocket clients on coroutines that may choose their local address.

#include <dirent.h>
#include <sys/types.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "agent_core/async.h"
#include "tests/support/agent_process.h"
#include "tests/support/ws_client.h"

namespace velopad::proof {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using WebSocket = websocket::stream<beast::tcp_stream>;

inline constexpr std::uint16_t agentPort = 9847;

inline std::string messageId(unsigned prefix, unsigned long long n) {
    char text[40];
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

// Resident memory (KiB) and open file descriptors of a process.
struct ProcessSample {
    long rssKiB = -1;
    int fds = -1;
};

inline ProcessSample sampleProcess(pid_t pid) {
    ProcessSample sample;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) sample.rssKiB = std::stol(line.substr(6));
    }
    if (DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        sample.fds = 0;
        while (const dirent* entry = readdir(fds)) {
            if (entry->d_name[0] != '.') ++sample.fds;
        }
        closedir(fds);
    }
    return sample;
}

// Starts the agent (it prints its PIN once it is set up) and pairs one phone by PIN; returns
// the phone's token, or none with the reason on standard error.
inline std::optional<std::string> startAndPair(test::AgentProcess& agent) {
    const auto pin = agent.waitForLine("PIN: ", std::chrono::seconds(15));
    if (!pin) {
        std::fprintf(stderr, "the agent printed no PIN:\n%s\n", agent.output().c_str());
        return std::nullopt;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        try {
            test::WsClient phone(agentPort);
            const std::string id = messageId(0xB0000000, 1);
            phone.send(frame("pair.request", id,
                             R"({"method":"pin","secret":")" + *pin +
                                 R"(","deviceName":"Proof Phone","deviceId":")" + id + R"("})"));
            const auto reply = phone.receive(std::chrono::seconds(5));
            const auto json = nlohmann::json::parse(reply.value_or("{}"));
            if (json.value("type", "") != "pair.ok") {
                std::fprintf(stderr, "pairing failed: %s\n", reply.value_or("(nothing)").c_str());
                return std::nullopt;
            }
            return json["payload"]["token"].get<std::string>();
        } catch (const std::exception& error) {
            if (Clock::now() > deadline) {
                std::fprintf(stderr, "cannot reach the agent: %s\n", error.what());
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

// Connects from `from` (an address of this host) and finishes the WebSocket handshake, sending
// the token header when there is a token. Returns the error, if any.
inline Task<beast::error_code> openWebSocket(WebSocket& ws, const std::string& from,
                                             std::optional<std::string> token) {
    auto& socket = beast::get_lowest_layer(ws).socket();
    beast::error_code error;
    socket.open(tcp::v4(), error);
    if (!error) socket.bind({asio::ip::make_address(from), 0}, error);
    if (error) co_return error;
    const tcp::endpoint agent{asio::ip::make_address("127.0.0.1"), agentPort};
    auto [connectError] = co_await beast::get_lowest_layer(ws).async_connect(
        agent, asio::as_tuple(asio::use_awaitable));
    if (connectError) co_return connectError;
    socket.set_option(tcp::no_delay(true));
    if (token) {
        ws.set_option(
            websocket::stream_base::decorator([value = *token](websocket::request_type& request) {
                request.insert("X-Harborlink-Token", value);
            }));
    }
    auto [handshakeError] =
        co_await ws.async_handshake("127.0.0.1:9847", "/", asio::as_tuple(asio::use_awaitable));
    co_return handshakeError;
}

}  // namespace velopad::proof
