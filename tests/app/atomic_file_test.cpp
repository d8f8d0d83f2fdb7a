#include "app/storage/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <system_error>

#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::permissionBits;
using testing::readTextFile;
using testing::writeTextFile;

class AtomicFileTest : public testing::SandboxTest {
  protected:
    void SetUp() override {
        createPrivateDirectories(dir());
        writeTextFile(file(), "old");
    }
    fs::path dir() const { return sandbox.root() / "a" / "b"; }
    fs::path file() const { return dir() / "decks.json"; }

    // Names in `dir()` other than the target: a left-over temporary file would show here.
    std::set<std::string> strayEntries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir()))
            if (entry.path() != file()) names.insert(entry.path().filename().string());
        return names;
    }
};

TEST_F(AtomicFileTest, ReplacesTheFileWholeWithExactlyTheRequestedModeAndCleansUp) {
    EXPECT_EQ(permissionBits(sandbox.root() / "a"), 0700u);
    EXPECT_EQ(permissionBits(dir()), 0700u);
    const fs::path link = sandbox.root() / "old-link";
    fs::create_hard_link(file(), link);
    writeTextFile(dir() / ".decks.json.Ab12Cd", "{\"half\":");  // killed before its rename
    writeTextFile(dir() / ".paired-devices.json.Ab12Cd", "[");  // another file's: kept
    writeTextFile(dir() / ".decks.json.notes", "kept");         // not a temporary name

    const mode_t oldMask = ::umask(0);
    writeFileAtomically(file(), "{\"a\":1}");
    ::umask(oldMask);

    EXPECT_EQ(readTextFile(file()), "{\"a\":1}");
    EXPECT_EQ(permissionBits(file()), 0600u);
    EXPECT_EQ(readTextFile(link), "old");  // the old inode was swapped out, never rewritten
    EXPECT_EQ(strayEntries(),
              (std::set<std::string>{".decks.json.notes", ".paired-devices.json.Ab12Cd"}));
    writeFileAtomically(file(), "x",
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
    EXPECT_EQ(permissionBits(file()), 0644u);
}

TEST_F(AtomicFileTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    testing::makeReadableByEveryone(sandbox.root());
    fs::permissions(dir(), fs::perms::owner_write, fs::perm_options::remove);
    const int status = testing::runSubjectToFilePermissions([&] {
        try {
            writeFileAtomically(file(), "new");
            return 1;
        } catch (const std::system_error& error) {
            return error.code() == std::errc::permission_denied ? 0 : 2;
        }
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readTextFile(file()), "old");
    EXPECT_TRUE(strayEntries().empty());
    EXPECT_THROW(writeFileAtomically(dir() / "missing" / "x.json", "x"), std::system_error);
}

TEST_F(AtomicFileTest, AFailedDirectoryFlushAfterTheRenameStillCountsAsWritten) {
    const auto failingFlush = [](const fs::path& directory) {
        throw std::system_error(EIO, std::generic_category(), directory.string());
    };
    const auto warning = writeFileAtomically(
        file(), "new", fs::perms::owner_read | fs::perms::owner_write, failingFlush);
    EXPECT_EQ(readTextFile(file()), "new");
    ASSERT_TRUE(warning);
    EXPECT_NE(warning->find("decks.json"), std::string::npos);
    EXPECT_EQ(writeFileAtomically(file(), "newer"), std::nullopt);
}

TEST_F(AtomicFileTest, ReadsWholeFilesAndRefusesToMakeADirectoryOfAFile) {
    EXPECT_EQ(readWholeFile(dir() / "missing"), std::nullopt);
    const std::string big = std::string(100000, 'x') + "end";
    writeTextFile(file(), big);
    EXPECT_EQ(readWholeFile(file()), big);
    EXPECT_THROW(readWholeFile(dir()), std::system_error);  // a directory is not a file
    EXPECT_NO_THROW(createPrivateDirectories(dir()));
    EXPECT_THROW(createPrivateDirectories(file()), std::system_error);
    EXPECT_THROW(createPrivateDirectories(file() / "below"), std::system_error);
}

}  // namespace
}  // namespace velopad
