// Input rules of the codec: what decodes and what fails, one row per case.

#include <gtest/gtest.h>

#include <functional>

#include "protocol/pairing_records.h"
#include "protocol/payloads.h"
#include "protocol/wire_codec.h"

namespace velopad {
namespace {

using Decoder = std::function<void(std::string_view)>;

template <class Payload>
Decoder decoderFor() {
    return [](std::string_view text) { (void)WireCodec::decode<Payload>(text); };
}

std::string message(std::string_view type, std::string_view payload,
                    std::string_view id = "\"7C9E6679-7425-40DE-944B-E07FC1F90AE7\"") {
    return "{\"type\":\"" + std::string(type) + "\",\"id\":" + std::string(id) +
           ",\"payload\":" + std::string(payload) + "}";
}

struct Row {
    const char* name;
    Decoder decode;
    std::string text;
};

class WireDecodeRejects : public testing::TestWithParam<Row> {};

TEST_P(WireDecodeRejects, FailsWithDecodeError) {
    EXPECT_THROW(GetParam().decode(GetParam().text), DecodeError) << GetParam().text;
}

const std::string kTs = R"({"ts":"2024-05-01T10:00:00Z"})";

INSTANTIATE_TEST_SUITE_P(
    Table, WireDecodeRejects,
    testing::Values(
        Row{"missingPayloadEmpty", decoderFor<EmptyPayload>(),
            R"({"type":"deck.sync","id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7"})"},
        Row{"missingType", decoderFor<EmptyPayload>(),
            R"({"id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","payload":{}})"},
        Row{"missingId", decoderFor<EmptyPayload>(), R"({"type":"deck.sync","payload":{}})"},
        Row{"typeNotString", decoderFor<EmptyPayload>(),
            R"({"type":3,"id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","payload":{}})"},
        Row{"tsAsNumber", decoderFor<PingPayload>(), message("ping", R"({"ts":736250400})")},
        Row{"tsMissing", decoderFor<PingPayload>(), message("ping", "{}")},
        Row{"tsNull", decoderFor<PingPayload>(), message("ping", R"({"ts":null})")},
        Row{"dateWithoutZone", decoderFor<PingPayload>(),
            message("ping", R"({"ts":"2024-05-01T10:00:00"})")},
        Row{"dateOnly", decoderFor<PingPayload>(), message("ping", R"({"ts":"2024-05-01"})")},
        Row{"dateWithSpace", decoderFor<PingPayload>(),
            message("ping", R"({"ts":"2024-05-01 10:00:00Z"})")},
        Row{"dateFeb30", decoderFor<PingPayload>(),
            message("ping", R"({"ts":"2024-02-30T10:00:00Z"})")},
        Row{"dateHour24", decoderFor<PingPayload>(),
            message("ping", R"({"ts":"2024-05-01T24:00:00Z"})")},
        Row{"dateNoSeconds", decoderFor<PingPayload>(),
            message("ping", R"({"ts":"2024-05-01T10:00Z"})")},
        Row{"dateEmptyFraction", decoderFor<PingPayload>(),
            message("ping", R"({"ts":"2024-05-01T10:00:00.Z"})")},
        Row{"dateBadOffset", decoderFor<PingPayload>(),
            message("ping", R"({"ts":"2024-05-01T10:00:00+0200"})")},
        Row{"dateTrailing", decoderFor<PingPayload>(),
            message("ping", R"({"ts":"2024-05-01T10:00:00Zx"})")},
        Row{"dateOutOfClockRange", decoderFor<PingPayload>(),
            message("ping", R"({"ts":"9999-12-31T23:59:59Z"})")},
        Row{"idNoDashes", decoderFor<PingPayload>(),
            message("ping", kTs, R"("7C9E6679742540DE944BE07FC1F90AE7")")},
        Row{"idBraces", decoderFor<PingPayload>(),
            message("ping", kTs, R"("{7C9E6679-7425-40DE-944B-E07FC1F90AE7}")")},
        Row{"idShort", decoderFor<PingPayload>(),
            message("ping", kTs, R"("7C9E6679-7425-40DE-944B-E07FC1F90AE")")},
        Row{"idNonHex", decoderFor<PingPayload>(),
            message("ping", kTs, R"("7C9E6679-7425-40DE-944B-E07FC1F90AEG")")},
        Row{"idDashMoved", decoderFor<PingPayload>(),
            message("ping", kTs, R"("7C9E667-97425-40DE-944B-E07FC1F90AE7")")},
        Row{"idNumber", decoderFor<PingPayload>(), message("ping", kTs, "12")},
        Row{"caseNameAsCode", decoderFor<AppErrorPayload>(),
            message("app.error", R"({"bundleId":"b","code":"launchFailed"})")},
        Row{"upperCaseMethod", decoderFor<PairRequestPayload>(),
            message(
                "pair.request",
                R"({"method":"PIN","secret":"1","deviceName":"n","deviceId":"7C9E6679-7425-40DE-944B-E07FC1F90AE7"})")},
        Row{"deviceIdNotUuid", decoderFor<PairRequestPayload>(),
            message("pair.request",
                    R"({"method":"pin","secret":"1","deviceName":"n","deviceId":"phone"})")},
        Row{"unknownReason", decoderFor<PairFailPayload>(),
            message("pair.fail", R"({"reason":"nope"})")},
        Row{"bundleIdNumber", decoderFor<AppActionPayload>(),
            message("app.launch", R"({"bundleId":5})")},
        Row{"bundleIdNull", decoderFor<AppActionPayload>(),
            message("app.launch", R"({"bundleId":null})")},
        Row{"payloadNotObject", decoderFor<AppActionPayload>(),
            message("app.launch", R"("com.apple.Safari")")},
        Row{"payloadAsJsonString", decoderFor<AppActionPayload>(),
            message("app.launch", R"("{\"bundleId\":\"x\"}")")},
        Row{"rttAsString", decoderFor<PongPayload>(),
            message("pong", R"({"ts":"2024-05-01T10:00:00Z","rtt":"0.25"})")},
        Row{"rttAsBool", decoderFor<PongPayload>(),
            message("pong", R"({"ts":"2024-05-01T10:00:00Z","rtt":true})")},
        Row{"listWithNumber", decoderFor<AppIconRequestPayload>(),
            message("app.icon.request", R"({"bundleIds":["a",1]})")},
        Row{"listMissing", decoderFor<AppIconRequestPayload>(), message("app.icon.request", "{}")},
        Row{"listAsString", decoderFor<AppIconRequestPayload>(),
            message("app.icon.request", R"({"bundleIds":"a"})")},
        Row{"labelNumber", decoderFor<ShortcutRunPayload>(),
            message("shortcut.run", R"({"shortcutIdentifier":"X","label":2})")},
        Row{"revisionsWithNumber", decoderFor<DeckSnapshotPayload>(),
            message("deck.snapshot",
                    R"({"deckId":"d","name":"n","tiles":[],"iconRevisions":{"a":1}})")},
        Row{"tileWithoutSlot", decoderFor<DecksSnapshotPayload>(),
            message(
                "decks.snapshot",
                R"({"decks":[{"deckId":"d","name":"n","tiles":[{"label":"l","bundleId":"b"}]}]})")},
        Row{"decksMissing", decoderFor<DecksSnapshotPayload>(), message("decks.snapshot", "{}")},
        Row{"notAnObject", decoderFor<EmptyPayload>(), "[]"},
        Row{"trailingGarbage", decoderFor<EmptyPayload>(), message("deck.sync", "{}") + "x"},
        Row{"twoMessages", decoderFor<EmptyPayload>(),
            message("deck.sync", "{}") + message("deck.sync", "{}")},
        Row{"empty", decoderFor<EmptyPayload>(), ""}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

const std::string kId = "\"7C9E6679-7425-40DE-944B-E07FC1F90AE7\"";

TEST(WireDecodeAccepts, EmptyPayloadValueIsNotExamined) {
    EXPECT_NO_THROW(WireCodec::decode<EmptyPayload>(message("deck.sync", "{}")));
    EXPECT_NO_THROW(WireCodec::decode<EmptyPayload>(message("deck.sync", R"({"x":1})")));
    EXPECT_NO_THROW(WireCodec::decode<EmptyPayload>(message("deck.sync", "null")));
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
    const auto integerRtt =
        WireCodec::decode<PongPayload>(message("pong", R"({"ts":"2024-05-01T10:00:00Z","rtt":2})"));
    EXPECT_EQ(integerRtt.payload.rtt, 2.0);
    const auto request = WireCodec::decode<AppIconRequestPayload>(
        message("app.icon.request", R"({"bundleIds":[]})"));
    EXPECT_TRUE(request.payload.bundleIds.empty());
    const auto run = WireCodec::decode<ShortcutRunPayload>(
        message("shortcut.run", R"({"shortcutIdentifier":"X"})"));
    EXPECT_EQ(run.payload, (ShortcutRunPayload{"X", std::nullopt}));
    const auto pair = WireCodec::decode<PairRequestPayload>(message(
        "pair.request",
        R"({"method":"qr","secret":"s","deviceName":"n","deviceId":"7c9e6679-7425-40de-944b-e07fc1f90ae7"})"));
    EXPECT_EQ(pair.payload.deviceId.toString(), "7C9E6679-7425-40DE-944B-E07FC1F90AE7");
}

TEST(WireDecodeAccepts, DatesWithFractionsAndOffsets) {
    using namespace std::chrono;
    const WireDate tenOClock = sys_days{2024y / May / 1} + 10h;
    const auto at = [](std::string_view ts) {
        return WireCodec::decode<PingPayload>(
                   message("ping", "{\"ts\":\"" + std::string(ts) + "\"}"))
            .payload.ts;
    };
    EXPECT_EQ(at("2024-05-01T10:00:00.250Z"), tenOClock + 250ms);
    EXPECT_EQ(at("2024-05-01T12:00:00+02:00"), tenOClock);
    EXPECT_EQ(at("2024-05-01T09:30:00-00:30"), tenOClock);
    EXPECT_EQ(at("2024-02-29T00:00:00Z"), WireDate{sys_days{2024y / February / 29}});
    EXPECT_EQ(formatWireDate(tenOClock + 999ms), "2024-05-01T10:00:00Z");
    EXPECT_EQ(formatWireDate(sys_days{1969y / December / 31} + 23h + 59min + 59s + 500ms),
              "1969-12-31T23:59:59Z");
}

}  // namespace
}  // namespace velopad
