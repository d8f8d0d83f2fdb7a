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

namespace velopad {
namespace {

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

TEST(PINGeneratorTest, GeneratesSixDigitPINs) {
    const std::regex sixDigits("^[0-9]{6}$");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string pin = PINGenerator::generatePIN();
        EXPECT_TRUE(std::regex_match(pin, sixDigits)) << pin;
        seen.insert(pin);
    }
    EXPECT_GT(seen.size(), 190u);
}

TEST(PINGeneratorTest, RedrawsTheBiasedTopRange) {
    // 4294000000 and above would favour the low PINs; they are drawn again.
    EXPECT_EQ(PINGenerator::generatePIN(scriptedDraws({4294967295u, 4294000000u, 1234567u})),
              "234567");
    EXPECT_EQ(PINGenerator::generatePIN(scriptedDraws({4293999999u})), "999999");
}

TEST(PairingCodeGeneratorTest, CodesAreUnpaddedBase64URLOf32Bytes) {
    const std::regex base64URL("^[A-Za-z0-9_-]{43}$");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string code = PairingCodeGenerator::generateCode();
        EXPECT_TRUE(std::regex_match(code, base64URL)) << code;
        seen.insert(code);
    }
    EXPECT_EQ(seen.size(), 100u);

    const RandomSource allOnes = [](std::span<std::uint8_t> bytes) {
        for (auto& byte : bytes) byte = 0xFF;
        return true;
    };
    EXPECT_EQ(PairingCodeGenerator::generateCode(allOnes), std::string(42, '_') + "8");
}

TEST(DeviceTokenFactoryTest, TokensAreUniqueUpperCaseVersion4UUIDs) {
    const std::regex uuidV4(
        "^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const DeviceToken token = DeviceTokenFactory::makeToken();
        EXPECT_TRUE(std::regex_match(token.value, uuidV4)) << token.value;
        seen.insert(token.value);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(SecureRandomTest, AFailingSourceIsAnErrorNeverZeros) {
    EXPECT_THROW(PINGenerator::generatePIN(failingSource()), RandomSourceError);
    EXPECT_THROW(PairingCodeGenerator::generateCode(failingSource()), RandomSourceError);
    EXPECT_THROW(DeviceTokenFactory::makeToken(failingSource()), RandomSourceError);
    EXPECT_THROW(PINGenerator::generatePIN(RandomSource{}), RandomSourceError);
}

TEST(PairingSecretTest, ComparesWholeTexts) {
    const std::string code = "Qx3_-abcdefghijklmnopqrstuvwxyzABCDEFGHIJKL";
    EXPECT_TRUE(PairingSecret::constantTimeEquals(code, code));
    EXPECT_FALSE(PairingSecret::constantTimeEquals(code, code.substr(0, 42) + "M"));
    EXPECT_FALSE(PairingSecret::constantTimeEquals(code, code.substr(0, 42)));
    EXPECT_FALSE(PairingSecret::constantTimeEquals("abc", "ABC"));   // no case folding
    EXPECT_FALSE(PairingSecret::constantTimeEquals("abc ", "abc"));  // no trimming
    EXPECT_TRUE(PairingSecret::constantTimeEquals("", ""));
}

TEST(PairingSecretTest, ACombiningAccentMakesADifferentSecret) {
    // "e" and "e" + U+0301 are one character each but differ in their bytes.
    EXPECT_FALSE(PairingSecret::constantTimeEquals("e", "e\xcc\x81"));
    EXPECT_FALSE(PairingSecret::constantTimeEquals("ae", "ae\xcc\x81"));
    EXPECT_TRUE(PairingSecret::constantTimeEquals("e\xcc\x81", "e\xcc\x81"));
}

}  // namespace
}  // namespace velopad
