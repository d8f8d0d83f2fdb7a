#include "protocol/pairing_engine.h"

#include <gtest/gtest.h>

#include <string>

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
}

TEST(PairingEngineTest, LockedOutEngineLeavesItsCounterAlone) {
    PairingEngine engine{.failedAttempts = 7};
    EXPECT_EQ(engine.checkPIN("000000", "123456"), Result::lockout());
    EXPECT_EQ(engine.failedAttempts, 7);
    EXPECT_EQ(engine.remainingAttempts(), 0);
}

}  // namespace
}  // namespace velopad
