// Round trips and throughput of the agent's listener over loopback, beside a bare Beast echo
// server measured in the same run.
//   listener_benchmark [round-trips] [seconds-per-throughput-run]

#include <algorithm>
#include <atomic>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/listener/listener_service.h"
#include "app/listener/request_router.h"
#include "bench/echo_server.h"
#include "tests/support/fake_executors.h"
#include "tests/support/io_thread.h"

namespace {

using namespace velopad;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

const std::string token = "5E0C1D2A-3B4C-4D5E-8F60-718293A4B5C6";
const std::string pingText =
    R"({"id":"00000000-0000-4000-8000-000000000001","payload":{"ts":"2024-05-01T10:00:00Z"},"type":"ping"})";

using bench::echoServer;

class Client {
  public:
    Client(std::uint16_t port) : ws_(context_) {
        ws_.next_layer().connect({asio::ip::make_address("127.0.0.1"), port});
        ws_.next_layer().set_option(tcp::no_delay(true));
        ws_.set_option(websocket::stream_base::decorator(
            [](websocket::request_type& request) { request.insert("X-Harborlink-Token", token); }));
        ws_.handshake("127.0.0.1", "/");
        ws_.text(true);
    }
    void roundTrip() {
        ws_.write(asio::buffer(pingText));
        ws_.read(buffer_);
        buffer_.consume(buffer_.size());
    }

  private:
    asio::io_context context_;
    websocket::stream<tcp::socket> ws_;
    beast::flat_buffer buffer_;
};

struct Latency {
    double p50;
    double p99;
};

Latency measureRoundTrips(std::uint16_t port, int count) {
    Client client(port);
    for (int i = 0; i < 200; ++i) client.roundTrip();  // warm up
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        client.roundTrip();
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

double measureThroughput(std::uint16_t port, int connections, double seconds) {
    std::atomic<long> total{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c) {
        threads.emplace_back([&] {
            Client client(port);
            while (!go) std::this_thread::yield();
            const auto end = Clock::now() + std::chrono::duration<double>(seconds);
            long done = 0;
            while (Clock::now() < end) {
                client.roundTrip();
                ++done;
            }
            total += done;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    go = true;
    for (auto& thread : threads) thread.join();
    return static_cast<double>(total) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int roundTrips = argc > 1 ? std::atoi(argv[1]) : 5000;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;

    test::IoThread io;
    test::FakeExecutors executors;
    executors.pairedTokens = {token};
    executors.running = {"org.example.Editor", "com.obsproject.Studio"};
    RequestRouter router(executors);
    ListenerOptions options;
    options.port = 0;
    auto listener = ListenerService::create(io.executor(), router, options);
    io.run(listener->start());
    std::uint16_t agentPort = 0;
    while (!(agentPort = io.run(listener->boundPort())))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    tcp::acceptor echoAcceptor(io.context(), {tcp::v4(), 0});
    asio::co_spawn(io.context(), echoServer(echoAcceptor), asio::detached);
    const auto echoPort = echoAcceptor.local_endpoint().port();

    const auto agent = measureRoundTrips(agentPort, roundTrips);
    const auto echo = measureRoundTrips(echoPort, roundTrips);
    std::printf("ping->pong round trip over loopback (%d round trips, one connection)\n",
                roundTrips);
    std::printf("  agent listener : p50 %7.1f us   p99 %7.1f us\n", agent.p50, agent.p99);
    std::printf("  bare Beast echo: p50 %7.1f us   p99 %7.1f us\n", echo.p50, echo.p99);

    for (int connections : {1, 50}) {
        const double agentRate = measureThroughput(agentPort, connections, seconds);
        const double echoRate = measureThroughput(echoPort, connections, seconds);
        std::printf("messages per second, %2d connection(s): agent %9.0f   bare echo %9.0f\n",
                    connections, agentRate, echoRate);
    }

    echoAcceptor.close();
    io.run(listener->shutdown());
    return 0;
}
