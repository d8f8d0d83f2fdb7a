// The keyring store against a real gnome-keyring on a private session bus.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "app/pairing/paired_device_store.h"
#include "app/pairing/paired_device_stored_form.h"
#include "app/pairing/secret_service_paired_device_store.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const PairedDevice pixel{*Uuid::parse("3F2504E0-4F89-41D3-9A0C-0305E82C3301"), "Pixel",
                         DeviceToken{"TOKEN-ONE"}, dateFromSecondsSinceReferenceDate(738000000.25)};
const PairedDevice iphone{*Uuid::parse("7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10"), "iPhone",
                          DeviceToken{"TOKEN-TWO"}, dateFromSecondsSinceReferenceDate(12.5)};

const std::vector<std::string> itemAttributes = {
    "service", "com.quentaro.harborlink.agent.paired-devices", "account", "paired-devices"};

class KeyringStoreTest : public testing::SandboxTest {
  protected:
    std::pair<int, std::string> lookUp(const std::string& account = "paired-devices") {
        return keyring->secretTool({"lookup", "service",
                                    "com.quentaro.harborlink.agent.paired-devices", "account",
                                    account});
    }
    int itemCount() {
        std::vector<std::string> arguments{"search", "--all"};
        arguments.insert(arguments.end(), itemAttributes.begin(), itemAttributes.end());
        const std::string listing = keyring->secretTool(arguments).second;
        int count = 0;
        for (std::size_t at = listing.find("label = "); at != std::string::npos;
             at = listing.find("label = ", at + 1)) {
            ++count;
        }
        return count;
    }

    std::unique_ptr<testing::KeyringSession> keyring =
        std::make_unique<testing::KeyringSession>(sandbox);
    std::vector<std::string> reports;
    SecretServicePairedDeviceStore store{
        [this](std::string_view line) { reports.emplace_back(line); }};
};

TEST_F(KeyringStoreTest, AnAbsentItemReadsAsEmptyAndClearsWithoutError) {
    EXPECT_TRUE(store.load().empty());
    EXPECT_NO_THROW(store.clear());
    EXPECT_TRUE(reports.empty());
}

TEST_F(KeyringStoreTest, SaveCreatesTheItemThatSecretToolFindsAndUpdatesItInPlace) {
    store.save({pixel});
    EXPECT_EQ(lookUp(), std::make_pair(0, encodeStoredPairedDevices({pixel})));

    store.save({iphone});
    EXPECT_EQ(itemCount(), 1);
    EXPECT_EQ(store.load(), std::vector<PairedDevice>{iphone});

    // A second store object (a restarted agent) reads the same item.
    EXPECT_EQ(SecretServicePairedDeviceStore().load(), std::vector<PairedDevice>{iphone});

    store.clear();
    EXPECT_NE(lookUp().first, 0);
    EXPECT_TRUE(store.load().empty());
}

TEST_F(KeyringStoreTest, ForeignDataReadsAsEmptyButIsKeptAside) {
    std::vector<std::string> arguments{"store", "--label=foreign"};
    arguments.insert(arguments.end(), itemAttributes.begin(), itemAttributes.end());
    const std::string foreign =
        "[{\"id\":\"7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10\",\"name\":\"iPhone\",\"token\":{"
        "\"value\":\"SECRET-TOKEN\"},\"pairedAt\":\"2024-05-01T10:00:00Z\"}]";
    ASSERT_EQ(keyring->secretTool(arguments, foreign).first, 0);

    EXPECT_TRUE(store.load().empty());

    EXPECT_EQ(lookUp("paired-devices.corrupt"), std::make_pair(0, foreign));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], HasSubstr("paired-devices.corrupt"));
    EXPECT_THAT(reports[0], Not(HasSubstr("SECRET-TOKEN")));
    store.save({pixel});
    EXPECT_EQ(store.load(), std::vector<PairedDevice>{pixel});
}

TEST_F(KeyringStoreTest, TheAgentPrefersTheKeyringWhenOneAnswers) {
    const auto chosen = makeDefaultPairedDeviceStore();
    chosen->save({pixel});
    EXPECT_EQ(lookUp().first, 0);
    EXPECT_FALSE(
        std::filesystem::exists(sandbox.dataHome() / "HarborlinkAgent" / "paired-devices.json"));
}

TEST_F(KeyringStoreTest, AVanishedKeyringFailsSavesAndReadsAsEmpty) {
    store.save({pixel});
    keyring.reset();  // the bus and the keyring are gone; the address still points at the bus

    EXPECT_TRUE(store.load().empty());
    EXPECT_EQ(reports.size(), 1u);
    try {
        store.save({iphone});
        FAIL() << "expected saveFailed";
    } catch (const SecretServicePairedDeviceStoreError& error) {
        EXPECT_EQ(error.code(), SecretServicePairedDeviceStoreErrorCode::saveFailed);
    }
    EXPECT_THROW(store.clear(), SecretServicePairedDeviceStoreError);
    EXPECT_FALSE(SecretServiceItem::serviceAnswers());
}

// The agent's own store, with the keyring reachable or not as a login session would see it:
// DBUS_SESSION_BUS_ADDRESS unset until the keyring has started.
class FallbackStoreTest : public KeyringStoreTest {
  protected:
    void hideKeyring() { ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); }
    void showKeyring() { ::setenv("DBUS_SESSION_BUS_ADDRESS", keyring->busAddress().c_str(), 1); }
    std::filesystem::path file() const {
        return sandbox.dataHome() / "HarborlinkAgent" / "paired-devices.json";
    }
    std::shared_ptr<PairedDeviceStoring> makeStore() { return makeDefaultPairedDeviceStore(); }
};

TEST_F(FallbackStoreTest, APhonePairedIntoTheKeyringStaysPairedWhenAStartFindsNone) {
    makeStore()->save({pixel});  // paired while the keyring answered

    hideKeyring();  // the next start comes before the keyring
    auto store = makeStore();
    EXPECT_TRUE(store->load().empty());
    ASSERT_TRUE(store->waitsForPreferredStore());
    EXPECT_FALSE(store->moveToPreferredStore());
    store->save({iphone});  // a phone pairs meanwhile: kept in the private file
    EXPECT_EQ(testing::permissionBits(file()), 0600u);

    showKeyring();
    const auto moved = store->moveToPreferredStore();
    ASSERT_TRUE(moved);
    EXPECT_EQ(*moved, (std::vector<PairedDevice>{pixel, iphone}));
    EXPECT_FALSE(store->waitsForPreferredStore());
    EXPECT_FALSE(std::filesystem::exists(file())) << "no token may stay behind in the file";
    EXPECT_EQ(makeStore()->load(), (std::vector<PairedDevice>{pixel, iphone}));
}

TEST_F(FallbackStoreTest, AFilePairingMovesIntoTheKeyringAtTheNextStart) {
    hideKeyring();
    makeStore()->save({iphone});
    showKeyring();
    EXPECT_EQ(makeStore()->load(), std::vector<PairedDevice>{iphone});
    EXPECT_FALSE(std::filesystem::exists(file()));
    EXPECT_EQ(SecretServicePairedDeviceStore().load(), std::vector<PairedDevice>{iphone});
}

}  // namespace
}  // namespace velopad
