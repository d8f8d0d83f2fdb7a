// Many phones, many messages, against the real agent: <phones> paired connections (connecting one
// after another, then all working at once) each send <messages> frames — pings, deck.sync, icon
// requests and frames the agent must ignore — a window of 8 at a time, and check that every
// reply answers its own request, per kind in the order sent, nothing lost, nothing extra. The
// agent's resident memory must stay within 2 MiB of its size after the warm-up (the first tenth
// of the messages), and its open files must return to their number once the phones leave.
//   soak_proof [phones] [messages-per-phone]      (100, 10000; run through bench/run-soak)

#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "bench/proof_support.h"

namespace {

using namespace velopad;
using namespace velopad::proof;

constexpr int window = 8;
constexpr long rssAllowanceKiB = 2048;

struct Totals {
    long messagesSent = 0;
    long repliesChecked = 0;
    long ignoredFramesSent = 0;
    long overtakes = 0;  // a reply that came before the reply to an earlier request of another kind
    int phonesConnected = 0;  // phones connect one after another, in index order
    int phonesFinished = 0;
    int phonesFailed = 0;
    int phonesGone = 0;  // coroutines ended: the phones may be destroyed
    bool everyoneFinished = false;
    std::string firstFailure;
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
        if (error) fail("connect: " + error.message());
        for (long sent = 0; sent < messages_ && failure_.empty();) {
            for (int i = 0; i < window && sent < messages_ && failure_.empty(); ++i, ++sent) {
                co_await send(ws, sent);
            }
            while (!pending_.empty() && failure_.empty()) co_await receive(ws);
        }
        ++(failure_.empty() ? totals_.phonesFinished : totals_.phonesFailed);
        // Stay connected until every phone is done, so the last sample sees all of them.
        while (!totals_.everyoneFinished) co_await pause(50ms);
        if (failure_.empty()) {
            beast::get_lowest_layer(ws).expires_after(5s);
            beast::error_code ignored;
            co_await ws.async_close(websocket::close_code::normal, awaitInto(ignored));
        }
        ++totals_.phonesGone;
    }

  private:
    struct Expected {
        std::string type;
        std::string key;  // the id for pong and decks.snapshot, the bundle id for app.icon
    };

    Task<void> send(WebSocket& ws, long n) {
        const std::string id = messageId(0xA0000000u + static_cast<unsigned>(index_), n);
        std::optional<Expected> expected = Expected{"pong", id};
        std::string text = ping(id);
        if (n % 10 == 1 || n % 10 == 5) {
            expected->type = "decks.snapshot";
            text = frame("deck.sync", id, "{}");
        } else if (n % 10 == 3 || n % 10 == 7) {
            const std::string bundle = iconIds_.empty() ? "org.example.NoSuchApplication"
                                                        : iconIds_[(n / 10) % iconIds_.size()];
            expected =
                iconIds_.empty() ? std::nullopt : std::optional(Expected{"app.icon", bundle});
            text = frame("app.icon.request", id, R"({"bundleIds":[")" + bundle + R"("]})");
        } else if (n % 10 == 8) {
            expected.reset();
            text = ignoredFrame(n / 10);
            ++totals_.ignoredFramesSent;
        }
        if (expected) pending_.push_back(*expected);
        ws.binary(n % 10 == 8 && (n / 10) % 7 == 0);
        beast::get_lowest_layer(ws).expires_after(10s);
        beast::error_code error;
        co_await ws.async_write(asio::buffer(text), awaitInto(error));
        if (error) fail("send: " + error.message());
        ++totals_.messagesSent;
    }

    Task<void> receive(WebSocket& ws) {
        beast::flat_buffer buffer;
        beast::get_lowest_layer(ws).expires_after(10s);
        beast::error_code error;
        co_await ws.async_read(buffer, awaitInto(error));
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
            totals_.overtakes += it != pending_.begin();
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
    std::string list;
    int candidates = 0;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/usr/share/applications", error)) {
        if (entry.path().extension() != ".desktop" || ++candidates > 40) continue;
        list += (list.empty() ? "\"" : ",\"") + entry.path().stem().string() + "\"";
    }
    test::WsClient phone(agentPort, withToken(token));
    phone.send(
        frame("app.icon.request", messageId(0xE0000000, 1), "{\"bundleIds\":[" + list + "]}"));
    std::set<std::string> answered;
    while (const auto reply = phone.receive(3s)) {
        const auto json = nlohmann::json::parse(*reply);
        if (json.value("type", "") == "app.icon") answered.insert(json["payload"]["bundleId"]);
    }
    return {answered.begin(), answered.end()};
}

Task<int> soak(pid_t agent, std::string token, int phones, long messages) {
    const auto executor = co_await asio::this_coro::executor;
    const std::vector<std::string> iconIds = answeredIconIds(token);
    co_await pause(500ms);  // the calibration connection's close
    const ProcessSample before = sampleProcess(agent);
    std::optional<ProcessSample> warm;
    long peakRssKiB = before.rssKiB;
    Totals totals;
    std::vector<std::unique_ptr<Phone>> all;
    for (int i = 0; i < phones; ++i) {
        all.push_back(std::make_unique<Phone>(i, messages, iconIds, totals));
        asio::co_spawn(executor, all.back()->run(token), asio::detached);
    }
    const auto start = Clock::now();
    while (totals.phonesFinished + totals.phonesFailed < phones) {
        co_await pause(100ms);
        const ProcessSample now = sampleProcess(agent);
        peakRssKiB = std::max(peakRssKiB, now.rssKiB);
        if (!warm && totals.messagesSent >= phones * messages / 10) warm = now;
    }
    const double seconds = millisecondsSince(start) / 1000;
    const ProcessSample end = sampleProcess(agent);
    if (!warm) warm = end;
    totals.everyoneFinished = true;
    // Open files settle once every connection has closed on both sides.
    ProcessSample after;
    const auto deadline = Clock::now() + 15s;
    do {
        co_await pause(200ms);
        after = sampleProcess(agent);
    } while (after.fds > before.fds && Clock::now() < deadline);
    while (totals.phonesGone < phones) co_await pause(50ms);

    std::printf(
        "soak: %d phones x %ld messages = %ld frames in %.0f s (%.0f frames/s), "
        "%ld replies checked, %ld ignored frames sent, %zu application icons in rotation\n",
        phones, messages, totals.messagesSent, seconds, totals.messagesSent / seconds,
        totals.repliesChecked, totals.ignoredFramesSent, iconIds.size());
    std::printf("  replies of another kind overtaken by a later reply: %ld\n", totals.overtakes);
    std::printf(
        "  agent RSS: before %ld KiB, after warm-up %ld KiB, at the end %ld KiB "
        "(peak %ld KiB), after the phones left %ld KiB\n",
        before.rssKiB, warm->rssKiB, end.rssKiB, peakRssKiB, after.rssKiB);
    std::printf("  agent open files: before %d, with %d phones %d, after they left %d\n",
                before.fds, phones, end.fds, after.fds);
    int status = 0;
    if (totals.phonesFailed > 0) {
        std::printf("FAIL: %d phones failed; first: %s\n", totals.phonesFailed,
                    totals.firstFailure.c_str());
        status = 1;
    }
    if (end.rssKiB - warm->rssKiB > rssAllowanceKiB) {
        std::printf("FAIL: resident memory grew by %ld KiB after the warm-up\n",
                    end.rssKiB - warm->rssKiB);
        status = 1;
    }
    if (after.fds != before.fds) {
        std::printf("FAIL: %d open files after the phones left, %d before\n", after.fds,
                    before.fds);
        status = 1;
    }
    if (status == 0) std::printf("soak: passed\n");
    co_return status;
}

}  // namespace

int main(int argc, char** argv) {
    test::AgentProcess agent;
    const auto token = startAndPair(agent);
    if (!token) return 1;
    return runProof(agent, soak(agent.pid(), *token, argument(argc, argv, 1, 100),
                                argument(argc, argv, 2, 10000L)));
}
