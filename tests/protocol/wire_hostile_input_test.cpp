// Whatever arrives from the network, decoding either succeeds or throws DecodeError: no crash,
// no stack exhaustion, no unbounded allocation.

#include <gtest/gtest.h>

#include "protocol/payloads.h"
#include "protocol/wire_codec.h"

namespace velopad {
namespace {

const std::string kHead =
    R"({"type":"app.launch","id":"7C9E6679-7425-40DE-944B-E07FC1F90AE7","payload":)";

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(WireHostileInput, DeepNestingIsRefused) {
    for (std::size_t depth : {65u, 1000u, 1'000'000u}) {
        EXPECT_THROW(WireCodec::decodeEnvelope(nested(depth)), DecodeError) << depth;
        EXPECT_THROW(WireCodec::decode<AppActionPayload>(kHead + R"({"bundleId":"b","x":)" +
                                                         nested(depth) + "}}"),
                     DecodeError)
            << depth;
    }
    // Unclosed nesting is refused too, before the end of the text is reached.
    EXPECT_THROW(WireCodec::decodeEnvelope(std::string(5'000'000, '{')), DecodeError);
}

TEST(WireHostileInput, ModerateNestingInUnknownKeysIsIgnored) {
    // envelope (1) + payload (2) + "x" value: 62 more levels = 64 in all.
    const auto message =
        WireCodec::decode<AppActionPayload>(kHead + R"({"bundleId":"b","x":)" + nested(62) + "}}");
    EXPECT_EQ(message.payload.bundleId, "b");
}

TEST(WireHostileInput, HugeStringDecodesAndEncodes) {
    const std::string bundleId(10 * 1024 * 1024, 'a');
    const auto message =
        WireCodec::decode<AppActionPayload>(kHead + R"({"bundleId":")" + bundleId + "\"}}");
    EXPECT_EQ(message.payload.bundleId.size(), bundleId.size());
    const auto empty =
        WireCodec::encodeString(WireMessage<AppActionPayload>{message.type, message.id, {}});
    EXPECT_EQ(WireCodec::encodeString(message).size(), bundleId.size() + empty.size());
}

TEST(WireHostileInput, InvalidUtf8IsRefused) {
    for (std::string bad :
         {"\xC3(", "\xFF", "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80", "\xE2\x82"}) {
        EXPECT_THROW(WireCodec::decode<AppActionPayload>(kHead + R"({"bundleId":")" + bad + "\"}}"),
                     DecodeError);
        EXPECT_THROW(WireCodec::decodeEnvelope(kHead + "{}," + bad + "}"), DecodeError);
    }
    // An escaped lone surrogate is not a character either.
    EXPECT_THROW(WireCodec::decode<AppActionPayload>(kHead + R"({"bundleId":"\ud800"}})"),
                 DecodeError);
}

TEST(WireHostileInput, NulBytes) {
    using namespace std::string_literals;
    EXPECT_THROW(WireCodec::decode<AppActionPayload>(kHead + "{\"bundleId\":\"a\0b\"}}"s),
                 DecodeError);
    EXPECT_THROW(WireCodec::decode<AppActionPayload>(kHead + "{\"bundleId\":\"ab\"}}\0"s),
                 DecodeError);
    EXPECT_THROW(WireCodec::decodeEnvelope("\0"s), DecodeError);
    // An escaped NUL is a legal character and survives a round trip.
    const auto message = WireCodec::decode<AppActionPayload>(kHead + R"({"bundleId":"a\u0000b"}})");
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
