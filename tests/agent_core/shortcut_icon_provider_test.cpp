// Shortcut icons: rendered from "<identifier>.desktop" entries in the Shortcuts folder, cached
// by the lower-case identifier for the provider's life.

#include "agent_core/shortcut_icon_provider.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/linux/icon_render_sources.h"
#include "tests/support/icon_test_support.h"
#include "tests/support/io_thread.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUpper = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
constexpr const char* kLower = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";
constexpr const char* kOther = "11111111-2222-4333-8444-555555555555";

class ShortcutIconProviderTest : public testing::SandboxTest {
  protected:
    testing::IconThemeSandbox icons{sandbox};
    fs::path shortcuts = sandbox.dataHome() / "HarborlinkAgent" / "Shortcuts";
    test::IoThread io;
    std::atomic<int> fetches{0};
    std::atomic<int> listings{0};

    ShortcutIconSource countingSource() {
        ShortcutIconSource source = desktopShortcutIconSource(shortcuts);
        source.fetchIcon = [this, fetch = source.fetchIcon](const std::string& identifier) {
            ++fetches;
            return fetch(identifier);
        };
        source.fetchAllIcons = [this, fetchAll = source.fetchAllIcons] {
            ++listings;
            return fetchAll();
        };
        return source;
    }
    ShortcutIconProvider provider{io.executor(), io.pool(), countingSource()};

    void addShortcut(const std::string& stem, const std::optional<std::string>& colour) {
        std::optional<std::string> icon;
        if (colour) {
            const fs::path file = sandbox.root() / "art" / (stem + ".svg");
            testing::writeSolidSvg(file, 24, 24, *colour);
            icon = file.string();
        }
        testing::writeDesktopEntry(shortcuts / (stem + ".desktop"), "Shortcut " + stem, icon);
    }
    std::optional<IconPng> icon(const std::string& identifier) {
        return io.run(provider.pngAndRevision(identifier));
    }
};

TEST_F(ShortcutIconProviderTest, IdentifiersDifferingInCaseShareOneRenderedEntry) {
    addShortcut(kUpper, "#ff8800");  // the file is named in upper case
    const auto first = icon(kLower);
    ASSERT_TRUE(first);
    EXPECT_EQ(testing::decodePng(first->pngData)->pixel(64, 64), 0xFF8800FFU);
    EXPECT_EQ(first->revision, testing::sha256Hex(first->pngData));
    EXPECT_EQ(icon(kUpper), first);
    EXPECT_EQ(io.run(provider.revision("0a1B2c3D-4e5f-4a6b-8c7d-9e0f1a2b3c4d")), first->revision);
    EXPECT_EQ(fetches, 1);
    addShortcut("1111aAaA-2222-4333-8444-555555555555", "#00ff00");  // in mixed case
    EXPECT_TRUE(icon("1111aaaa-2222-4333-8444-555555555555"));
}

TEST_F(ShortcutIconProviderTest, MissingIconsAreNotRememberedAndAChangedEntryIsFetchedAgain) {
    EXPECT_TRUE(io.run(provider.preloadAll()).empty());  // no Shortcuts folder yet
    EXPECT_EQ(icon(kLower), std::nullopt);
    addShortcut(kOther, std::nullopt);  // a Shortcut without an icon
    EXPECT_EQ(icon(kOther), std::nullopt);

    addShortcut(kLower, "#ff8800");
    const auto found = icon(kLower);
    ASSERT_TRUE(found);
    EXPECT_EQ(icon(kLower), found);
    EXPECT_EQ(fetches, 3);

    addShortcut(kLower, "#0000ff");  // as an edit of its icon rewrites the entry
    const auto edited = icon(kLower);
    ASSERT_TRUE(edited);
    EXPECT_EQ(testing::decodePng(edited->pngData)->pixel(64, 64), 0x0000FFFFU);
    EXPECT_NE(edited->revision, found->revision);
}

TEST_F(ShortcutIconProviderTest, IdentifiersThatAreNotPlainNamesFindNothing) {
    testing::writeDesktopEntry(sandbox.dataHome() / "HarborlinkAgent" / "outside.desktop",
                               "Outside", (sandbox.root() / "art.svg").string());
    testing::writeSolidSvg(sandbox.root() / "art.svg", 8, 8, "#ffffff");
    for (const char* identifier : {"../outside", "", "a/b"})
        EXPECT_EQ(icon(identifier), std::nullopt) << identifier;
}

TEST_F(ShortcutIconProviderTest, PreloadAllFillsTheCacheForEveryShortcutInOnePass) {
    addShortcut(kUpper, "#ff8800");
    addShortcut(kOther, "#00ff00");
    addShortcut("Morning routine", "#0000ff");  // not an identifier
    addShortcut("22222222-3333-4444-8555-666666666666", std::nullopt);

    const auto all = io.run(provider.preloadAll());
    std::vector<std::string> keys;
    for (const auto& [key, png] : all) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{kUpper, kLower, kOther}));
    EXPECT_EQ(all.at(kUpper), all.at(kLower));
    EXPECT_EQ(icon(kLower)->pngData, all.at(kLower));
    EXPECT_EQ(fetches, 0);
    EXPECT_EQ(listings, 1);
}

}  // namespace
}  // namespace velopad
