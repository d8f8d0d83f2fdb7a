// The real agent end to end, beside a bare Beast echo server measured in the same run: ping
// round trips and throughput, deck.sync, icons, start-up, and idle cost with one phone.
// Run it through bench/run-agent-benchmark (temporary XDG folders, private network namespace):
//   agent_benchmark [extra-processes] [idle-seconds] [round-trips] [seconds-per-throughput-run]
//                   [idle-ping-interval-seconds]            (400, 30, 3000, 3, 5; 0 = no pings)
// It installs 24 applications as desktop entries (12 of the deck templates' and 12 others), half
// with 256-pixel PNG icons and half with SVG icons in the user's hicolor theme, and starts the
// extra processes (sleep) itself.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/echo_server.h"
#include "bench/proof_support.h"
#include "tests/support/agent_process.h"
#include "tests/support/io_thread.h"

namespace {

using namespace velopad;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace fs = std::filesystem;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

const std::string pingText = proof::ping("00000000-0000-4000-8000-000000000001");

using bench::echoServer;

// A phone on a blocking socket of its own.
class Client {
  public:
    Client(std::uint16_t port, const std::string& token) : ws_(context_) {
        ws_.next_layer().connect({asio::ip::make_address("127.0.0.1"), port});
        ws_.next_layer().set_option(tcp::no_delay(true));
        ws_.set_option(websocket::stream_base::decorator([token](websocket::request_type& request) {
            request.insert("X-Harborlink-Token", token);
        }));
        ws_.handshake("127.0.0.1", "/");
        ws_.text(true);
    }
    void send(const std::string& text) { ws_.write(asio::buffer(text)); }
    std::string receive() {
        buffer_.consume(buffer_.size());
        ws_.read(buffer_);
        return beast::buffers_to_string(buffer_.data());
    }
    std::string roundTrip(const std::string& text) {
        send(text);
        return receive();
    }

  private:
    asio::io_context context_;
    websocket::stream<tcp::socket> ws_;
    beast::flat_buffer buffer_;
};

struct Latency {
    double p50 = 0;
    double p99 = 0;
};

Latency percentiles(std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

Latency measureRoundTrips(std::uint16_t port, const std::string& token, const std::string& text,
                          int count) {
    Client client(port, token);
    for (int i = 0; i < std::min(count, 200); ++i) client.roundTrip(text);  // warm up
    std::vector<double> micros;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        client.roundTrip(text);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return percentiles(std::move(micros));
}

double measureThroughput(std::uint16_t port, const std::string& token, int connections,
                         double seconds) {
    std::atomic<long> total{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c) {
        threads.emplace_back([&] {
            Client client(port, token);
            while (!go) std::this_thread::yield();
            const auto end = Clock::now() + std::chrono::duration<double>(seconds);
            long done = 0;
            while (Clock::now() < end) {
                client.roundTrip(pingText);
                ++done;
            }
            total += done;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    go = true;
    for (auto& thread : threads) thread.join();
    return static_cast<double>(total) / seconds;
}

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A 256 × 256 picture with some detail, so that decoding and encoding do real work.
void writePngIcon(const fs::path& path, int seed) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 256, 256);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            guchar* pixel = pixels + y * stride + x * 4;
            const int dx = x - 128, dy = y - 128;
            const bool inside = dx * dx + dy * dy < 120 * 120;
            pixel[0] = static_cast<guchar>((x * 3 + seed * 40) & 0xff);
            pixel[1] = static_cast<guchar>((y * 5 + seed * 17) & 0xff);
            pixel[2] = static_cast<guchar>(((x ^ y) + seed * 29) & 0xff);
            pixel[3] = inside ? 255 : 0;
        }
    }
    fs::create_directories(path.parent_path());
    gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr);
    g_object_unref(pixbuf);
}

void writeSvgIcon(const fs::path& path, int seed) {
    const std::string hue = std::to_string(seed * 30 % 360);
    writeFile(path,
              "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
              "viewBox=\"0 0 256 256\">\n"
              "<defs><linearGradient id=\"g\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\">"
              "<stop offset=\"0\" stop-color=\"hsl(" +
                  hue + ",70%,60%)\"/><stop offset=\"1\" stop-color=\"hsl(" + hue +
                  ",70%,30%)\"/></linearGradient></defs>\n"
                  "<rect x=\"16\" y=\"16\" width=\"224\" height=\"224\" rx=\"48\" "
                  "fill=\"url(#g)\"/>\n"
                  "<path d=\"M64 176 L128 64 L192 176 Z\" fill=\"#fff\" "
                  "fill-opacity=\"0.85\"/>\n"
                  "<circle cx=\"128\" cy=\"150\" r=\"24\" fill=\"none\" stroke=\"#222\" "
                  "stroke-width=\"8\"/>\n</svg>\n");
}

// Desktop entries whose programs are small scripts of their own (never started here).
std::vector<std::string> installApplications(const fs::path& data) {
    const std::vector<std::string> templateIds = {"com.obsproject.obs-studio",
                                                  "com.discordapp.Discord",
                                                  "google-chrome",
                                                  "com.spotify.Client",
                                                  "com.twitch.desktop",
                                                  "com.streamlabs.desktop",
                                                  "org.gnome.Terminal",
                                                  "org.gnome.Settings",
                                                  "com.valvesoftware.Steam",
                                                  "com.nvidia.geforcenow",
                                                  "com.epicgames.EpicGamesLauncher",
                                                  "com.apple.Music"};
    std::vector<std::string> ids = templateIds;
    for (int i = 1; i <= 12; ++i) ids.push_back("org.example.Bench" + std::to_string(i));
    const fs::path theme = data / "icons" / "hicolor";
    fs::create_directories(theme);
    fs::copy_file("/usr/share/icons/hicolor/index.theme", theme / "index.theme",
                  fs::copy_options::overwrite_existing);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::string icon = "bench-icon-" + std::to_string(i);
        if (i % 2 == 0) {
            writePngIcon(theme / "256x256" / "apps" / (icon + ".png"), static_cast<int>(i));
        } else {
            writeSvgIcon(theme / "scalable" / "apps" / (icon + ".svg"), static_cast<int>(i));
        }
        const fs::path program = data / "programs" / ids[i];
        writeFile(program, "#!/bin/sh\nexec sleep 1000\n");
        fs::permissions(program, fs::perms::owner_all);
        writeFile(data / "applications" / (ids[i] + ".desktop"),
                  "[Desktop Entry]\nType=Application\nName=Bench " + std::to_string(i) +
                      "\nExec=" + program.string() + "\nIcon=" + icon + "\n");
    }
    return ids;
}

std::vector<pid_t> startSleepers(int count) {
    std::vector<pid_t> pids;
    for (int i = 0; i < count; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execlp("sleep", "sleep", "100000", nullptr);
            ::_exit(127);
        }
        if (pid > 0) pids.push_back(pid);
    }
    return pids;
}

void stopAll(const std::vector<pid_t>& pids) {
    for (const pid_t pid : pids) ::kill(pid, SIGKILL);
    for (const pid_t pid : pids) ::waitpid(pid, nullptr, 0);
}

bool listening(std::uint16_t port) {
    try {
        asio::io_context context;
        tcp::socket socket(context);
        socket.connect({asio::ip::make_address("127.0.0.1"), port});
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// User plus system CPU time of a process, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) utime = std::stoull(field);
        if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Asks for all icons at once; how long until every answer came.
double iconRound(Client& phone, const std::vector<std::string>& ids, int round) {
    std::string list;
    for (const auto& id : ids) list += (list.empty() ? "\"" : ",\"") + id + "\"";
    const auto start = Clock::now();
    phone.send(proof::frame("app.icon.request", proof::messageId(0xC0000000, round),
                            R"({"bundleIds":[)" + list + "]}"));
    std::size_t bytes = 0;
    for (std::size_t received = 0; received < ids.size(); ++received) {
        bytes += phone.receive().size();
    }
    const double elapsed = millisecondsSince(start);
    std::printf("  (%zu icon messages, %.0f KiB)\n", ids.size(), static_cast<double>(bytes) / 1024);
    return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    const int extraProcesses = argc > 1 ? std::atoi(argv[1]) : 400;
    const double idleSeconds = argc > 2 ? std::atof(argv[2]) : 30.0;
    const int roundTrips = argc > 3 ? std::atoi(argv[3]) : 3000;
    const double seconds = argc > 4 ? std::atof(argv[4]) : 3.0;
    const double idlePingInterval = argc > 5 ? std::atof(argv[5]) : 5.0;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (!dataHome || !std::getenv("VELOPAD_AGENT")) {
        std::fprintf(stderr, "run through bench/run-agent-benchmark\n");
        return 2;
    }
    const auto ids = installApplications(dataHome);
    const auto sleepers = startSleepers(extraProcesses);

    const auto launched = Clock::now();
    test::AgentProcess agent({"--headless"});
    while (!listening(proof::agentPort) && millisecondsSince(launched) < 15000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double startToListening = millisecondsSince(launched);
    const auto token = proof::startAndPair(agent);
    if (!token) {
        stopAll(sleepers);
        return 1;
    }

    test::IoThread io;
    tcp::acceptor echoAcceptor(io.context(), {tcp::v4(), 0});
    asio::co_spawn(io.context(), echoServer(echoAcceptor), asio::detached);
    const auto echoPort = echoAcceptor.local_endpoint().port();

    std::printf("agent with %d extra processes, %zu applications installed\n", extraProcesses,
                ids.size());
    std::printf("start to listening: %.0f ms\n", startToListening);
    const auto agentPing = measureRoundTrips(proof::agentPort, *token, pingText, roundTrips);
    const auto echoPing = measureRoundTrips(echoPort, *token, pingText, roundTrips);
    std::printf(
        "ping round trip: agent p50 %8.1f us  p99 %8.1f us | echo p50 %6.1f us  p99 %6.1f "
        "us | ratio p50 %.2f  p99 %.2f\n",
        agentPing.p50, agentPing.p99, echoPing.p50, echoPing.p99, agentPing.p50 / echoPing.p50,
        agentPing.p99 / echoPing.p99);
    for (const int connections : {1, 50}) {
        const double agentRate = measureThroughput(proof::agentPort, *token, connections, seconds);
        const double echoRate = measureThroughput(echoPort, *token, connections, seconds);
        std::printf("messages/s, %2d connection(s): agent %9.0f | echo %9.0f | ratio %.2f\n",
                    connections, agentRate, echoRate, agentRate / echoRate);
    }
    const auto sync =
        measureRoundTrips(proof::agentPort, *token,
                          proof::frame("deck.sync", "00000000-0000-4000-8000-000000000002", "{}"),
                          std::max(roundTrips / 10, 50));
    std::printf("deck.sync: p50 %.1f us  p99 %.1f us\n", sync.p50, sync.p99);

    {
        Client phone(proof::agentPort, *token);
        const double fresh = iconRound(phone, ids, 1);
        const double cached = iconRound(phone, ids, 2);
        std::printf("%zu icons: fresh %.1f ms  cached %.1f ms\n", ids.size(), fresh, cached);

        // Idle: this phone stays connected, pinging now and then as an app in the foreground
        // would; nothing else happens.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double cpuBefore = cpuSeconds(agent.pid());
        const auto idleStart = Clock::now();
        auto nextPing = idleStart;
        while (millisecondsSince(idleStart) < idleSeconds * 1000) {
            if (idlePingInterval > 0 && Clock::now() >= nextPing) {
                phone.roundTrip(pingText);
                nextPing += std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(idlePingInterval));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const double idleCpu = (cpuSeconds(agent.pid()) - cpuBefore) / idleSeconds * 100;
        const auto sample = proof::sampleProcess(agent.pid());
        std::printf("idle %.0f s, one phone (ping every %.0f s): CPU %.3f %%  RSS %.1f MiB\n",
                    idleSeconds, idlePingInterval, idleCpu, sample.rssKiB / 1024.0);
    }

    echoAcceptor.close();
    agent.terminate();
    stopAll(sleepers);
    return 0;
}
