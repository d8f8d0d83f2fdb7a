// Many phones, many messages, against the real agent: <phones> paired connections each send
// <messages> frames — pings, deck.sync, icon requests and frames the agent must ignore — a
// window of 8 at a time (the phones connect one after another, then all work at once), and
// check every reply: each ping and deck.sync answered with its own
// id, each icon request with its icon, per kind in the order sent, nothing lost, nothing extra.
// The agent's resident memory must stay within 2 MiB of its size after the warm-up (the first
// tenth of the messages), and its open files must return to their number before the phones
// came once they leave.
//   soak_proof [phones] [messages-per-phone]      (100, 10000)
// Run it inside a private network namespace with temporary XDG directories (bench/run-soak).

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "bench/proof_support.h"

namespace {

using namespace velopad;
using namespace velopad::proof;
using namespace std::chrono_literals;

constexpr int window = 8;
constexpr long rssAllowanceKiB = 2048;

struct Totals {
    long messagesSent = 0;
    long repliesChecked = 0;
    long ignoredFramesSent = 0;
    long overtakes = 0;  // a reply that came before the reply to an earlier request of another kind
    int phonesDone = 0;
    int phonesFailed = 0;
    int phonesGone = 0;       // coroutines finished: the phones may be destroyed
    int phonesConnected = 0;  // phones connect one after another, in index order
    bool watching = true;
    std::string firstFailure;
    bool everyoneDone = false;
};

Task<void> pause(std::chrono::milliseconds duration) {
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(asio::use_awaitable);
}

struct Expected {
    std::string type;
    std::string key;  // the id for pong and decks.snapshot, the bundle id for app.icon
};

// The frames the agent reads and answers with nothing.
std::string ignoredFrame(long n) {
    switch (n % 5) {
        case 0:
            return "this is not JSON";
        case 1:
            return R"({"type":"ping","payload":{}})";  // no id
        case 2:
            return frame("app.launch", messageId(0xD0000000, n), R"({"bundle":1})");
        case 3:
            return frame("no.such.request", messageId(0xD0000000, n), "{}");
        default:
            return R"([1,2,{"type":"deck.sync"}])";
    }
}

class Phone {
  public:
    Phone(int index, long messages, const std::vector<std::string>& iconIds, Totals& totals)
        : index_(index), messages_(messages), iconIds_(iconIds), totals_(totals) {}

    Task<void> run(std::string token) {
        WebSocket ws(co_await asio::this_coro::executor);
        while (totals_.phonesConnected < index_) co_await pause(2ms);
        beast::get_lowest_layer(ws).expires_after(10s);
        const beast::error_code error = co_await openWebSocket(ws, "127.0.0.1", token);
        ++totals_.phonesConnected;
        if (error) {
            fail("connect: " + error.message());
            ++totals_.phonesFailed;
            ++totals_.phonesGone;
            co_return;
        }
        for (long sent = 0; sent < messages_ && failure_.empty();) {
            for (int i = 0; i < window && sent < messages_ && failure_.empty(); ++i, ++sent) {
                co_await send(ws, sent);
            }
            while (!pending_.empty() && failure_.empty()) co_await receive(ws);
        }
        if (!failure_.empty()) {
            ++totals_.phonesFailed;
            ++totals_.phonesGone;
            co_return;
        }
        ++totals_.phonesDone;
        // Stay connected until every phone is done, so the last sample sees all of them.
        while (!totals_.everyoneDone) co_await pause(50ms);
        beast::get_lowest_layer(ws).expires_after(5s);
        auto [closeError] = co_await ws.async_close(websocket::close_code::normal,
                                                    asio::as_tuple(asio::use_awaitable));
        (void)closeError;
        ++totals_.phonesGone;
    }

  private:
    Task<void> send(WebSocket& ws, long n) {
        const unsigned prefix = 0xA0000000u + static_cast<unsigned>(index_);
        const auto serial = static_cast<unsigned long long>(n);
        std::string text;
        bool binary = false;
        switch (n % 10) {
            case 1:
            case 5:
                text = frame("deck.sync", messageId(prefix, serial), "{}");
                pending_.push_back({"decks.snapshot", messageId(prefix, serial)});
                break;
            case 3:
            case 7: {
                const std::string bundle =
                    iconIds_.empty() ? std::string("org.example.NoSuchApplication")
                                     : iconIds_[static_cast<std::size_t>(n / 10) % iconIds_.size()];
                text = frame("app.icon.request", messageId(prefix, serial),
                             R"({"bundleIds":[")" + bundle + R"("]})");
                if (!iconIds_.empty()) pending_.push_back({"app.icon", bundle});
                break;
            }
            case 8:
                text = ignoredFrame(n / 10);
                binary = (n / 10) % 7 == 0;
                ++totals_.ignoredFramesSent;
                break;
            default:
                text = ping(messageId(prefix, serial));
                pending_.push_back({"pong", messageId(prefix, serial)});
        }
        ws.binary(binary);
        beast::get_lowest_layer(ws).expires_after(10s);
        auto [error, written] =
            co_await ws.async_write(asio::buffer(text), asio::as_tuple(asio::use_awaitable));
        (void)written;
        if (error) fail("send: " + error.message());
        ++totals_.messagesSent;
    }

    Task<void> receive(WebSocket& ws) {
        beast::flat_buffer buffer;
        beast::get_lowest_layer(ws).expires_after(10s);
        auto [error, n] = co_await ws.async_read(buffer, asio::as_tuple(asio::use_awaitable));
        (void)n;
        if (error) {
            fail("waiting for " + pending_.front().type + " " + pending_.front().key + ": " +
                 error.message());
            co_return;
        }
        std::string type;
        std::string key;
        try {
            const auto reply = nlohmann::json::parse(beast::buffers_to_string(buffer.data()));
            type = reply.at("type").get<std::string>();
            key = type == "app.icon" ? reply.at("payload").at("bundleId").get<std::string>()
                                     : reply.at("id").get<std::string>();
        } catch (const std::exception&) {
            fail("unreadable reply " + beast::buffers_to_string(buffer.data()).substr(0, 100));
            co_return;
        }
        // The first outstanding request of the reply's kind must be the one answered.
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->type != type) continue;
            if (it->key != key) {
                fail(type + " " + key + " arrived while " + it->key + " was awaited first");
                co_return;
            }
            if (it != pending_.begin()) ++totals_.overtakes;
            pending_.erase(it);
            ++totals_.repliesChecked;
            co_return;
        }
        fail("unexpected " + type + " " + key);
    }

    void fail(const std::string& what) {
        if (!failure_.empty()) return;
        failure_ = "phone " + std::to_string(index_) + ": " + what;
        if (totals_.firstFailure.empty()) totals_.firstFailure = failure_;
    }

    int index_;
    long messages_;
    const std::vector<std::string>& iconIds_;
    Totals& totals_;
    std::deque<Expected> pending_;
    std::string failure_;
};

// Application ids (from the system's desktop entries) whose icons the agent sends, found by
// asking for up to 40 of them once.
std::vector<std::string> answeredIconIds(const std::string& token) {
    std::vector<std::string> candidates;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/usr/share/applications", error)) {
        if (entry.path().extension() == ".desktop" && candidates.size() < 40)
            candidates.push_back(entry.path().stem().string());
    }
    std::string list;
    for (const auto& id : candidates) list += (list.empty() ? "\"" : ",\"") + id + "\"";
    test::WsClient phone(agentPort, {{"X-Harborlink-Token", token}});
    phone.send(
        frame("app.icon.request", messageId(0xE0000000, 1), "{\"bundleIds\":[" + list + "]}"));
    std::set<std::string> answered;
    while (const auto reply = phone.receive(3s)) {
        const auto json = nlohmann::json::parse(*reply);
        if (json.value("type", "") == "app.icon") answered.insert(json["payload"]["bundleId"]);
    }
    return {answered.begin(), answered.end()};
}

struct Samples {
    ProcessSample before, warm, end, after;
    long peakRssKiB = 0;
};

Task<void> watch(pid_t agent, Totals& totals, long total, Samples& samples,
                 test::AgentProcess& output) {
    bool warm = false;
    while (!totals.everyoneDone) {
        const ProcessSample now = sampleProcess(agent);
        samples.peakRssKiB = std::max(samples.peakRssKiB, now.rssKiB);
        if (!warm && totals.messagesSent >= total / 10) {
            warm = true;
            samples.warm = now;
        }
        while (output.waitForLine("", 0ms)) {
        }
        co_await pause(200ms);
    }
    totals.watching = false;
}

Task<int> soak(pid_t agent, test::AgentProcess& output, std::string token, int phones,
               long messages) {
    const auto executor = co_await asio::this_coro::executor;
    const std::vector<std::string> iconIds = answeredIconIds(token);
    co_await pause(500ms);  // the calibration connection's close
    Samples samples;
    samples.before = sampleProcess(agent);
    Totals totals;
    const long total = static_cast<long>(phones) * messages;
    std::vector<std::unique_ptr<Phone>> all;
    for (int i = 0; i < phones; ++i) {
        all.push_back(std::make_unique<Phone>(i, messages, iconIds, totals));
        asio::co_spawn(executor, all.back()->run(token), asio::detached);
    }
    asio::co_spawn(executor, watch(agent, totals, total, samples, output), asio::detached);
    const auto start = Clock::now();
    while (totals.phonesDone + totals.phonesFailed < phones) co_await pause(100ms);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    samples.end = sampleProcess(agent);
    totals.everyoneDone = true;
    // Open files settle once every connection has closed on both sides.
    const auto deadline = Clock::now() + 15s;
    do {
        co_await pause(200ms);
        samples.after = sampleProcess(agent);
    } while (samples.after.fds > samples.before.fds && Clock::now() < deadline);
    while (totals.phonesGone < phones || totals.watching) co_await pause(50ms);

    std::printf(
        "soak: %d phones x %ld messages = %ld frames in %.0f s (%.0f frames/s), "
        "%ld replies checked, %ld ignored frames sent, %zu application icons in rotation\n",
        phones, messages, totals.messagesSent, seconds, totals.messagesSent / seconds,
        totals.repliesChecked, totals.ignoredFramesSent, iconIds.size());
    std::printf("  replies of another kind overtaken by a later reply: %ld\n", totals.overtakes);
    std::printf(
        "  agent RSS: before %ld KiB, after warm-up %ld KiB, at the end %ld KiB "
        "(peak %ld KiB), after the phones left %ld KiB\n",
        samples.before.rssKiB, samples.warm.rssKiB, samples.end.rssKiB, samples.peakRssKiB,
        samples.after.rssKiB);
    std::printf("  agent open files: before %d, with %d phones %d, after they left %d\n",
                samples.before.fds, phones, samples.end.fds, samples.after.fds);
    int status = 0;
    if (totals.phonesFailed > 0) {
        std::printf("FAIL: %d phones failed; first: %s\n", totals.phonesFailed,
                    totals.firstFailure.c_str());
        status = 1;
    }
    if (samples.end.rssKiB - samples.warm.rssKiB > rssAllowanceKiB) {
        std::printf("FAIL: resident memory grew by %ld KiB after the warm-up\n",
                    samples.end.rssKiB - samples.warm.rssKiB);
        status = 1;
    }
    if (samples.after.fds != samples.before.fds) {
        std::printf("FAIL: %d open files after the phones left, %d before\n", samples.after.fds,
                    samples.before.fds);
        status = 1;
    }
    if (status == 0) std::printf("soak: passed\n");
    co_return status;
}

}  // namespace

int main(int argc, char** argv) {
    const int phones = argc > 1 ? std::atoi(argv[1]) : 100;
    const long messages = argc > 2 ? std::atol(argv[2]) : 10000;

    test::AgentProcess agent;
    const auto token = startAndPair(agent);
    if (!token) return 1;

    asio::io_context context;
    int status = 1;
    asio::co_spawn(context, soak(agent.pid(), agent, *token, phones, messages),
                   [&](std::exception_ptr error, int result) {
                       if (error) {
                           try {
                               std::rethrow_exception(error);
                           } catch (const std::exception& e) {
                               std::fprintf(stderr, "soak_proof: %s\n", e.what());
                           }
                       }
                       status = error ? 1 : result;
                   });
    context.run();
    if (agent.terminate() != 0 || status != 0)
        std::fprintf(stderr, "the agent's output:\n%s\n", agent.output().c_str());
    return status;
}
