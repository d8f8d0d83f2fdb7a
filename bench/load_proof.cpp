// The real agent under load from phones, run through bench/run-flood and bench/run-soak:
//   load_proof flood [rounds] [unpaired] [half-open]      (20, 500, 200)
//       each round, a flood from 127.0.0.2 and then the paired phone from 127.0.0.1
//   load_proof soak [phones] [messages-per-phone]      (100, 10000)
//       the phones (connecting one after another) each send frames 8 at a time; every reply
//       answers its own request, per kind in the order sent

#include <algorithm>
#include <boost/asio/write.hpp>
#include <deque>
#include <list>
#include <memory>
#include <set>

#include "bench/proof_support.h"

namespace {

using namespace velopad;
using namespace velopad::proof;

struct Flood {
    std::list<std::shared_ptr<WebSocket>> connections;
    int settled = 0;        // connected and handshaken, or failed doing so
    int upgraded = 0;       // unpaired WebSockets that finished their handshake
    int closedByAgent = 0;  // connections the agent ended (refused, evicted, timed out)

    void close() {
        for (auto& ws : connections) beast::get_lowest_layer(*ws).close();
    }
};

// A connection from 127.0.0.2: an unpaired WebSocket, or a TCP connection that sends part of a
// handshake; either then waits for the agent to end it.
Task<void> floodConnection(std::shared_ptr<Flood> flood, bool halfOpen) {
    const auto executor = co_await asio::this_coro::executor;
    const auto ws = flood->connections.emplace_back(std::make_shared<WebSocket>(executor));
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
    char byte;  // what the agent sends next, or the end of the connection
    if (!error) co_await stream.async_read_some(asio::buffer(&byte, 1), awaitInto(error));
    flood->closedByAgent += error != asio::error::operation_aborted;
}

// The next message within `limit` as JSON; an object saying what went wrong when there is none.
Task<nlohmann::json> receiveJson(WebSocket& ws, std::chrono::seconds limit = 5s) {
    beast::flat_buffer buffer;
    beast::error_code error;
    beast::get_lowest_layer(ws).expires_after(limit);
    co_await ws.async_read(buffer, awaitInto(error));
    const std::string text =
        error ? "nothing: " + error.message() : beast::buffers_to_string(buffer.data());
    const auto json = nlohmann::json::parse(text, nullptr, false);
    co_return json.is_object() ? json : nlohmann::json{{"unreadable", text.substr(0, 80)}};
}

// Connects and pings within 5 s, then waits for a push; the step that failed, or "" when served.
Task<std::string> servePhone(const std::string& token, test::AgentProcess& agent, int round) {
    WebSocket ws(co_await asio::this_coro::executor);
    beast::get_lowest_layer(ws).expires_after(5s);
    beast::error_code error = co_await openWebSocket(ws, "127.0.0.1", token);
    if (error) co_return "connect: " + error.message();
    const std::string id = messageId(0xC0000000, static_cast<unsigned long long>(round));
    const std::string pingText = ping(id);
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
    for (int round = 1; round <= rounds; ++round) {
        const auto flood = std::make_shared<Flood>();
        co_await pause(200ms);
        // The unpaired connections come in waves of 50, each let finish its handshakes (or be
        // turned away) before the next, then the half-open ones all at once; the phone comes
        // when the flood has taken its places or is held at the door.
        for (int opened = 1; opened <= unpaired + halfOpen; ++opened) {
            asio::co_spawn(executor, floodConnection(flood, opened > unpaired), asio::detached);
            if (opened <= unpaired ? opened % 50 != 0 && opened != unpaired
                                   : opened != unpaired + halfOpen)
                continue;
            const auto deadline = Clock::now() + 3s;
            while (flood->settled < opened && Clock::now() < deadline) co_await pause(5ms);
        }
        const auto start = Clock::now();
        const std::string failure = co_await servePhone(token, agent, round);
        served += failure.empty();
        std::printf(
            "round %2d: phone %s in %6.1f ms; flood: %zu connections opened, %d unpaired "
            "WebSocket handshakes finished, %d connections closed by the agent\n",
            round, failure.empty() ? "served" : ("NOT served (" + failure + ")").c_str(),
            millisecondsSince(start), flood->connections.size(), flood->upgraded,
            flood->closedByAgent);
        std::fflush(stdout);
        flood->close();
    }
    std::printf("flood: the paired phone was served in %d of %d rounds\n", served, rounds);
    co_return served == rounds ? 0 : 1;
}

struct Totals {
    long messagesSent = 0;
    long repliesChecked = 0;
    long ignoredFramesSent = 0;
    long overtakes = 0;  // a reply that came before the reply to an earlier request of another kind
    int phonesConnected = 0;  // phones connect one after another, in index order
    int phonesFinished = 0;   // with their messages, or failed
    int phonesGone = 0;       // coroutines ended: the phones may be destroyed
    bool everyoneFinished = false;
    std::vector<std::string> failures;  // a phone's first, in the order they came
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
        std::string type, key;  // key: the request's id, or the bundle id for app.icon
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
            for (int window = 0; window < 8 && sent < messages && failure.empty(); ++window)
                co_await send(ws, sent++);
            while (!pending.empty() && failure.empty()) co_await receive(ws);
        }
        ++totals.phonesFinished;
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
        const nlohmann::json json = co_await receiveJson(ws, 10s);
        const std::string type = json.value("type", "");
        const std::string key = type == "app.icon"
                                    ? json.value("/payload/bundleId"_json_pointer, "")
                                    : json.value("id", "");
        const auto it = std::find_if(pending.begin(), pending.end(),
                                     [&type](const Expected& e) { return e.type == type; });
        if (it == pending.end() || it->key != key) {
            const Expected& awaited = it == pending.end() ? pending.front() : *it;
            fail("waiting for " + awaited.type + " " + awaited.key + ", got " +
                 json.dump().substr(0, 100));
        } else {
            totals.overtakes += it != pending.begin();
            pending.erase(it);
            ++totals.repliesChecked;
        }
    }

    void fail(const std::string& what) {
        if (!failure.empty()) return;
        failure = "phone " + std::to_string(index) + ": " + what;
        totals.failures.push_back(failure);
    }
};

// Ids of the system's applications whose icons the agent sends, found by asking for up to 40.
std::vector<std::string> answeredIconIds(const std::string& token) {
    std::vector<std::string> candidates;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/share/applications", error))
        if (entry.path().extension() == ".desktop") candidates.push_back(entry.path().stem());
    candidates.resize(std::min<std::size_t>(candidates.size(), 40));
    test::WsClient phone(agentPort, {{"X-Harborlink-Token", token}});
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
    std::deque<Phone> all;  // each stays where it is made while its coroutine runs
    for (int i = 0; i < phones; ++i)
        asio::co_spawn(executor, all.emplace_back(i, messages, iconIds, totals).run(token),
                       asio::detached);
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
    const long growth = end.rssKiB - warm->rssKiB;
    if (!totals.failures.empty())
        std::printf("FAIL: %zu phones failed; first: %s\n", totals.failures.size(),
                    totals.failures.front().c_str());
    if (growth > 2048)
        std::printf("FAIL: resident memory grew by %ld KiB after the warm-up\n", growth);
    if (after.fds != before.fds)
        std::printf("FAIL: %d open files after the phones left, %d before\n", after.fds,
                    before.fds);
    const bool passed = totals.failures.empty() && growth <= 2048 && after.fds == before.fds;
    if (passed) std::printf("soak: passed\n");
    co_return passed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode != "flood" && mode != "soak") {
        std::fprintf(
            stderr,
            "usage: load_proof flood|soak [numbers], see bench/run-flood and bench/run-soak\n");
        return 2;
    }
    test::AgentProcess agent;
    const auto token = startAndPair(agent);
    if (!token) return 1;
    if (mode == "flood") {
        return runProof(agent, flood(agent, *token, argument(argc, argv, 2, 20),
                                     argument(argc, argv, 3, 500), argument(argc, argv, 4, 200)));
    }
    return runProof(agent, soak(agent.pid(), *token, argument(argc, argv, 2, 100),
                                argument(argc, argv, 3, 10000L)));
}
