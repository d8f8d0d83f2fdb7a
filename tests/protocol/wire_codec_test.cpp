#include "protocol/wire_codec.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "protocol/deck_tile_factories.h"
#include "protocol/message_factory.h"
#include "protocol/message_type.h"

namespace velopad {
namespace {

using namespace std::chrono;

const Uuid kZero{};
const Uuid kId = *Uuid::parse("7C9E6679-7425-40DE-944B-E07FC1F90AE7");
const WireDate kMay1 = sys_days{2024y / May / 1} + 10h;

TEST(WireCodecBytes, PongWorkedExampleIsByteForByte) {
    const auto pong = MessageFactory::pong(
        kMay1, 0.25, std::vector<std::string>{"com.apple.finder", "com.apple.Safari"}, kZero);
    EXPECT_EQ(WireCodec::encode(pong),
              R"({"id":"00000000-0000-0000-0000-000000000000","payload":{"rtt":0.25,)"
              R"("runningBundleIds":["com.apple.finder","com.apple.Safari"],)"
              R"("ts":"2024-05-01T10:00:00Z"},"type":"pong"})");
}

TEST(WireCodecBytes, WholeSecondsAreWrittenWithoutAFraction) {
    // The phone writes 1.0 as 1; so do we, and the value reads back the same.
    for (const auto& [rtt, written] : std::vector<std::pair<double, std::string>>{
             {1.0, "1"}, {-3.0, "-3"}, {0.0, "0"}, {1.5, "1.5"}, {1e300, "1e+300"}}) {
        const auto pong = MessageFactory::pong(kMay1, rtt, std::nullopt, kZero);
        const auto text = WireCodec::encode(pong);
        EXPECT_NE(text.find("\"rtt\":" + written + ","), std::string::npos) << text;
        EXPECT_EQ(WireCodec::decode<PongPayload>(text).payload.rtt, rtt);
    }
}

TEST(WireCodecBytes, KeysAreSortedAtEveryLevelWithoutWhitespace) {
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
}

TEST(WireCodecBytes, SlashesInStringsAreEscaped) {
    const auto icon = MessageFactory::appIcon("com.apple.Safari", "ab", "iVBOR/w+/=", kZero);
    EXPECT_EQ(
        WireCodec::encode(icon),
        R"({"id":"00000000-0000-0000-0000-000000000000","payload":{"bundleId":)"
        R"("com.apple.Safari","pngBase64":"iVBOR\/w+\/=","revision":"ab"},"type":"app.icon"})");
    EXPECT_EQ(WireCodec::decode<AppIconPayload>(WireCodec::encode(icon)), icon);
}

TEST(WireCodecBytes, LowerCaseIdComesBackUpperCase) {
    const auto ping = WireCodec::decode<PingPayload>(
        R"({"type":"ping","id":"7c9e6679-7425-40de-944b-e07fc1f90ae7","payload":{"ts":"2024-05-01T10:00:00Z"}})");
    EXPECT_EQ(ping.id, kId);
    EXPECT_EQ(ping.payload.ts, kMay1);
    const auto reply = WireCodec::encode(MessageFactory::pong(ping.payload.ts, 0.5, {}, ping.id));
    EXPECT_NE(reply.find(R"("id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7")"), std::string::npos);
}

TEST(WireCodecBytes, OptionalFieldsAreOmittedAndEmptySnapshotCollectionsWritten) {
    EXPECT_EQ(
        WireCodec::encode(MessageFactory::shortcutRun("X", std::nullopt, kZero)),
        R"({"id":"00000000-0000-0000-0000-000000000000","payload":{"shortcutIdentifier":"X"},"type":"shortcut.run"})");
    EXPECT_EQ(WireCodec::encode(MessageFactory::deckSync(kZero)),
              R"({"id":"00000000-0000-0000-0000-000000000000","payload":{},"type":"deck.sync"})");
    const auto snapshot = WireCodec::decode<DeckSnapshotPayload>(
        R"({"type":"deck.snapshot","id":"00000000-0000-0000-0000-000000000000","payload":{"deckId":"g","name":"G","tiles":[]}})");
    EXPECT_TRUE(snapshot.payload.runningBundleIds.empty());
    EXPECT_TRUE(snapshot.payload.iconRevisions.empty());
    EXPECT_EQ(
        WireCodec::encode(snapshot),
        R"({"id":"00000000-0000-0000-0000-000000000000","payload":{"deckId":"g","iconRevisions":{},)"
        R"("name":"G","runningBundleIds":[],"tiles":[]},"type":"deck.snapshot"})");
}

template <class Payload>
void expectRoundTrip(const WireMessage<Payload>& message) {
    SCOPED_TRACE(message.type);
    const std::string text = WireCodec::encodeString(message);
    EXPECT_EQ(WireCodec::decode<Payload>(text), message);
    EXPECT_EQ(WireCodec::encode(WireCodec::decode<Payload>(text)), text);
}

TEST(WireCodecRoundTrip, EveryMessageTypeSurvives) {
    const auto id = Uuid::random();
    const auto device = Uuid::random();
    const DeckTile action = actionTile(BuiltinAction::volumeUp, 3);
    const DeckSnapshotPayload deck{"gaming",
                                   "Gaming",
                                   {action},
                                   {"com.valvesoftware.steam"},
                                   {{"com.valvesoftware.steam", std::string(64, 'a')}}};
    expectRoundTrip(
        MessageFactory::pairRequest(PairingMethod::pin, "123456", "Ann’s iPhone", device, id));
    expectRoundTrip(MessageFactory::pairRequest(PairingMethod::qr, "code", "phone", device, id));
    expectRoundTrip(MessageFactory::pairOK("TOKEN", id));
    expectRoundTrip(MessageFactory::pairFail(PairingFailureReason::lockout, "Locked", id));
    expectRoundTrip(
        MessageFactory::pairFail(PairingFailureReason::alreadyPaired, std::nullopt, id));
    expectRoundTrip(MessageFactory::deckSync(id));
    expectRoundTrip(MessageFactory::deckSnapshot("gaming", "Gaming", {action}, {}, {}, id));
    expectRoundTrip(MessageFactory::decksSnapshot({deck, deck}, id));
    expectRoundTrip(MessageFactory::appLaunch("com.apple.Safari", id));
    expectRoundTrip(MessageFactory::appFocus("com.apple.Safari", id));
    expectRoundTrip(MessageFactory::appOK("com.apple.Safari", id));
    expectRoundTrip(
        MessageFactory::appError("x", AppErrorCode::launchFailed, "Could not open", id));
    expectRoundTrip(MessageFactory::appError("x", AppErrorCode::unauthorized, std::nullopt, id));
    expectRoundTrip(MessageFactory::ping(kMay1, id));
    expectRoundTrip(MessageFactory::pong(kMay1, 1.5, std::vector<std::string>{}, id));
    expectRoundTrip(MessageFactory::pong(kMay1, std::nullopt, std::nullopt, id));
    expectRoundTrip(MessageFactory::appIconRequest({}, id));
    expectRoundTrip(MessageFactory::appIconRequest({"a", "b"}, id));
    expectRoundTrip(MessageFactory::appIcon("a", "rev", "AAAA", id));
    expectRoundTrip(MessageFactory::actionRun("system.volume.mute", id));
    expectRoundTrip(MessageFactory::actionOK("system.volume.mute", id));
    expectRoundTrip(MessageFactory::actionError("nope", ActionErrorCode::unknown, "Unknown", id));
    expectRoundTrip(MessageFactory::shortcutRun("S", "Label", id));
    expectRoundTrip(MessageFactory::shortcutOK("S", id));
    expectRoundTrip(MessageFactory::shortcutError("S", ShortcutErrorCode::timedOut, "late", id));
}

TEST(WireCodecRoundTrip, ErrorCodesTravelAsRawValues) {
    const std::pair<std::string, const char*> cases[] = {
        {WireCodec::encode(MessageFactory::appError("b", AppErrorCode::notFound, {}, kZero)),
         R"("code":"not_found")"},
        {WireCodec::encode(MessageFactory::appError("b", AppErrorCode::focusFailed, {}, kZero)),
         R"("code":"focus_failed")"},
        {WireCodec::encode(MessageFactory::actionError("a", ActionErrorCode::failed, {}, kZero)),
         R"("code":"failed")"},
        {WireCodec::encode(
             MessageFactory::shortcutError("s", ShortcutErrorCode::runFailed, {}, kZero)),
         R"("code":"run_failed")"},
        {WireCodec::encode(
             MessageFactory::shortcutError("s", ShortcutErrorCode::cancelled, {}, kZero)),
         R"("code":"cancelled")"},
        {WireCodec::encode(MessageFactory::pairFail(PairingFailureReason::invalidPIN, {}, kZero)),
         R"("reason":"invalid_pin")"},
        {WireCodec::encode(MessageFactory::pairFail(PairingFailureReason::invalidCode, {}, kZero)),
         R"("reason":"invalid_code")"},
        {WireCodec::encode(
             MessageFactory::pairFail(PairingFailureReason::alreadyPaired, {}, kZero)),
         R"("reason":"already_paired")"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST(MessageTypeText, MatchesRawStringsExactly) {
    EXPECT_EQ(messageTypeFromRawValue("ping"), MessageType::ping);
    EXPECT_EQ(messageTypeFromRawValue("app.icon.request"), MessageType::appIconRequest);
    EXPECT_EQ(messageTypeFromRawValue("decks.snapshot"), MessageType::decksSnapshot);
    for (const char* text : {"Ping", " ping", "ping ", ""})
        EXPECT_EQ(messageTypeFromRawValue(text), std::nullopt) << text;
    for (MessageType type : allMessageTypes)
        EXPECT_EQ(messageTypeFromRawValue(rawValue(type)), type);
}

TEST(WireCodecEnvelope, ReadsTypeAndIdOnly) {
    const auto envelope = WireCodec::decodeEnvelope(
        R"({"type":"shortcut.run","id":"7c9e6679-7425-40de-944b-e07fc1f90ae7","extra":[1,2]})");
    EXPECT_EQ(envelope, (MessageEnvelope{"shortcut.run", kId}));
    EXPECT_THROW(
        WireCodec::decodeEnvelope(R"({"type":1,"id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7"})"),
        DecodeError);
    EXPECT_THROW(WireCodec::decodeEnvelope(R"({"type":"ping"})"), DecodeError);
    EXPECT_THROW(WireCodec::decodeEnvelope(R"({"type":"ping","id":"nope"})"), DecodeError);
    EXPECT_THROW(WireCodec::decodeEnvelope("[]"), DecodeError);
}

void expectCodecError(const std::function<void()>& encode, WireCodecError expected) {
    try {
        encode();
        ADD_FAILURE() << "encoded";
    } catch (const WireCodecException& error) {
        EXPECT_EQ(error.error(), expected);
    }
}

TEST(WireCodecErrors, NonFiniteNumbersAndInvalidUtf8CannotBeEncoded) {
    const auto nan =
        MessageFactory::pong(kMay1, std::numeric_limits<double>::quiet_NaN(), {}, kZero);
    expectCodecError([&] { (void)WireCodec::encode(nan); }, WireCodecError::nonFiniteNumber);
    const auto bad = MessageFactory::appOK(std::string("bad\xC3(", 5), kZero);
    expectCodecError([&] { (void)WireCodec::encode(bad); }, WireCodecError::invalidUTF8);
    expectCodecError([&] { (void)WireCodec::encodeString(bad); }, WireCodecError::invalidUTF8);
}

}  // namespace
}  // namespace velopad
