// Checking a submitted PIN, and making and comparing the secrets pairing relies on.

#include "protocol/pairing_engine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <regex>
#include <set>
#include <string>

#include "protocol/device_token_factory.h"
#include "protocol/pairing_code_generator.h"
#include "protocol/pairing_secret.h"
#include "protocol/pin_generator.h"

namespace velopad {
namespace {

using Result = PairingEngine::PINCheckResult;
using Kind = Result::Kind;

TEST(PairingEngineTest, FiveWrongPINsLockAndEvenTheRightPINIsThenRefused) {
    PairingEngine engine;
    for (int remaining : {4, 3, 2, 1}) {
        EXPECT_EQ(engine.checkPIN("000000", "123456"), Result::invalidPIN(remaining));
        EXPECT_EQ(engine.remainingAttempts(), remaining);
        EXPECT_FALSE(engine.isLockedOut());
    }
    EXPECT_EQ(engine.checkPIN("000000", "123456"), Result::lockout());
    EXPECT_TRUE(engine.isLockedOut());
    EXPECT_EQ(engine.remainingAttempts(), 0);

    EXPECT_EQ(engine.checkPIN("123456", "123456"), Result::lockout());
    EXPECT_EQ(engine.failedAttempts, 5);

    engine.reset();
    EXPECT_EQ(engine, PairingEngine{});
    EXPECT_EQ(engine.checkPIN("123456", "123456").kind, Kind::accepted);
}

TEST(PairingEngineTest, ACorrectPINBeforeLockoutClearsTheCounter) {
    PairingEngine engine{.failedAttempts = 3};
    EXPECT_EQ(engine.checkPIN("123456", "123456"), Result::accepted());
    EXPECT_EQ(engine.failedAttempts, 0);
    EXPECT_EQ(engine.remainingAttempts(), 5);
}

TEST(PairingEngineTest, MalformedSubmissionsCountAsFailures) {
    const std::string cases[] = {
        "12345",    // five digits
        "1234567",  // seven digits
        "12345a",   // a letter
        "123456 ",  // trailing space: seven characters
        " 123456",  // leading space
        "",         // nothing
        "\xd9\xa1"
        "23456",  // ARABIC-INDIC DIGIT ONE is not an ASCII digit
    };
    for (const std::string& submitted : cases) {
        PairingEngine engine;
        EXPECT_EQ(engine.checkPIN(submitted, "123456"), Result::invalidPIN(4)) << submitted;
        EXPECT_EQ(engine.failedAttempts, 1) << submitted;
    }
}

TEST(PairingEngineTest, AnExpectedPINThatIsNotSixDigitsNeverMatches) {
    PairingEngine engine;
    EXPECT_EQ(engine.checkPIN("12345", "12345"), Result::invalidPIN(4));
    PairingEngine lockedOut{.failedAttempts = 7};  // leaves its counter alone
    EXPECT_EQ(lockedOut.checkPIN("000000", "123456"), Result::lockout());
    EXPECT_EQ(lockedOut.failedAttempts, 7);
    EXPECT_EQ(lockedOut.remainingAttempts(), 0);
}

RandomSource failingSource() {
    return [](std::span<std::uint8_t>) { return false; };
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

TEST(PINGeneratorTest, FormatsSixDigitsZeroPadded) {
    EXPECT_EQ(PINGenerator::formatPIN(0), "000000");
    EXPECT_EQ(PINGenerator::formatPIN(42), "000042");
    EXPECT_EQ(PINGenerator::formatPIN(999999), "999999");
}

// Draws `count` secrets: each must match `pattern`, and at least `distinct` must differ.
void expectRandomSecrets(const std::function<std::string()>& draw, const char* pattern,
                         std::size_t distinct, int count = 100) {
    std::set<std::string> seen;
    for (int i = 0; i < count; ++i) {
        const std::string secret = draw();
        EXPECT_TRUE(std::regex_match(secret, std::regex(pattern))) << secret;
        seen.insert(secret);
    }
    EXPECT_GE(seen.size(), distinct);
}

TEST(SecretGeneratorsTest, PINsCodesAndTokensHaveTheirFormAndDiffer) {
    expectRandomSecrets([] { return PINGenerator::generatePIN(); }, "^[0-9]{6}$", 190, 200);
    expectRandomSecrets([] { return PairingCodeGenerator::generateCode(); }, "^[A-Za-z0-9_-]{43}$",
                        100);
    expectRandomSecrets([] { return DeviceTokenFactory::makeToken().value; },
                        "^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$",
                        100);
}

TEST(PINGeneratorTest, RedrawsTheBiasedTopRange) {
    // 4294000000 and above would favour the low PINs; they are drawn again.
    EXPECT_EQ(PINGenerator::generatePIN(scriptedDraws({4294967295u, 4294000000u, 1234567u})),
              "234567");
    EXPECT_EQ(PINGenerator::generatePIN(scriptedDraws({4293999999u})), "999999");
}

TEST(PairingCodeGeneratorTest, CodesAreUnpaddedBase64URLOf32Bytes) {
    const RandomSource allOnes = [](std::span<std::uint8_t> bytes) {
        for (auto& byte : bytes) byte = 0xFF;
        return true;
    };
    EXPECT_EQ(PairingCodeGenerator::generateCode(allOnes), std::string(42, '_') + "8");
}

TEST(SecureRandomTest, AFailingSourceIsAnErrorNeverZeros) {
    EXPECT_THROW(PINGenerator::generatePIN(failingSource()), RandomSourceError);
    EXPECT_THROW(PairingCodeGenerator::generateCode(failingSource()), RandomSourceError);
    EXPECT_THROW(DeviceTokenFactory::makeToken(failingSource()), RandomSourceError);
    EXPECT_THROW(PINGenerator::generatePIN(RandomSource{}), RandomSourceError);
}

TEST(PairingSecretTest, ComparesWholeTextsByteForByte) {
    const std::string code = "Qx3_-abcdefghijklmnopqrstuvwxyzABCDEFGHIJKL";
    const struct {
        std::string a, b;
        bool equal;
    } cases[] = {
        {code, code, true},
        {code, code.substr(0, 42) + "M", false},
        {code, code.substr(0, 42), false},
        {"abc", "ABC", false},   // no case folding
        {"abc ", "abc", false},  // no trimming
        {"", "", true},
        // "e" and "e" + U+0301 are one character each but differ in their bytes.
        {"e", "e\xcc\x81", false},
        {"ae", "ae\xcc\x81", false},
        {"e\xcc\x81", "e\xcc\x81", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PairingSecret::constantTimeEquals(c.a, c.b), c.equal) << c.a << " " << c.b;
}

}  // namespace
}  // namespace velopad
