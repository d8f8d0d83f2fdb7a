// Input rules of the codec: what decodes and what fails, one line per case. Whatever arrives
// from the network either decodes or throws DecodeError: no crash, no stack exhaustion, no
// unbounded allocation.

#include <gtest/gtest.h>

#include "protocol/pairing_records.h"
#include "protocol/payloads.h"
#include "protocol/wire_codec.h"

namespace velopad {
namespace {

const std::string kId = "\"7C9E6679-7425-40DE-944B-E07FC1F90AE7\"";

std::string message(std::string_view type, std::string_view payload, const std::string& id = kId) {
    return "{\"type\":\"" + std::string(type) + "\",\"id\":" + id +
           ",\"payload\":" + std::string(payload) + "}";
}
std::string ping(std::string_view ts) {
    return message("ping", "{\"ts\":\"" + std::string(ts) + "\"}");
}

template <class Payload>
void expectRejected(std::initializer_list<std::string> texts) {
    for (const std::string& text : texts)
        EXPECT_THROW((void)WireCodec::decode<Payload>(text), DecodeError) << text;
}

TEST(WireDecodeRejects, WhatIsNotExactlyOneMessage) {
    expectRejected<EmptyPayload>({
        R"({"type":"deck.sync","id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7"})",
        R"({"id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","payload":{}})",
        R"({"type":"deck.sync","payload":{}})",
        R"({"type":3,"id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","payload":{}})",
        "[]",
        message("deck.sync", "{}") + "x",
        message("deck.sync", "{}") + message("deck.sync", "{}"),
        "",
    });
}

TEST(WireDecodeRejects, DatesAndIdsOfAnyOtherForm) {
    expectRejected<PingPayload>({
        message("ping", R"({"ts":736250400})"), message("ping", "{}"),
        message("ping", R"({"ts":null})"), ping("2024-05-01T10:00:00"), ping("2024-05-01"),
        ping("2024-05-01 10:00:00Z"), ping("2024-02-30T10:00:00Z"), ping("2024-05-01T24:00:00Z"),
        ping("2024-05-01T10:00Z"), ping("2024-05-01T10:00:00.Z"), ping("2024-05-01T10:00:00+0200"),
        ping("2024-05-01T10:00:00Zx"),
        ping("9999-12-31T23:59:59Z"),  // beyond the clock's range
    });
    const std::string ts = R"({"ts":"2024-05-01T10:00:00Z"})";
    expectRejected<PingPayload>({
        message("ping", ts, R"("7C9E6679742540DE944BE07FC1F90AE7")"),
        message("ping", ts, R"("{7C9E6679-7425-40DE-944B-E07FC1F90AE7}")"),
        message("ping", ts, R"("7C9E6679-7425-40DE-944B-E07FC1F90AE")"),
        message("ping", ts, R"("7C9E6679-7425-40DE-944B-E07FC1F90AEG")"),
        message("ping", ts, R"("7C9E667-97425-40DE-944B-E07FC1F90AE7")"),
        message("ping", ts, "12"),
    });
}

TEST(WireDecodeRejects, PayloadsOfTheWrongShape) {
    expectRejected<AppErrorPayload>(
        {message("app.error", R"({"bundleId":"b","code":"launchFailed"})")});
    expectRejected<PairRequestPayload>({
        message("pair.request",
                R"({"method":"PIN","secret":"1","deviceName":"n","deviceId":)" + kId + "}"),
        message("pair.request",
                R"({"method":"pin","secret":"1","deviceName":"n","deviceId":"phone"})"),
    });
    expectRejected<PairFailPayload>({message("pair.fail", R"({"reason":"nope"})")});
    expectRejected<AppActionPayload>({
        message("app.launch", R"({"bundleId":5})"),
        message("app.launch", R"({"bundleId":null})"),
        message("app.launch", R"("com.apple.Safari")"),
        message("app.launch", R"("{\"bundleId\":\"x\"}")"),
    });
    expectRejected<PongPayload>({
        message("pong", R"({"ts":"2024-05-01T10:00:00Z","rtt":"0.25"})"),
        message("pong", R"({"ts":"2024-05-01T10:00:00Z","rtt":true})"),
    });
    expectRejected<AppIconRequestPayload>({
        message("app.icon.request", R"({"bundleIds":["a",1]})"),
        message("app.icon.request", "{}"),
        message("app.icon.request", R"({"bundleIds":"a"})"),
    });
    expectRejected<ShortcutRunPayload>(
        {message("shortcut.run", R"({"shortcutIdentifier":"X","label":2})")});
    expectRejected<DeckSnapshotPayload>({message(
        "deck.snapshot", R"({"deckId":"d","name":"n","tiles":[],"iconRevisions":{"a":1}})")});
    expectRejected<DecksSnapshotPayload>({
        message("decks.snapshot",
                R"({"decks":[{"deckId":"d","name":"n","tiles":[{"label":"l","bundleId":"b"}]}]})"),
        message("decks.snapshot", "{}"),
    });
}

TEST(WireDecodeAccepts, EmptyPayloadValueIsNotExamined) {
    for (const char* payload : {"{}", R"({"x":1})", "null"})
        EXPECT_NO_THROW(WireCodec::decode<EmptyPayload>(message("deck.sync", payload)));
}

TEST(WireDecodeAccepts, NullOptionalsAreAbsentAndUnknownKeysIgnored) {
    const auto error = WireCodec::decode<AppErrorPayload>(
        message("app.error",
                R"({"bundleId":"b","code":"launch_failed","message":null,"later":{"x":[1]}})"));
    EXPECT_EQ(error.payload, (AppErrorPayload{"b", AppErrorCode::launchFailed, std::nullopt}));
    const auto pong = WireCodec::decode<PongPayload>(
        message("pong", R"({"ts":"2024-05-01T10:00:00Z","rtt":null,"runningBundleIds":null})"));
    EXPECT_EQ(pong.payload.rtt, std::nullopt);
    EXPECT_EQ(pong.payload.runningBundleIds, std::nullopt);
    const auto envelopeExtra = WireCodec::decode<ActionRunPayload>(
        R"({"type":"action.run","id":)" + kId + R"(,"payload":{"actionId":"a"},"v":2})");
    EXPECT_EQ(envelopeExtra.payload.actionId, "a");
}

TEST(WireDecodeAccepts, NumbersAndTextsWhereTheyBelong) {
    EXPECT_EQ(
        WireCodec::decode<PongPayload>(message("pong", R"({"ts":"2024-05-01T10:00:00Z","rtt":2})"))
            .payload.rtt,
        2.0);
    EXPECT_TRUE(
        WireCodec::decode<AppIconRequestPayload>(message("app.icon.request", R"({"bundleIds":[]})"))
            .payload.bundleIds.empty());
    EXPECT_EQ(WireCodec::decode<ShortcutRunPayload>(
                  message("shortcut.run", R"({"shortcutIdentifier":"X"})"))
                  .payload,
              (ShortcutRunPayload{"X", std::nullopt}));
    const auto pair = WireCodec::decode<PairRequestPayload>(message(
        "pair.request",
        R"({"method":"qr","secret":"s","deviceName":"n","deviceId":"7c9e6679-7425-40de-944b-e07fc1f90ae7"})"));
    EXPECT_EQ(pair.payload.deviceId.toString(), "7C9E6679-7425-40DE-944B-E07FC1F90AE7");
}

TEST(WireDecodeAccepts, DatesWithFractionsAndOffsets) {
    using namespace std::chrono;
    const WireDate tenOClock = sys_days{2024y / May / 1} + 10h;
    const auto at = [](std::string_view ts) {
        return WireCodec::decode<PingPayload>(ping(ts)).payload.ts;
    };
    EXPECT_EQ(at("2024-05-01T10:00:00.250Z"), tenOClock + 250ms);
    EXPECT_EQ(at("2024-05-01T12:00:00+02:00"), tenOClock);
    EXPECT_EQ(at("2024-05-01T09:30:00-00:30"), tenOClock);
    EXPECT_EQ(at("2024-02-29T00:00:00Z"), WireDate{sys_days{2024y / February / 29}});
    EXPECT_EQ(formatWireDate(tenOClock + 999ms), "2024-05-01T10:00:00Z");
    EXPECT_EQ(formatWireDate(sys_days{1969y / December / 31} + 23h + 59min + 59s + 500ms),
              "1969-12-31T23:59:59Z");
}

std::string launch(const std::string& payload) { return message("app.launch", payload); }
std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(WireHostileInput, DeepNestingIsRefused) {
    for (std::size_t depth : {65u, 1000u, 1'000'000u}) {
        EXPECT_THROW(WireCodec::decodeEnvelope(nested(depth)), DecodeError) << depth;
        expectRejected<AppActionPayload>({launch(R"({"bundleId":"b","x":)" + nested(depth) + "}")});
    }
    // Unclosed nesting is refused too, before the end of the text is reached.
    EXPECT_THROW(WireCodec::decodeEnvelope(std::string(5'000'000, '{')), DecodeError);
    // envelope (1) + payload (2) + "x" value: 62 more levels = 64 in all, read and ignored.
    const auto moderate =
        WireCodec::decode<AppActionPayload>(launch(R"({"bundleId":"b","x":)" + nested(62) + "}"));
    EXPECT_EQ(moderate.payload.bundleId, "b");
}

TEST(WireHostileInput, HugeStringDecodesAndEncodes) {
    const std::string bundleId(10 * 1024 * 1024, 'a');
    const auto message =
        WireCodec::decode<AppActionPayload>(launch(R"({"bundleId":")" + bundleId + "\"}"));
    EXPECT_EQ(message.payload.bundleId.size(), bundleId.size());
    const auto empty =
        WireCodec::encodeString(WireMessage<AppActionPayload>{message.type, message.id, {}});
    EXPECT_EQ(WireCodec::encodeString(message).size(), bundleId.size() + empty.size());
}

TEST(WireHostileInput, InvalidUtf8AndRawNulBytesAreRefused) {
    using namespace std::string_literals;
    for (std::string bad :
         {"\xC3(", "\xFF", "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80", "\xE2\x82"}) {
        expectRejected<AppActionPayload>({launch(R"({"bundleId":")" + bad + "\"}")});
        EXPECT_THROW(WireCodec::decodeEnvelope(launch("{}," + bad)), DecodeError);
    }
    // An escaped lone surrogate is not a character either.
    expectRejected<AppActionPayload>({launch(R"({"bundleId":"\ud800"})"),
                                      launch("{\"bundleId\":\"a\0b\"}"s),
                                      launch(R"({"bundleId":"ab"})") + "\0"s});
    EXPECT_THROW(WireCodec::decodeEnvelope("\0"s), DecodeError);
    // An escaped NUL is a legal character and survives a round trip.
    const auto message = WireCodec::decode<AppActionPayload>(launch(R"({"bundleId":"a\u0000b"})"));
    EXPECT_EQ(message.payload.bundleId, "a\0b"s);
    EXPECT_EQ(WireCodec::decode<AppActionPayload>(WireCodec::encodeString(message)), message);
}

TEST(WireHostileInput, HugeNumbers) {
    const std::string pong =
        R"({"type":"pong","id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","payload":{"ts":"2024-05-01T10:00:00Z","rtt":)";
    for (const std::string& rtt :
         {std::string("1e999"), std::string("-1e999"), std::string(400, '9')})
        EXPECT_THROW(WireCodec::decode<PongPayload>(pong + rtt + "}}"), DecodeError) << rtt;
    EXPECT_EQ(WireCodec::decode<PongPayload>(pong + "18446744073709551616}}").payload.rtt,
              18446744073709551616.0);
    const std::string deck =
        R"({"type":"deck.snapshot","id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","payload":{"deckId":"d","name":"n","tiles":[{"label":"l","bundleId":"b","slot":)";
    for (const char* slot : {"9223372036854775808", "1e300", "1.5", "true"})
        EXPECT_THROW(WireCodec::decode<DeckSnapshotPayload>(deck + slot + "}]}}"), DecodeError)
            << slot;
    const auto big = WireCodec::decode<DeckSnapshotPayload>(deck + "-9223372036854775808}]}}");
    EXPECT_EQ(big.payload.tiles.at(0).slot, std::numeric_limits<std::int64_t>::min());
}

TEST(WireHostileInput, ErrorTextDoesNotEchoTheInput) {
    const std::string junk(1'000'000, 'x');
    try {
        (void)WireCodec::decodeEnvelope("\"" + junk);
        FAIL();
    } catch (const DecodeError& error) {
        EXPECT_LT(std::string_view(error.what()).size(), 200u);
    }
}

}  // namespace
}  // namespace velopad
