#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/pairing/file_paired_device_store.h"
#include "app/pairing/in_memory_paired_device_store.h"
#include "app/pairing/paired_device_stored_form.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const WireDate referenceDate = WireDate(std::chrono::seconds(978307200));

PairedDevice device(const char* id, const char* name, const char* token, double seconds) {
    return PairedDevice{*Uuid::parse(id), name, DeviceToken{token},
                        dateFromSecondsSinceReferenceDate(seconds)};
}

const PairedDevice pixel =
    device("3F2504E0-4F89-41D3-9A0C-0305E82C3301", "Pixel", "TOKEN-ONE", 738000000.25);
const PairedDevice iphone =
    device("7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10", "iPhone", "TOKEN-TWO", 12.5);

TEST(PairedDeviceStoredFormTest, WritesSortedKeysWithReferenceDateSeconds) {
    EXPECT_EQ(secondsSinceReferenceDate(referenceDate + std::chrono::milliseconds(1500)), 1.5);
    EXPECT_EQ(encodeStoredPairedDevices({iphone}),
              "[{\"id\":\"7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10\",\"name\":\"iPhone\","
              "\"pairedAt\":12.5,\"token\":{\"value\":\"TOKEN-TWO\"}}]");
    EXPECT_EQ(encodeStoredPairedDevices({}), "[]");
}

TEST(PairedDeviceStoredFormTest, ReadsWhatTheAgentWroteOnAnyPlatform) {
    // Key order and white space do not matter; lower-case ids are read too.
    const auto devices = decodeStoredPairedDevices(
        "[ {\"pairedAt\": 738000000.25, \"token\": {\"value\": \"TOKEN-ONE\"},\n"
        "   \"name\": \"Pixel\", \"id\": \"3f2504e0-4f89-41d3-9a0c-0305e82c3301\"} ]");
    ASSERT_TRUE(devices.has_value());
    ASSERT_EQ(devices->size(), 1u);
    EXPECT_EQ((*devices)[0], pixel);
    EXPECT_EQ(decodeStoredPairedDevices(encodeStoredPairedDevices({pixel, iphone})),
              (std::vector<PairedDevice>{pixel, iphone}));
}

TEST(PairedDeviceStoredFormTest, RefusesAnythingButACompleteList) {
    const char* valid = "\"id\":\"7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10\",\"name\":\"n\"";
    const std::vector<std::string> bad = {
        "",
        "not json",
        "{}",
        "[1]",
        std::string("[{") + valid + ",\"token\":{\"value\":\"T\"}}]",  // no pairedAt
        std::string("[{") + valid +
            ",\"token\":{\"value\":\"T\"},\"pairedAt\":\"2024-05-01T10:00:00Z\"}]",
        std::string("[{") + valid + ",\"token\":\"T\",\"pairedAt\":1}]",
        std::string("[{") + valid + ",\"token\":{},\"pairedAt\":1}]",
        std::string("[{") + valid + ",\"token\":{\"value\":\"T\"},\"pairedAt\":1e300}]",
        // Past the clock's range once counted from 1970 (nanoseconds in 64 bits).
        std::string("[{") + valid + ",\"token\":{\"value\":\"T\"},\"pairedAt\":8.3e9}]",
        "[{\"id\":\"nope\",\"name\":\"n\",\"token\":{\"value\":\"T\"},\"pairedAt\":1}]",
        "[{\"id\":\"7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10\",\"token\":{\"value\":\"T\"},"
        "\"pairedAt\":1}]",
        // One good record does not carry a bad one (the second has no name).
        [] {
            std::string text = encodeStoredPairedDevices({pixel, iphone});
            return text.replace(text.find("\"name\":\"iPhone\""), 6, "\"nom\"");
        }(),
    };
    for (const std::string& text : bad) {
        EXPECT_EQ(decodeStoredPairedDevices(text), std::nullopt) << text;
    }
}

TEST(InMemoryPairedDeviceStoreTest, KeepsTheLastSavedListUntilCleared) {
    InMemoryPairedDeviceStore store({pixel});
    EXPECT_EQ(store.load(), std::vector<PairedDevice>{pixel});
    store.save({iphone});
    EXPECT_EQ(store.load(), std::vector<PairedDevice>{iphone});
    store.clear();
    EXPECT_TRUE(store.load().empty());
}

class FilePairedDeviceStoreTest : public testing::SandboxTest {
  protected:
    fs::path path() const { return sandbox.dataHome() / "HarborlinkAgent" / "paired-devices.json"; }
    FilePairedDeviceStore makeStore() {
        return FilePairedDeviceStore(FilePairedDeviceStore::defaultPath(),
                                     [this](std::string_view line) { reports.emplace_back(line); });
    }
    std::vector<std::string> reports;
};

TEST_F(FilePairedDeviceStoreTest, AnAbsentFileInTheDataDirectoryReadsAsEmptyAndClears) {
    EXPECT_EQ(FilePairedDeviceStore::defaultPath(), path());
    auto store = makeStore();
    EXPECT_TRUE(store.load().empty());
    EXPECT_NO_THROW(store.clear());
    EXPECT_TRUE(reports.empty());
}

TEST_F(FilePairedDeviceStoreTest, SaveCreatesAPrivateFileAndASecondSaveReplacesIt) {
    auto store = makeStore();
    store.save({pixel});
    EXPECT_EQ(testing::permissionBits(path()), 0600u);
    EXPECT_EQ(testing::permissionBits(path().parent_path()), 0700u);
    EXPECT_EQ(store.load(), std::vector<PairedDevice>{pixel});

    store.save({iphone});
    EXPECT_EQ(store.load(), std::vector<PairedDevice>{iphone});
    EXPECT_EQ(testing::readTextFile(path()), encodeStoredPairedDevices({iphone}));
    EXPECT_EQ(testing::permissionBits(path()), 0600u);

    store.clear();
    EXPECT_FALSE(fs::exists(path()));
    EXPECT_TRUE(store.load().empty());
}

TEST_F(FilePairedDeviceStoreTest, AnUnreadableListIsSetAsideAndReportedWithoutItsContent) {
    const std::string damaged =
        "[{\"id\":\"7A1C9E54-8E0B-4F59-9D8B-7C9B2A5B1D10\",\"name\":"
        "\"iPhone\",\"token\":{\"value\":\"SECRET-TOKEN\"},\"pairedAt\":";
    testing::writeTextFile(path(), damaged);
    auto store = makeStore();

    EXPECT_TRUE(store.load().empty());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], HasSubstr("paired-devices.json.corrupt"));
    EXPECT_THAT(reports[0], Not(HasSubstr("SECRET-TOKEN")));

    // The next pairing no longer overwrites what could still be rescued by hand.
    store.save({pixel});
    EXPECT_EQ(testing::readTextFile(fs::path(path()) += ".corrupt"), damaged);
    EXPECT_EQ(store.load(), std::vector<PairedDevice>{pixel});
}

TEST_F(FilePairedDeviceStoreTest, AFailedSaveIsReportedAsSaveFailedWithTheSystemStatus) {
    auto store = makeStore();
    store.save({pixel});
    testing::makeReadableByEveryone(sandbox.root());
    fs::permissions(path().parent_path(),
                    fs::perms::others_write | fs::perms::group_write | fs::perms::owner_write,
                    fs::perm_options::remove);

    const int status = testing::runSubjectToFilePermissions([&] {
        try {
            FilePairedDeviceStore(path(), nullptr).save({iphone});
            return 1;
        } catch (const FilePairedDeviceStoreError& error) {
            return error == FilePairedDeviceStoreError(FilePairedDeviceStoreErrorCode::saveFailed,
                                                       EACCES)
                       ? 0
                       : 2;
        }
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(store.load(), std::vector<PairedDevice>{pixel});
    EXPECT_EQ(FilePairedDeviceStoreError::describe(FilePairedDeviceStoreErrorCode::saveFailed, 13),
              "Could not save the paired devices (status 13).");
}

TEST_F(FilePairedDeviceStoreTest, WithoutASessionBusTheAgentUsesTheFile) {
    sandbox.setEnv("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    const auto store = makeDefaultPairedDeviceStore();
    store->save({pixel});
    EXPECT_EQ(testing::readTextFile(path()), encodeStoredPairedDevices({pixel}));
    EXPECT_TRUE(store->waitsForPreferredStore());
}

}  // namespace
}  // namespace velopad
