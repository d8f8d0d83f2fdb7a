// The paired devices' stored form, and the two stores that keep it: a private file, and an item
// in a real gnome-keyring on a private session bus.

#include "app/pairing/paired_device_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/pairing/file_paired_device_store.h"
#include "app/pairing/paired_device_stored_form.h"
#include "app/pairing/secret_service_paired_device_store.h"
#include "app/storage/atomic_file.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const PairedDevice pixel{*Uuid::parse("3F2504E0-4F89-41D3-9A0C-0305E82C3301"), "Pixel",
                         DeviceToken{"TOKEN-ONE"}, dateFromSecondsSinceReferenceDate(738000000.25)};
const PairedDevice iphone{*Uuid::parse("7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10"), "iPhone",
                          DeviceToken{"TOKEN-TWO"}, dateFromSecondsSinceReferenceDate(12.5)};
using Devices = std::vector<PairedDevice>;

TEST(PairedDeviceStoredFormTest, WritesSortedKeysWithReferenceDateSecondsAndReadsAnyOrder) {
    EXPECT_EQ(secondsSinceReferenceDate(WireDate(std::chrono::milliseconds(978307201500))), 1.5);
    EXPECT_EQ(encodeStoredPairedDevices({iphone}),
              "[{\"id\":\"7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10\",\"name\":\"iPhone\","
              "\"pairedAt\":12.5,\"token\":{\"value\":\"TOKEN-TWO\"}}]");
    // Key order and white space do not matter; lower-case ids are read too.
    EXPECT_EQ(decodeStoredPairedDevices(
                  "[ {\"pairedAt\": 738000000.25, \"token\": {\"value\": \"TOKEN-ONE\"},\n"
                  "   \"name\": \"Pixel\", \"id\": \"3f2504e0-4f89-41d3-9a0c-0305e82c3301\"} ]"),
              Devices{pixel});
    EXPECT_EQ(decodeStoredPairedDevices(encodeStoredPairedDevices({pixel, iphone})),
              (Devices{pixel, iphone}));
}

TEST(PairedDeviceStoredFormTest, RefusesAnythingButACompleteList) {
    const std::string valid = "[{\"id\":\"7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10\",\"name\":\"n\"";
    std::string oneBadRecord = encodeStoredPairedDevices({pixel, iphone});
    oneBadRecord.replace(oneBadRecord.find("\"name\":\"iPhone\""), 6, "\"nom\"");
    for (const std::string& text : {
             std::string(), std::string("not json"), std::string("{}"), std::string("[1]"),
             valid + ",\"token\":{\"value\":\"T\"}}]",  // no pairedAt
             valid + ",\"token\":{\"value\":\"T\"},\"pairedAt\":\"2024-05-01T10:00:00Z\"}]",
             valid + ",\"token\":\"T\",\"pairedAt\":1}]", valid + ",\"token\":{},\"pairedAt\":1}]",
             valid + ",\"token\":{\"value\":\"T\"},\"pairedAt\":1e300}]",
             // Past the clock's range once counted from 1970 (nanoseconds in 64 bits).
             valid + ",\"token\":{\"value\":\"T\"},\"pairedAt\":8.3e9}]",
             std::string("[{\"id\":\"nope\",\"name\":\"n\",\"token\":{\"value\":\"T\"},"
                         "\"pairedAt\":1}]"),
             oneBadRecord,  // one good record does not carry a bad one
         }) {
        EXPECT_EQ(decodeStoredPairedDevices(text), std::nullopt) << text;
    }
}

// The same contract on both stores.
class PairedDeviceStoreTest : public testing::SandboxTest,
                              public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        if (GetParam()) keyring = std::make_unique<testing::KeyringSession>(sandbox);
    }
    std::unique_ptr<PairedDeviceStoring> makeStore() {
        auto report = [this](std::string_view line) { reports.emplace_back(line); };
        if (GetParam()) return std::make_unique<SecretServicePairedDeviceStore>(report);
        return std::make_unique<FilePairedDeviceStore>(FilePairedDeviceStore::defaultPath(),
                                                       report);
    }
    std::vector<std::string> keyringArguments(const std::string& command,
                                              const std::string& account) {
        const std::string service = "com.quentaro.harborlink.agent.paired-devices";
        return {"secret-tool", command, "service", service, "account", account};
    }
    // What the store holds under its name (+ `suffix`), as secret-tool or a reader sees it.
    std::optional<std::string> stored(const std::string& suffix = "") {
        if (!GetParam()) return readWholeFile(file() += suffix);
        const auto [status, text] =
            testing::runCapturingOutput(keyringArguments("lookup", account + suffix));
        return status == 0 ? std::optional(text) : std::nullopt;
    }
    void plant(const std::string& text) {
        if (!GetParam()) return testing::writeTextFile(file(), text);
        auto arguments = keyringArguments("store", account);
        arguments.insert(arguments.begin() + 2, "--label=foreign");
        ASSERT_EQ(testing::runCapturingOutput(arguments, text).first, 0);
    }
    fs::path file() const { return sandbox.dataHome() / "HarborlinkAgent" / "paired-devices.json"; }

    const std::string account = "paired-devices";
    std::unique_ptr<testing::KeyringSession> keyring;
    std::vector<std::string> reports;
};

TEST_P(PairedDeviceStoreTest, SaveReplacesTheListForEveryReaderAndClearRemovesIt) {
    auto store = makeStore();
    EXPECT_TRUE(store->load().empty());
    EXPECT_NO_THROW(store->clear());

    store->save({pixel});
    EXPECT_EQ(stored(), encodeStoredPairedDevices({pixel}));
    store->save({iphone});
    EXPECT_EQ(makeStore()->load(), Devices{iphone});  // a restarted agent reads the same list
    EXPECT_EQ(stored(), encodeStoredPairedDevices({iphone}));
    if (!GetParam()) {
        EXPECT_EQ(testing::permissionBits(file()), 0600u);
        EXPECT_EQ(testing::permissionBits(file().parent_path()), 0700u);
    }

    store->clear();
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_TRUE(store->load().empty());
    EXPECT_TRUE(reports.empty());
}

TEST_P(PairedDeviceStoreTest, AnUnreadableListIsSetAsideAndReportedWithoutItsContent) {
    const std::string damaged =
        "[{\"id\":\"7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10\",\"name\":\"iPhone\",\"token\":{"
        "\"value\":\"SECRET-TOKEN\"},\"pairedAt\":\"2024-05-01T10:00:00Z\"}]";
    plant(damaged);
    auto store = makeStore();

    EXPECT_TRUE(store->load().empty());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0],
                HasSubstr("paired-devices" + std::string(GetParam() ? "" : ".json") + ".corrupt"));
    EXPECT_THAT(reports[0], Not(HasSubstr("SECRET-TOKEN")));

    // The next pairing no longer overwrites what could still be rescued by hand.
    store->save({pixel});
    EXPECT_EQ(stored(".corrupt"), damaged);
    EXPECT_EQ(store->load(), Devices{pixel});
}

INSTANTIATE_TEST_SUITE_P(Stores, PairedDeviceStoreTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Keyring" : "File"; });

class FilePairedDeviceStoreTest : public testing::SandboxTest {};

TEST_F(FilePairedDeviceStoreTest, AFailedSaveIsReportedAsSaveFailedWithTheSystemStatus) {
    const fs::path path = FilePairedDeviceStore::defaultPath();
    FilePairedDeviceStore(path, nullptr).save({pixel});
    testing::makeReadableByEveryone(sandbox.root());
    fs::permissions(path.parent_path(),
                    fs::perms::others_write | fs::perms::group_write | fs::perms::owner_write,
                    fs::perm_options::remove);

    const int status = testing::runSubjectToFilePermissions([&] {
        try {
            FilePairedDeviceStore(path, nullptr).save({iphone});
            return 1;
        } catch (const FilePairedDeviceStoreError& error) {
            return error == FilePairedDeviceStoreError(FilePairedDeviceStoreErrorCode::saveFailed,
                                                       EACCES)
                       ? 0
                       : 2;
        }
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(FilePairedDeviceStore(path, nullptr).load(), Devices{pixel});
    EXPECT_EQ(FilePairedDeviceStoreError::describe(FilePairedDeviceStoreErrorCode::saveFailed, 13),
              "Could not save the paired devices (status 13).");
}

// The agent's own store, with the keyring reachable or not as a login session would see it:
// DBUS_SESSION_BUS_ADDRESS unset until the keyring has started.
class KeyringStoreTest : public testing::SandboxTest {
  protected:
    void hideKeyring() { ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); }
    void showKeyring() { ::setenv("DBUS_SESSION_BUS_ADDRESS", keyring->busAddress().c_str(), 1); }
    fs::path file() const { return sandbox.dataHome() / "HarborlinkAgent" / "paired-devices.json"; }

    std::unique_ptr<testing::KeyringSession> keyring =
        std::make_unique<testing::KeyringSession>(sandbox);
};

TEST_F(KeyringStoreTest, APhonePairedIntoTheKeyringStaysPairedWhenAStartFindsNone) {
    makeDefaultPairedDeviceStore()->save({pixel});  // paired while the keyring answered
    EXPECT_FALSE(fs::exists(file()));

    hideKeyring();  // the next start comes before the keyring
    auto store = makeDefaultPairedDeviceStore();
    EXPECT_TRUE(store->load().empty());
    ASSERT_TRUE(store->waitsForPreferredStore());
    EXPECT_FALSE(store->moveToPreferredStore());
    store->save({iphone});  // a phone pairs meanwhile: kept in the private file
    EXPECT_EQ(testing::readTextFile(file()), encodeStoredPairedDevices({iphone}));

    showKeyring();
    const auto moved = store->moveToPreferredStore();
    ASSERT_TRUE(moved);
    EXPECT_EQ(*moved, (Devices{pixel, iphone}));
    EXPECT_FALSE(store->waitsForPreferredStore());
    EXPECT_FALSE(fs::exists(file())) << "no token may stay behind in the file";
    EXPECT_EQ(makeDefaultPairedDeviceStore()->load(), (Devices{pixel, iphone}));
}

TEST_F(KeyringStoreTest, AFilePairingMovesIntoTheKeyringAtTheNextStart) {
    hideKeyring();
    makeDefaultPairedDeviceStore()->save({iphone});
    showKeyring();
    EXPECT_EQ(makeDefaultPairedDeviceStore()->load(), Devices{iphone});
    EXPECT_FALSE(fs::exists(file()));
    EXPECT_EQ(SecretServicePairedDeviceStore().load(), Devices{iphone});
}

}  // namespace
}  // namespace velopad
