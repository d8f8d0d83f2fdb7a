// The real agent end to end, beside a bare Beast echo server measured in the same run, with 24
// applications installed (the streaming template's 12 and 12 others, half with 256-pixel PNG
// icons, half with SVG ones) and extra processes running. Run it through bench/run-agent-benchmark:
//   agent_benchmark [extra-processes] [idle-seconds] [round-trips] [seconds-per-throughput-run]
//                   [idle-ping-interval-seconds]            (400, 30, 3000, 3, 5; 0 = no pings)

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <atomic>
#include <latch>

#include "bench/proof_support.h"
#include "protocol/deck_templates.h"
#include "tests/support/io_thread.h"
#include "tests/support/sandbox_fixture.h"

namespace {

using namespace velopad;
using namespace velopad::proof;
namespace fs = std::filesystem;
using velopad::testing::writeTextFile;

const std::string pingText = ping("00000000-0000-4000-8000-000000000001");

// The yardstick: the simplest Beast WebSocket server, which echoes every message.
Task<void> echoSession(tcp::socket socket) {
    WebSocket ws(std::move(socket));
    beast::error_code error;
    co_await ws.async_accept(awaitInto(error));
    beast::flat_buffer buffer;
    while (!error) {
        const auto n = co_await ws.async_read(buffer, awaitInto(error));
        ws.text(ws.got_text());
        if (!error) co_await ws.async_write(buffer.data(), awaitInto(error));
        buffer.consume(n);
    }
}

Task<void> echoServer(tcp::acceptor& acceptor) {
    for (beast::error_code error; !error;) {
        tcp::socket socket = co_await acceptor.async_accept(awaitInto(error));
        if (!error)
            asio::co_spawn(acceptor.get_executor(), echoSession(std::move(socket)), asio::detached);
    }
}

// Sends `text` and waits for `replies` answers: the milliseconds that took.
double roundTrip(test::WsClient& client, const std::string& text, std::size_t replies = 1) {
    const auto start = Clock::now();
    client.send(text);
    for (std::size_t i = 0; i < replies; ++i)
        if (!client.receive(10s)) throw std::runtime_error("no answer within 10 s");
    return millisecondsSince(start);
}

struct Latency {
    double p50 = 0, p99 = 0;
};

Latency measureRoundTrips(std::uint16_t port, const std::string& token, const std::string& text,
                          int count) {
    test::WsClient client(port, {{"X-Harborlink-Token", token}});
    for (int i = 0; i < std::min(count, 200); ++i) roundTrip(client, text);  // warm up
    std::vector<double> micros;
    for (int i = 0; i < count; ++i) micros.push_back(roundTrip(client, text) * 1000);
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

double measureThroughput(std::uint16_t port, const std::string& token, int connections,
                         double seconds) {
    std::atomic<long> total{0};
    std::latch connected(connections + 1);
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c) {
        threads.emplace_back([&] {
            test::WsClient client(port, {{"X-Harborlink-Token", token}});
            connected.arrive_and_wait();
            long done = 0;
            for (const auto start = Clock::now(); millisecondsSince(start) < seconds * 1000; ++done)
                roundTrip(client, pingText);
            total += done;
        });
    }
    connected.arrive_and_wait();
    for (auto& thread : threads) thread.join();
    return static_cast<double>(total) / seconds;
}

// Half the icons are SVG, half PNG pictures of the same kind drawn from them.
void writeIcon(const fs::path& theme, const std::string& name, int seed) {
    const fs::path svg = theme / "scalable" / "apps" / (name + ".svg");
    const std::string hue = "hsl(" + std::to_string(seed * 30 % 360);
    writeTextFile(
        svg,
        R"(<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
<defs><linearGradient id="g" x1="0" y1="0" x2="1" y2="1"><stop offset="0" stop-color=")" +
            hue + R"svg(,70%,60%)"/><stop offset="1" stop-color=")svg" + hue +
            R"svg(,70%,30%)"/></linearGradient></defs>
<rect x="16" y="16" width="224" height="224" rx="48" fill="url(#g)"/>
<path d="M64 176 L128 64 L192 176 Z" fill="#fff" fill-opacity="0.85"/>
<circle cx="128" cy="150" r="24" fill="none" stroke="#222" stroke-width="8"/></svg>
)svg");
    if (seed % 2 == 1) return;
    const fs::path png = theme / "256x256" / "apps" / (name + ".png");
    fs::create_directories(png.parent_path());
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file_at_size(svg.c_str(), 256, 256, nullptr);
    gdk_pixbuf_save(pixbuf, png.c_str(), "png", nullptr, nullptr);
    g_object_unref(pixbuf);
    fs::remove(svg);
}

// Desktop entries whose programs are small scripts of their own (never started here).
std::vector<std::string> installApplications(const fs::path& data) {
    std::vector<std::string> ids;
    for (const DeckTile& tile : DeckTemplates::streaming().tiles)
        ids.push_back(tile.alternateBundleIds ? tile.alternateBundleIds->back() : tile.bundleId);
    for (int i = 1; i <= 12; ++i) ids.push_back("org.example.Bench" + std::to_string(i));
    const fs::path theme = data / "icons" / "hicolor";
    fs::create_directories(theme);
    fs::copy_file("/usr/share/icons/hicolor/index.theme", theme / "index.theme",
                  fs::copy_options::overwrite_existing);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::string icon = "bench-icon-" + std::to_string(i);
        writeIcon(theme, icon, static_cast<int>(i));
        const fs::path program = data / "programs" / ids[i];
        writeTextFile(program, "#!/bin/sh\nexec sleep 1000\n");
        fs::permissions(program, fs::perms::owner_all);
        writeTextFile(data / "applications" / (ids[i] + ".desktop"),
                      "[Desktop Entry]\nType=Application\nName=Bench " + std::to_string(i) +
                          "\nExec=" + program.string() + "\nIcon=" + icon + "\n");
    }
    return ids;
}

}  // namespace

int main(int argc, char** argv) {
    const int extraProcesses = argument(argc, argv, 1, 400);
    const double idleSeconds = argument(argc, argv, 2, 30.0);
    const int roundTrips = argument(argc, argv, 3, 3000);
    const double seconds = argument(argc, argv, 4, 3.0);
    const double idlePingInterval = argument(argc, argv, 5, 5.0);
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (!dataHome || !std::getenv("VELOPAD_AGENT")) {
        std::fprintf(stderr, "run through bench/run-agent-benchmark\n");
        return 2;
    }
    const auto ids = installApplications(dataHome);
    std::vector<velopad::testing::Child> sleepers;
    for (int i = 0; i < extraProcesses; ++i)
        sleepers.emplace_back(velopad::testing::spawnProcess({"sleep", "100000"}));

    const auto launched = Clock::now();
    test::AgentProcess agent;
    const bool listening = connectWithin(15s).has_value();
    const double startToListening = millisecondsSince(launched);
    const auto token = startAndPair(agent);
    if (!listening || !token) return 1;

    test::IoThread io;
    tcp::acceptor echoAcceptor(io.executor(), {tcp::v4(), 0});
    asio::co_spawn(io.executor(), echoServer(echoAcceptor), asio::detached);
    const auto echoPort = echoAcceptor.local_endpoint().port();

    std::printf("agent with %d extra processes, %zu applications installed\n", extraProcesses,
                ids.size());
    std::printf("start to listening: %.0f ms\n", startToListening);
    const auto agentPing = measureRoundTrips(agentPort, *token, pingText, roundTrips);
    const auto echoPing = measureRoundTrips(echoPort, *token, pingText, roundTrips);
    std::printf(
        "ping round trip: agent p50 %8.1f us  p99 %8.1f us | echo p50 %6.1f us  p99 %6.1f "
        "us | ratio p50 %.2f  p99 %.2f\n",
        agentPing.p50, agentPing.p99, echoPing.p50, echoPing.p99, agentPing.p50 / echoPing.p50,
        agentPing.p99 / echoPing.p99);
    for (const int connections : {1, 50}) {
        const double agentRate = measureThroughput(agentPort, *token, connections, seconds);
        const double echoRate = measureThroughput(echoPort, *token, connections, seconds);
        std::printf("messages/s, %2d connection(s): agent %9.0f | echo %9.0f | ratio %.2f\n",
                    connections, agentRate, echoRate, agentRate / echoRate);
    }
    const auto sync = measureRoundTrips(
        agentPort, *token, frame("deck.sync", "00000000-0000-4000-8000-000000000002", "{}"),
        std::max(roundTrips / 10, 50));
    std::printf("deck.sync: p50 %.1f us  p99 %.1f us\n", sync.p50, sync.p99);

    test::WsClient phone(agentPort, {{"X-Harborlink-Token", *token}});
    const double fresh = roundTrip(phone, iconRequest(messageId(0xC0000000, 1), ids), ids.size());
    const double cached = roundTrip(phone, iconRequest(messageId(0xC0000000, 2), ids), ids.size());
    std::printf("%zu icons: fresh %.1f ms  cached %.1f ms\n", ids.size(), fresh, cached);

    // Idle: this phone stays connected, pinging now and then as an app in the foreground would.
    std::this_thread::sleep_for(1s);
    const double cpuBefore = sampleProcess(agent.pid()).cpuSeconds;
    const auto idleStart = Clock::now();
    for (double nextPing = 0; millisecondsSince(idleStart) < idleSeconds * 1000;) {
        if (idlePingInterval > 0 && millisecondsSince(idleStart) >= nextPing) {
            roundTrip(phone, pingText);
            nextPing += idlePingInterval * 1000;
        }
        std::this_thread::sleep_for(50ms);
    }
    const double idleCpu = (sampleProcess(agent.pid()).cpuSeconds - cpuBefore) / idleSeconds * 100;
    std::printf("idle %.0f s, one phone (ping every %.0f s): CPU %.3f %%  RSS %.1f MiB\n",
                idleSeconds, idlePingInterval, idleCpu, sampleProcess(agent.pid()).rssKiB / 1024.0);
    echoAcceptor.close();
    agent.terminate();
    return 0;
}
