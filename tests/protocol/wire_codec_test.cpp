// The wire codec: the exact bytes it writes, and its input rules. Whatever arrives from the
// network either decodes or throws DecodeError: no crash, no stack exhaustion.

#include "protocol/wire_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "protocol/deck_tile_factories.h"
#include "protocol/message_factory.h"
#include "protocol/message_type.h"
#include "protocol/pairing_records.h"

namespace velopad {
namespace {

using namespace std::chrono;
using namespace std::string_literals;
using ::testing::Property;
using ::testing::Throws;

const Uuid kZero{};
const Uuid kId = *Uuid::parse("7C9E6679-7425-40DE-944B-E07FC1F90AE7");
const WireDate kMay1 = sys_days{2024y / May / 1} + 10h;

const std::string kIdText = "\"7C9E6679-7425-40DE-944B-E07FC1F90AE7\"";

std::string message(std::string_view type, std::string_view payload,
                    const std::string& id = kIdText) {
    return "{\"type\":\"" + std::string(type) + "\",\"id\":" + id +
           ",\"payload\":" + std::string(payload) + "}";
}

TEST(WireCodecBytes, PongWorkedExampleIsByteForByte) {
    const auto pong = MessageFactory::pong(
        kMay1, 0.25, std::vector<std::string>{"com.apple.finder", "com.apple.Safari"}, kZero);
    EXPECT_EQ(WireCodec::encode(pong),
              R"({"id":"00000000-0000-0000-0000-000000000000","payload":{"rtt":0.25,)"
              R"("runningBundleIds":["com.apple.finder","com.apple.Safari"],)"
              R"("ts":"2024-05-01T10:00:00Z"},"type":"pong"})");
}

TEST(WireCodecBytes, WholeSecondsAreWrittenWithoutAFraction) {
    for (const auto& [rtt, written] :
         std::vector<std::pair<double, std::string>>{{1.0, "1"}, {-3.0, "-3"}, {1.5, "1.5"}}) {
        const auto text = WireCodec::encode(MessageFactory::pong(kMay1, rtt, std::nullopt, kZero));
        EXPECT_NE(text.find("\"rtt\":" + written + ","), std::string::npos) << text;
        EXPECT_EQ(WireCodec::decode<PongPayload>(text).payload.rtt, rtt);
    }
}

TEST(WireCodecBytes, KeysAreSortedAtEveryLevelWithoutWhitespaceAndSlashesEscaped) {
    const DeckTile tile = appTile(1, "OBS", "com.obsproject.obs-studio", "obs",
                                  std::vector<std::string>{"com.obsproject.OBS"});
    const auto message = MessageFactory::decksSnapshot(
        {DeckSnapshotPayload{"streaming", "Streaming", {tile}, {}, {{"b.id", "2"}, {"a.id", "1"}}}},
        kZero);
    EXPECT_EQ(WireCodec::encode(message),
              R"({"id":"00000000-0000-0000-0000-000000000000","payload":{"decks":[)"
              R"({"deckId":"streaming","iconRevisions":{"a.id":"1","b.id":"2"},"name":"Streaming",)"
              R"("runningBundleIds":[],"tiles":[{"alternateBundleIds":["com.obsproject.OBS"],)"
              R"("bundleId":"com.obsproject.obs-studio","iconName":"obs",)"
              R"("id":"com.obsproject.obs-studio","kind":"app","label":"OBS","slot":1}]}]},)"
              R"("type":"decks.snapshot"})");
    const auto icon = MessageFactory::appIcon("com.apple.Safari", "ab", "iVBOR/w+/=", kZero);
    EXPECT_EQ(
        WireCodec::encode(icon),
        R"({"id":"00000000-0000-0000-0000-000000000000","payload":{"bundleId":)"
        R"("com.apple.Safari","pngBase64":"iVBOR\/w+\/=","revision":"ab"},"type":"app.icon"})");
}

TEST(WireCodecBytes, OptionalFieldsAreOmittedAndEmptySnapshotCollectionsWritten) {
    EXPECT_EQ(
        WireCodec::encode(MessageFactory::shortcutRun("X", std::nullopt, kZero)),
        R"({"id":"00000000-0000-0000-0000-000000000000","payload":{"shortcutIdentifier":"X"},"type":"shortcut.run"})");
    EXPECT_EQ(WireCodec::encode(MessageFactory::deckSync(kZero)),
              R"({"id":"00000000-0000-0000-0000-000000000000","payload":{},"type":"deck.sync"})");
    const auto snapshot = WireCodec::decode<DeckSnapshotPayload>(
        message("deck.snapshot", R"({"deckId":"g","name":"G","tiles":[]})"));
    EXPECT_NE(
        WireCodec::encode(snapshot).find(R"("iconRevisions":{},"name":"G","runningBundleIds":[])"),
        std::string::npos);
}

template <class Payload>
void expectRoundTrip(const WireMessage<Payload>& message) {
    SCOPED_TRACE(message.type);
    const std::string text = WireCodec::encodeString(message);
    EXPECT_EQ(WireCodec::decode<Payload>(text), message);
    EXPECT_EQ(WireCodec::encode(WireCodec::decode<Payload>(text)), text);
}

TEST(WireCodecRoundTrip, EveryPayloadSurvives) {
    const auto id = Uuid::random();
    const DeckTile action = actionTile(BuiltinAction::volumeUp, 3);
    const DeckSnapshotPayload deck{"gaming", "Gaming", {action}, {"steam"}, {{"steam", "r"}}};
    expectRoundTrip(MessageFactory::pairRequest(PairingMethod::qr, "code", "Ann’s", id, id));
    expectRoundTrip(MessageFactory::pairFail(PairingFailureReason::alreadyPaired, {}, id));
    expectRoundTrip(MessageFactory::decksSnapshot({deck, deck}, id));
    expectRoundTrip(MessageFactory::appError("x", AppErrorCode::launchFailed, "Not", id));
    expectRoundTrip(MessageFactory::ping(kMay1, id));
    expectRoundTrip(MessageFactory::pong(kMay1, std::nullopt, std::nullopt, id));
    expectRoundTrip(MessageFactory::appIconRequest({"a", "b"}, id));
    expectRoundTrip(MessageFactory::actionError("nope", ActionErrorCode::unknown, "No", id));
    expectRoundTrip(MessageFactory::shortcutRun("S", "Label", id));
    expectRoundTrip(MessageFactory::shortcutError("S", ShortcutErrorCode::timedOut, {}, id));
}

TEST(WireCodecRoundTrip, CodesAndTypesTravelAsRawValues) {
    EXPECT_EQ(rawValue(AppErrorCode::launchFailed), "launch_failed");
    EXPECT_EQ(rawValue(PairingFailureReason::invalidPIN), "invalid_pin");
    EXPECT_EQ(rawValue(PairingFailureReason::invalidCode), "invalid_code");
    EXPECT_EQ(rawValue(PairingFailureReason::lockout), "lockout");
    EXPECT_EQ(rawValue(PairingFailureReason::alreadyPaired), "already_paired");
    EXPECT_EQ(messageTypeFromRawValue("Ping"), std::nullopt);
    for (MessageType type : allMessageTypes)
        EXPECT_EQ(messageTypeFromRawValue(rawValue(type)), type);
}

TEST(WireCodecErrors, NonFiniteNumbersAndInvalidUtf8CannotBeEncoded) {
    const auto failsWith = [](WireCodecError error) {
        return Throws<WireCodecException>(Property(&WireCodecException::error, error));
    };
    const auto nan =
        MessageFactory::pong(kMay1, std::numeric_limits<double>::quiet_NaN(), {}, kZero);
    EXPECT_THAT([&] { (void)WireCodec::encode(nan); }, failsWith(WireCodecError::nonFiniteNumber));
    const auto bad = MessageFactory::appOK(std::string("bad\xC3(", 5), kZero);
    EXPECT_THAT([&] { (void)WireCodec::encode(bad); }, failsWith(WireCodecError::invalidUTF8));
}

std::string ping(std::string_view ts) {
    return message("ping", "{\"ts\":\"" + std::string(ts) + "\"}");
}
std::string launch(const std::string& payload) { return message("app.launch", payload); }
std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

template <class Payload>
void expectRejected(std::initializer_list<std::string> texts) {
    for (const std::string& text : texts)
        EXPECT_THROW((void)WireCodec::decode<Payload>(text), DecodeError) << text;
}

TEST(WireDecodeRejects, EnvelopesThatAreNotExactlyOneMessage) {
    expectRejected<EmptyPayload>({
        R"({"type":"deck.sync","id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7"})",
        R"({"type":"deck.sync","payload":{}})",
        R"({"type":3,"id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","payload":{}})",
        "[]",
        message("deck.sync", "{}") + "x",
        "",
    });
    EXPECT_EQ(WireCodec::decodeEnvelope(
                  R"({"type":"shortcut.run","id":"7c9e6679-7425-40de-944b-e07fc1f90ae7","x":[1]})"),
              (MessageEnvelope{"shortcut.run", kId}));
    EXPECT_THROW(WireCodec::decodeEnvelope(R"({"type":"ping","id":"nope"})"), DecodeError);
}

TEST(WireDecodeRejects, DatesAndIdsOfAnyOtherForm) {
    expectRejected<PingPayload>({
        message("ping", R"({"ts":736250400})"), ping("2024-05-01T10:00:00"),
        ping("2024-05-01 10:00:00Z"), ping("2024-02-30T10:00:00Z"), ping("2024-05-01T24:00:00Z"),
        ping("2024-05-01T10:00:00+0200"), ping("2024-05-01T10:00:00Zx"),
        ping("9999-12-31T23:59:59Z"),  // beyond the clock's range
    });
    const std::string ts = R"({"ts":"2024-05-01T10:00:00Z"})";
    expectRejected<PingPayload>({
        message("ping", ts, R"("7C9E6679742540DE944BE07FC1F90AE7")"),
        message("ping", ts, R"("7C9E6679-7425-40DE-944B-E07FC1F90AEG")"),
        message("ping", ts, R"("7C9E667-97425-40DE-944B-E07FC1F90AE7")"),
    });
}

TEST(WireDecodeRejects, PayloadsOfTheWrongShape) {
    expectRejected<AppErrorPayload>(
        {message("app.error", R"({"bundleId":"b","code":"launchFailed"})")});
    expectRejected<AppActionPayload>({launch(R"({"bundleId":null})"), launch(R"("Safari")")});
    expectRejected<AppIconRequestPayload>(
        {message("app.icon.request", R"({"bundleIds":["a",1]})")});
}

TEST(WireDecodeAccepts, NullOptionalsAreAbsentAndUnknownKeysIgnored) {
    for (const char* payload : {"{}", R"({"x":1})", "null"})
        EXPECT_NO_THROW(WireCodec::decode<EmptyPayload>(message("deck.sync", payload)));
    const auto error = WireCodec::decode<AppErrorPayload>(
        message("app.error",
                R"({"bundleId":"b","code":"launch_failed","message":null,"later":{"x":[1]}})"));
    EXPECT_EQ(error.payload, (AppErrorPayload{"b", AppErrorCode::launchFailed, std::nullopt}));
    const auto pong = WireCodec::decode<PongPayload>(
        message("pong", R"({"ts":"2024-05-01T10:00:00Z","rtt":2,"runningBundleIds":null})"));
    EXPECT_EQ(pong.payload.rtt, 2.0);
    EXPECT_EQ(pong.payload.runningBundleIds, std::nullopt);
}

TEST(WireDecodeAccepts, DatesWithFractionsAndOffsets) {
    const auto at = [](std::string_view ts) {
        return WireCodec::decode<PingPayload>(ping(ts)).payload.ts;
    };
    EXPECT_EQ(at("2024-05-01T10:00:00.250Z"), kMay1 + 250ms);
    EXPECT_EQ(at("2024-05-01T12:00:00+02:00"), kMay1);
    EXPECT_EQ(at("2024-05-01T09:30:00-00:30"), kMay1);
    EXPECT_EQ(at("2024-02-29T00:00:00Z"), WireDate{sys_days{2024y / February / 29}});
    EXPECT_EQ(formatWireDate(kMay1 + 999ms), "2024-05-01T10:00:00Z");
    EXPECT_EQ(formatWireDate(sys_days{1969y / December / 31} + 23h + 59min + 59s + 500ms),
              "1969-12-31T23:59:59Z");
}

TEST(WireHostileInput, DeepNestingIsRefused) {
    for (std::size_t depth : {65u, 1'000'000u}) {
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

TEST(WireHostileInput, InvalidUtf8AndRawNulBytesAreRefused) {
    for (std::string bad : {"\xC3(", "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80", "\xE2\x82"})
        expectRejected<AppActionPayload>({launch(R"({"bundleId":")" + bad + "\"}")});
    expectRejected<AppActionPayload>({launch(R"({"bundleId":"\ud800"})"),
                                      launch("{\"bundleId\":\"a\0b\"}"s),
                                      launch(R"({"bundleId":"ab"})") + "\0"s});
    // An escaped NUL is a legal character and survives a round trip.
    const auto message = WireCodec::decode<AppActionPayload>(launch(R"({"bundleId":"a\u0000b"})"));
    EXPECT_EQ(message.payload.bundleId, "a\0b"s);
    EXPECT_EQ(WireCodec::decode<AppActionPayload>(WireCodec::encodeString(message)), message);
}

TEST(WireHostileInput, HugeNumbers) {
    expectRejected<PongPayload>({message("pong", R"({"ts":"2024-05-01T10:00:00Z","rtt":1e999})")});
    const std::string deck =
        R"({"deckId":"d","name":"n","tiles":[{"label":"l","bundleId":"b","slot":)";
    for (const char* slot : {"9223372036854775808", "1e300", "1.5"})
        expectRejected<DeckSnapshotPayload>({message("deck.snapshot", deck + slot + "}]}")});
    const auto big = WireCodec::decode<DeckSnapshotPayload>(
        message("deck.snapshot", deck + "-9223372036854775808}]}"));
    EXPECT_EQ(big.payload.tiles.at(0).slot, std::numeric_limits<std::int64_t>::min());
}

}  // namespace
}  // namespace velopad
