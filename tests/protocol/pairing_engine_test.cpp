// Checking a submitted PIN, making and comparing the secrets pairing relies on, and finding the
// device token in a handshake.

#include "protocol/pairing_engine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <regex>
#include <set>
#include <string>

#include "protocol/device_token_factory.h"
#include "protocol/pairing_code_generator.h"
#include "protocol/pairing_secret.h"
#include "protocol/pin_generator.h"
#include "protocol/websocket_auth.h"

namespace velopad {
namespace {

using Result = PairingEngine::PINCheckResult;

TEST(PairingEngineTest, ARightPINClearsTheCounterAndFiveWrongOnesLockEvenTheRightPINOut) {
    PairingEngine engine{.failedAttempts = 3};
    EXPECT_EQ(engine.checkPIN("123456", "123456"), Result::accepted());
    EXPECT_EQ(engine.remainingAttempts(), 5);
    for (int remaining : {4, 3, 2, 1}) {
        EXPECT_EQ(engine.checkPIN("000000", "123456"), Result::invalidPIN(remaining));
        EXPECT_EQ(engine.remainingAttempts(), remaining);
        EXPECT_FALSE(engine.isLockedOut());
    }
    EXPECT_EQ(engine.checkPIN("000000", "123456"), Result::lockout());
    EXPECT_TRUE(engine.isLockedOut());
    EXPECT_EQ(engine.checkPIN("123456", "123456"), Result::lockout());
    EXPECT_EQ(engine.failedAttempts, 5);

    engine.reset();
    EXPECT_EQ(engine.checkPIN("123456", "123456"), Result::accepted());
}

TEST(PairingEngineTest, MalformedSubmissionsAndExpectationsNeverMatch) {
    const std::pair<std::string, std::string> cases[] = {
        {"1234567", "123456"},
        {" 12345", "123456"},
        {"\xd9\xa1"
         "23456",
         "123456"},  // ARABIC-INDIC DIGIT ONE is not an ASCII digit
        {"12345", "12345"},
    };
    for (const auto& [submitted, expected] : cases) {
        PairingEngine engine;
        EXPECT_EQ(engine.checkPIN(submitted, expected), Result::invalidPIN(4)) << submitted;
        EXPECT_EQ(engine.failedAttempts, 1) << submitted;
    }
}

// Hands out the given 32-bit draws (little-endian) one after another.
RandomSource scriptedDraws(std::deque<std::uint32_t> draws) {
    return [draws](std::span<std::uint8_t> bytes) mutable {
        if (bytes.size() != 4 || draws.empty()) return false;
        const std::uint32_t draw = draws.front();
        draws.pop_front();
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(draw >> (8 * i));
        return true;
    };
}

// Tokens are version 4 UUIDs, PINs zero-padded and unbiased, codes unpadded base64url of 32
// bytes; each is drawn afresh, and a failing source is an error, never zeros.
TEST(SecretGeneratorsTest, EachSecretHasItsFormAndComesOnlyFromAWorkingSource) {
    const std::string token = DeviceTokenFactory::makeToken().value;
    EXPECT_TRUE(std::regex_match(
        token, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));
    EXPECT_NE(token, DeviceTokenFactory::makeToken().value);
    EXPECT_NE(PairingCodeGenerator::generateCode(), PairingCodeGenerator::generateCode());
    const std::set<std::string> pins{PINGenerator::generatePIN(), PINGenerator::generatePIN(),
                                     PINGenerator::generatePIN()};
    EXPECT_GT(pins.size(), 1u);

    EXPECT_EQ(PINGenerator::formatPIN(42), "000042");
    // 4294000000 and above would favour the low PINs; they are drawn again.
    EXPECT_EQ(PINGenerator::generatePIN(scriptedDraws({4294967295u, 4294000000u, 1234567u})),
              "234567");
    EXPECT_EQ(PINGenerator::generatePIN(scriptedDraws({4293999999u})), "999999");
    const RandomSource allOnes = [](std::span<std::uint8_t> bytes) {
        for (auto& byte : bytes) byte = 0xFF;
        return true;
    };
    EXPECT_EQ(PairingCodeGenerator::generateCode(allOnes), std::string(42, '_') + "8");

    const RandomSource failing = [](std::span<std::uint8_t>) { return false; };
    EXPECT_THROW(PINGenerator::generatePIN(failing), RandomSourceError);
    EXPECT_THROW(PairingCodeGenerator::generateCode(failing), RandomSourceError);
    EXPECT_THROW(DeviceTokenFactory::makeToken(failing), RandomSourceError);
}

TEST(PairingSecretTest, ComparesWholeTextsByteForByte) {
    const std::string code = "Qx3_-abcdefghijklmnopqrstuvwxyzABCDEFGHIJKL";
    const struct {
        std::string a, b;
        bool equal;
    } cases[] = {
        {code, code, true},
        {code, code.substr(0, 42) + "M", false},
        {"abc", "ABC", false},  // no case folding
        // "e" and "e" + U+0301 are one character each but differ in their bytes.
        {"e", "e\xcc\x81", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PairingSecret::constantTimeEquals(c.a, c.b), c.equal) << c.a << " " << c.b;
}

TEST(WebSocketAuthTest, TheFirstTokenHeaderInAnyLetterCaseGivesTheTokenExactly) {
    using Headers = std::vector<WebSocketAuth::HandshakeHeader>;
    const std::pair<Headers, std::optional<std::string>> cases[] = {
        {{{"Host", "127.0.0.1:9847"}, {"X-Harborlink-Token", "5A1E0C2B-TOKEN"}}, "5A1E0C2B-TOKEN"},
        {{{"x-HarborLink-TOKEN", "t"}}, "t"},
        {{{"x-harborlink-token", " first "}, {"X-Harborlink-Token", "second"}}, " first "},
        {{}, std::nullopt},
        {{{"X-Harborlink-Token ", "padded name"}}, std::nullopt},
        {{{"X-Harborlink-Tokens", "longer name"}}, std::nullopt},
    };
    for (const auto& [headers, token] : cases) {
        SCOPED_TRACE(headers.empty() ? "" : headers.back().first);
        EXPECT_EQ(WebSocketAuth::tokenFromHeaders(headers), token);
    }
}

}  // namespace
}  // namespace velopad
