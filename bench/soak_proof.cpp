// <phones> paired phones (connecting one after another, then all at once) each send <messages>
// frames — pings, deck.sync, icon requests, frames to ignore — 8 at a time to the real agent;
// every reply must answer its own request, per kind in the order sent. The agent's resident
// memory must stay within 2 MiB of its size after the first tenth of the messages, and its open
// files return to their number once the phones leave.
//   soak_proof [phones] [messages-per-phone]      (100, 10000; run through bench/run-soak)

#include <algorithm>
#include <deque>
#include <memory>
#include <set>

#include "bench/proof_support.h"

namespace {

using namespace velopad;
using namespace velopad::proof;

constexpr int window = 8;

struct Totals {
    long messagesSent = 0;
    long repliesChecked = 0;
    long ignoredFramesSent = 0;
    long overtakes = 0;  // a reply that came before the reply to an earlier request of another kind
    int phonesConnected = 0;  // phones connect one after another, in index order
    int phonesFinished = 0;   // with their messages, or failed
    int phonesFailed = 0;
    int phonesGone = 0;  // coroutines ended: the phones may be destroyed
    bool everyoneFinished = false;
    std::string firstFailure;
};

// The frames the agent reads and answers with nothing.
std::string ignoredFrame(long n) {
    const std::string frames[] = {"this is not JSON", R"({"type":"ping","payload":{}})",
                                  frame("app.launch", messageId(0xD0000000, n), R"({"bundle":1})"),
                                  frame("no.such.request", messageId(0xD0000000, n), "{}"),
                                  R"([1,2,{"type":"deck.sync"}])"};
    return frames[n % 5];
}

struct Phone {
    struct Expected {
        std::string type;
        std::string key;  // the id for pong and decks.snapshot, the bundle id for app.icon
    };

    int index;
    long messages;
    const std::vector<std::string>& iconIds;
    Totals& totals;
    std::deque<Expected> pending{};
    std::string failure{};

    Task<void> run(std::string token) {
        WebSocket ws(co_await asio::this_coro::executor);
        while (totals.phonesConnected < index) co_await pause(2ms);
        beast::get_lowest_layer(ws).expires_after(10s);
        const beast::error_code error = co_await openWebSocket(ws, "127.0.0.1", token);
        ++totals.phonesConnected;
        if (error) fail("connect: " + error.message());
        for (long sent = 0; sent < messages && failure.empty();) {
            for (int i = 0; i < window && sent < messages && failure.empty(); ++i) {
                co_await send(ws, sent++);
            }
            while (!pending.empty() && failure.empty()) co_await receive(ws);
        }
        ++totals.phonesFinished;
        totals.phonesFailed += !failure.empty();
        // Stay connected until every phone is done, so the last sample sees all of them.
        while (!totals.everyoneFinished) co_await pause(50ms);
        beast::error_code ignored;
        beast::get_lowest_layer(ws).expires_after(5s);
        if (failure.empty())
            co_await ws.async_close(websocket::close_code::normal, awaitInto(ignored));
        ++totals.phonesGone;
    }

    Task<void> send(WebSocket& ws, long n) {
        const std::string id = messageId(0xA0000000u + static_cast<unsigned>(index), n);
        const std::string bundle =
            iconIds.empty() ? "org.example.NoSuchApplication" : iconIds[(n / 10) % iconIds.size()];
        std::string text = ping(id);
        Expected expected{"pong", id};
        if (n % 10 == 1 || n % 10 == 5) {
            text = frame("deck.sync", id, "{}");
            expected.type = "decks.snapshot";
        } else if (n % 10 == 3 || n % 10 == 7) {
            text = iconRequest(id, {bundle});
            expected = {iconIds.empty() ? "" : "app.icon", bundle};
        } else if (n % 10 == 8) {
            text = ignoredFrame(n / 10);
            expected.type = "";
            ++totals.ignoredFramesSent;
        }
        if (!expected.type.empty()) pending.push_back(expected);
        ws.binary(n % 10 == 8 && (n / 10) % 7 == 0);
        beast::error_code error;
        beast::get_lowest_layer(ws).expires_after(10s);
        co_await ws.async_write(asio::buffer(text), awaitInto(error));
        if (error) fail("send: " + error.message());
        ++totals.messagesSent;
    }

    // The first outstanding request of the reply's kind must be the one answered.
    Task<void> receive(WebSocket& ws) {
        beast::flat_buffer buffer;
        beast::error_code error;
        beast::get_lowest_layer(ws).expires_after(10s);
        co_await ws.async_read(buffer, awaitInto(error));
        const std::string text = beast::buffers_to_string(buffer.data());
        Expected reply;
        try {
            const auto json = nlohmann::json::parse(text);
            reply.type = json.at("type").get<std::string>();
            reply.key =
                (reply.type == "app.icon" ? json.at("payload").at("bundleId") : json.at("id"))
                    .get<std::string>();
        } catch (const std::exception&) {
        }
        const auto it = std::find_if(pending.begin(), pending.end(),
                                     [&reply](const Expected& e) { return e.type == reply.type; });
        if (error) {
            fail("waiting for " + pending.front().type + " " + pending.front().key + ": " +
                 error.message());
        } else if (it == pending.end() || it->key != reply.key) {
            fail("unexpected " + text.substr(0, 100) +
                 (it == pending.end() ? "" : " while " + it->key + " was awaited first"));
        } else {
            totals.overtakes += it != pending.begin();
            pending.erase(it);
            ++totals.repliesChecked;
        }
    }

    void fail(const std::string& what) {
        if (!failure.empty()) return;
        failure = "phone " + std::to_string(index) + ": " + what;
        if (totals.firstFailure.empty()) totals.firstFailure = failure;
    }
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
    test::WsClient phone(agentPort, withToken(token));
    phone.send(iconRequest(messageId(0xE0000000, 1), candidates));
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
    while (totals.phonesFinished < phones) {
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
    const std::pair<bool, std::string> checks[] = {
        {totals.phonesFailed > 0,
         std::to_string(totals.phonesFailed) + " phones failed; first: " + totals.firstFailure},
        {end.rssKiB - warm->rssKiB > 2048, "resident memory grew by " +
                                               std::to_string(end.rssKiB - warm->rssKiB) +
                                               " KiB after the warm-up"},
        {after.fds != before.fds, std::to_string(after.fds) +
                                      " open files after the phones left, " +
                                      std::to_string(before.fds) + " before"}};
    int status = 0;
    for (const auto& [failed, what] : checks) {
        if (failed) std::printf("FAIL: %s\n", what.c_str());
        status |= failed;
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
