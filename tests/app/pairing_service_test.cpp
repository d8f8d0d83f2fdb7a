#include "app/pairing/pairing_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/thread_pool.hpp>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include "app/pairing/file_paired_device_store.h"
#include "app/pairing/in_memory_paired_device_store.h"
#include "tests/support/io_thread.h"

namespace velopad {
namespace {

const Uuid phoneA = *Uuid::parse("11111111-1111-4111-8111-111111111111");
const Uuid phoneB = *Uuid::parse("22222222-2222-4222-8222-222222222222");
const Uuid requestId = *Uuid::parse("ABCDEF01-2345-4678-89AB-CDEF01234567");

// A store whose writes can be made to fail, and which can wait for a preferred store.
class FlakyStore final : public PairedDeviceStoring {
  public:
    std::vector<PairedDevice> load() override { return inner.load(); }
    void save(const std::vector<PairedDevice>& devices) override {
        if (failSaves) throw std::runtime_error("disk full");
        inner.save(devices);
    }
    void clear() override {
        if (failClears)
            throw FilePairedDeviceStoreError(FilePairedDeviceStoreErrorCode::deleteFailed, 13);
        inner.clear();
    }
    bool waitsForPreferredStore() const override { return preferred.has_value(); }
    bool preferredStoreAnswers() override { return preferredAnswers; }
    std::optional<std::vector<PairedDevice>> moveToPreferredStore() override {
        return std::exchange(preferred, std::nullopt);
    }

    InMemoryPairedDeviceStore inner;
    std::optional<std::vector<PairedDevice>> preferred;
    bool preferredAnswers = false;
    bool failSaves = false;
    bool failClears = false;
};

class PairingServiceTest : public ::testing::Test {
  protected:
    PairingServiceTest() { makeService(); }

    void makeService() { service = std::make_unique<PairingService>(io.executor(), pool, store); }

    PairingState state() { return io.run(service->state()); }

    PairingResponse pair(Uuid phone, PairingMethod method, std::string secret) {
        return io.run(service->handlePairRequest(
            PairRequestPayload{method, std::move(secret), "Phone", phone}, requestId));
    }
    PairingResponse pairWithCode(Uuid phone) {
        return pair(phone, PairingMethod::qr, state().currentPairingCode);
    }
    std::string wrongPIN() { return state().currentPIN == "000000" ? "111111" : "000000"; }

    test::IoThread io;
    asio::thread_pool& pool = io.pool();
    std::shared_ptr<FlakyStore> store = std::make_shared<FlakyStore>();
    std::unique_ptr<PairingService> service;
};

std::string tokenOf(const PairingResponse& response) {
    return std::get<0>(response.message).payload.token;
}

// The pair.fail reply to the request, byte for byte.
std::string failReply(const std::string& message, const std::string& reason) {
    return "{\"id\":\"ABCDEF01-2345-4678-89AB-CDEF01234567\",\"payload\":{\"message\":\"" +
           message + "\",\"reason\":\"" + reason + "\"},\"type\":\"pair.fail\"}";
}

// Everything a refused or failed request must leave as it was.
auto fieldsOf(const PairingState& state) {
    return std::tuple(state.currentPIN, state.currentPairingCode, state.pairedDevices,
                      state.replacementPairingEnabled, state.failedAttempts);
}

TEST_F(PairingServiceTest, UnpairedComputerPairsWithTheCodeAndRotatesSecrets) {
    const PairingState before = state();
    const PairingResponse response = pairWithCode(phoneA);

    ASSERT_TRUE(response.isOK());
    const std::string token = tokenOf(response);
    EXPECT_EQ(response.encoded(),
              "{\"id\":\"ABCDEF01-2345-4678-89AB-CDEF01234567\",\"payload\":{"
              "\"token\":\"" +
                  token + "\"},\"type\":\"pair.ok\"}");

    const PairingState after = state();
    ASSERT_EQ(after.pairedDevices.size(), 1u);
    EXPECT_EQ(after.pairedDevices[0].id, phoneA);
    EXPECT_EQ(after.pairedDevices[0].name, "Phone");
    EXPECT_EQ(after.pairedDevices[0].token.value, token);
    EXPECT_EQ(store->load(), after.pairedDevices);
    EXPECT_NE(after.currentPIN, before.currentPIN);
    EXPECT_NE(after.currentPairingCode, before.currentPairingCode);
    EXPECT_EQ(io.run(service->deviceForToken(token)), after.pairedDevices[0]);
}

TEST_F(PairingServiceTest, RefusedRequestsChangeNothingAndAWrongCodeCountsNoFailure) {
    ASSERT_TRUE(pairWithCode(phoneA).isOK());
    (void)pair(phoneA, PairingMethod::pin, wrongPIN());  // a failure counted before
    const PairingState before = state();
    ASSERT_EQ(before.failedAttempts, 1);
    std::string otherCase = before.currentPairingCode;
    otherCase[0] = otherCase[0] == 'A' ? 'a' : 'A';  // letter case matters
    const std::string occupied = failReply(
        "Mac is already paired. Show the pairing code again or Unpair to add a new device.",
        "already_paired");
    const std::string wrongCode = failReply("Invalid pairing code", "invalid_code");
    const std::tuple<Uuid, PairingMethod, std::string, std::string> cases[] = {
        {phoneB, PairingMethod::qr, before.currentPairingCode, occupied},
        {phoneB, PairingMethod::pin, before.currentPIN, occupied},
        {phoneA, PairingMethod::qr, "not-the-code", wrongCode},
        {phoneA, PairingMethod::qr, otherCase, wrongCode},
    };
    for (const auto& [phone, method, secret, reply] : cases) {
        EXPECT_EQ(pair(phone, method, secret).encoded(), reply) << secret;
        EXPECT_EQ(fieldsOf(state()), fieldsOf(before)) << secret;
    }
}

TEST_F(PairingServiceTest, ThePairedPhonePairsAgainWithANewTokenAndUnknownTokensFindNoDevice) {
    const std::string oldToken = tokenOf(pairWithCode(phoneA));
    const PairingResponse again = pairWithCode(phoneA);

    ASSERT_TRUE(again.isOK());
    EXPECT_NE(tokenOf(again), oldToken);
    EXPECT_TRUE(io.run(service->deviceForToken(tokenOf(again))).has_value());
    for (const std::string& unknown : {oldToken, std::string(), std::string("ABC")}) {
        EXPECT_EQ(io.run(service->deviceForToken(unknown)), std::nullopt) << unknown;
    }
}

TEST_F(PairingServiceTest, ReplacementPairingLetsOneNewPhoneReplaceThePairedOne) {
    ASSERT_TRUE(pairWithCode(phoneA).isOK());
    const std::string codeBefore = state().currentPairingCode;
    io.run(service->enableReplacementPairing());
    EXPECT_NE(state().currentPairingCode, codeBefore);
    EXPECT_TRUE(state().replacementPairingEnabled);
    // Hiding the code again keeps the secrets; showing it once more renews them.
    const PairingState shown = state();
    io.run(service->disableReplacementPairing());
    EXPECT_FALSE(state().replacementPairingEnabled);
    EXPECT_EQ(state().currentPIN, shown.currentPIN);
    EXPECT_EQ(state().currentPairingCode, shown.currentPairingCode);
    io.run(service->enableReplacementPairing());

    ASSERT_TRUE(pairWithCode(phoneB).isOK());

    const PairingState after = state();
    ASSERT_EQ(after.pairedDevices.size(), 1u);
    EXPECT_EQ(after.pairedDevices[0].id, phoneB);
    EXPECT_FALSE(after.replacementPairingEnabled);
    EXPECT_FALSE(pairWithCode(phoneA).isOK());
}

// A paired computer open for a replacement; once locked, the lockout is answered before the
// occupied computer.
TEST_F(PairingServiceTest, FiveWrongOrMalformedPINsLockPINPairingButNotTheCode) {
    ASSERT_TRUE(pairWithCode(phoneA).isOK());
    io.run(service->enableReplacementPairing());
    const std::string invalid = failReply("Invalid PIN", "invalid_pin");
    const std::string lockout = failReply("Too many failed PIN attempts", "lockout");
    for (const char* pin : {"12345", "1234567", "12a456", "12345 "})
        EXPECT_EQ(pair(phoneB, PairingMethod::pin, pin).encoded(), invalid) << pin;
    EXPECT_EQ(pair(phoneB, PairingMethod::pin, wrongPIN()).encoded(), lockout);
    EXPECT_TRUE(state().isPINPairingLocked());
    io.run(service->disableReplacementPairing());
    EXPECT_EQ(pair(phoneB, PairingMethod::pin, state().currentPIN).encoded(), lockout);
    EXPECT_EQ(state().failedAttempts, 5);

    ASSERT_TRUE(pairWithCode(phoneA).isOK());
    EXPECT_EQ(state().failedAttempts, 0);
    EXPECT_TRUE(pair(phoneA, PairingMethod::pin, state().currentPIN).isOK());
}

TEST_F(PairingServiceTest, AFailedSaveKeepsThePairedPhoneAndTheSecrets) {
    const std::string token = tokenOf(pairWithCode(phoneA));
    io.run(service->enableReplacementPairing());
    const PairingState before = state();
    store->failSaves = true;

    EXPECT_THAT([&] { (void)pairWithCode(phoneB); },
                ::testing::Throws<PairingServiceError>(::testing::Property(
                    &PairingServiceError::code, PairingServiceErrorCode::persistenceFailed)));
    EXPECT_EQ(fieldsOf(state()), fieldsOf(before));
    EXPECT_TRUE(before.replacementPairingEnabled);
    EXPECT_TRUE(io.run(service->deviceForToken(token)).has_value());
}

TEST_F(PairingServiceTest, UnpairForgetsThePhoneAndRotatesSecretsOnceTheStoreIsCleared) {
    const std::string token = tokenOf(pairWithCode(phoneA));
    io.run(service->enableReplacementPairing());
    const PairingState before = state();
    store->failClears = true;
    EXPECT_THROW(io.run(service->unpair()), FilePairedDeviceStoreError);
    EXPECT_TRUE(state().pairedDevices.empty());
    EXPECT_EQ(state().currentPIN, before.currentPIN);
    EXPECT_EQ(store->load().size(), 1u);

    store->failClears = false;
    io.run(service->unpair());

    const PairingState after = state();
    EXPECT_TRUE(after.pairedDevices.empty());
    EXPECT_TRUE(store->load().empty());
    EXPECT_FALSE(after.replacementPairingEnabled);
    EXPECT_NE(after.currentPIN, before.currentPIN);
    EXPECT_NE(after.currentPairingCode, before.currentPairingCode);
    EXPECT_EQ(io.run(service->deviceForToken(token)), std::nullopt);
}

TEST_F(PairingServiceTest, ConcurrentRequestsAreHandledOneAfterAnother) {
    io.run(service->enableReplacementPairing());
    const std::string code = state().currentPairingCode;
    using namespace asio::experimental::awaitable_operators;

    auto both = service->handlePairRequest({PairingMethod::qr, code, "A", phoneA}, requestId) &&
                service->handlePairRequest({PairingMethod::qr, code, "B", phoneB}, requestId);
    const auto [first, second] = io.run(std::move(both));
    EXPECT_NE(first.isOK(), second.isOK()) << "the first pairing uses up the code";
    EXPECT_EQ(state().pairedDevices.size(), 1u);
}

TEST_F(PairingServiceTest, TakesUpThePhonesOnceThePreferredStoreAnswers) {
    const PairedDevice phone{phoneA, "Phone", DeviceToken{"KEYRING-TOKEN"},
                             WireDate(std::chrono::seconds(1700000000))};
    store->preferred = {phone};
    io.run(service->retryPreferredStore());
    EXPECT_EQ(io.run(service->deviceForToken("KEYRING-TOKEN")), std::nullopt);
    store->preferredAnswers = true;
    io.run(service->retryPreferredStore());
    EXPECT_EQ(io.run(service->deviceForToken("KEYRING-TOKEN")), phone);
}

}  // namespace
}  // namespace velopad
