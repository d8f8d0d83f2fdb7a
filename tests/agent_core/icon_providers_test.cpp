// Application and Shortcut icons, rendered through a private icon theme. Application icons are
// cached per bundle identifier and the desktop entry's modification time; Shortcut icons, from
// "<identifier>.desktop" entries in the Shortcuts folder, by the lower-case identifier.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>

#include "agent_core/app_icon_provider.h"
#include "agent_core/shortcut_icon_provider.h"
#include "platform/linux/icon_render_sources.h"
#include "tests/support/icon_test_support.h"
#include "tests/support/io_thread.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;

std::uint32_t centre(const std::optional<IconPng>& png) {
    return png ? testing::decodePng(png->pngData)->pixel(64, 64) : 0;
}

Task<std::optional<fs::path>> lookUpIn(std::map<std::string, fs::path>* installed,
                                       std::string bundleId) {
    const auto found = installed->find(bundleId);
    co_return found == installed->end() ? std::nullopt : std::optional(found->second);
}

class AppIconProviderTest : public testing::SandboxTest {
  protected:
    testing::IconThemeSandbox icons{sandbox};
    test::IoThread io;
    std::map<std::string, fs::path> installed;
    std::atomic<int> renders{0};

    AppIconSource countingSource() {
        AppIconSource source = desktopAppIconSource();
        source.renderIcon = [this, render = source.renderIcon](const fs::path& url) {
            ++renders;
            return render(url);
        };
        return source;
    }
    AppIconProvider provider{io.executor(), io.pool(), countingSource()};

    WorkspaceClient workspace() {
        return {.urlForApplication = std::bind_front(lookUpIn, &installed)};
    }
    std::optional<IconPng> icon(const std::string& bundleId) {
        return io.run(provider.pngAndRevision(bundleId, workspace()));
    }
    void install(const std::string& id, const std::optional<std::string>& iconName) {
        installed[id] = icons.writeApplication(id, iconName);
    }
};

// The theme icon as a 128-pixel PNG with its SHA-256 as revision, drawn once until the entry or
// its icon changes.
TEST_F(AppIconProviderTest, ServesRepeatedRequestsFromTheCacheUntilTheEntryOrItsIconChanges) {
    testing::writeSolidPng(icons.hicolor() / "48x48/apps/player.png", 48, 48, 0x00AA00);
    install("org.example.Player", "player");
    const auto first = icon("org.example.Player");
    ASSERT_TRUE(first);
    EXPECT_EQ(centre(first), 0x00AA00FFU);
    EXPECT_EQ(testing::decodePng(first->pngData)->width, 128);
    EXPECT_EQ(first->revision, testing::sha256Hex(first->pngData));
    EXPECT_EQ(io.run(provider.revisions({"org.example.Player"}, workspace()))["org.example.Player"],
              first->revision);
    EXPECT_EQ(icon("org.example.Player"), first);
    EXPECT_EQ(renders, 1);

    // A new modification time draws again, with the same picture.
    const fs::path entry = installed["org.example.Player"];
    fs::last_write_time(entry, fs::last_write_time(entry) + std::chrono::seconds(10));
    EXPECT_EQ(icon("org.example.Player"), first);
    EXPECT_EQ(renders, 2);

    // A replaced icon file gives a new revision though the entry stayed the same, also when
    // several are asked for at once (the unknown left out).
    testing::writeSolidPng(icons.hicolor() / "48x48/apps/player.png", 48, 48, 0x0000AA);
    const std::vector<std::string> ids{"org.example.Player", "org.example.Gone"};
    const auto revisions = io.run(provider.revisions(ids, workspace()));
    EXPECT_EQ(renders, 3);
    const auto replaced = icon("org.example.Player");
    EXPECT_EQ(centre(replaced), 0x0000AAFFU);
    EXPECT_EQ(revisions,
              (std::map<std::string, std::string>{{"org.example.Player", replaced->revision}}));
    EXPECT_NE(replaced->revision, first->revision);
    EXPECT_EQ(renders, 3);

    // Uninstalled, it gives nothing; installed again, its cached icon serves.
    installed.erase("org.example.Player");
    EXPECT_EQ(icon("org.example.Player"), std::nullopt);
    installed["org.example.Player"] = entry;
    EXPECT_EQ(icon("org.example.Player"), replaced);
    EXPECT_EQ(renders, 3);
}

TEST_F(AppIconProviderTest, AThemeChangeGivesNewIconsWithoutARestart) {
    sandbox.setEnv("XDG_CURRENT_DESKTOP", std::nullopt);
    testing::writeSolidPng(icons.hicolor() / "48x48/apps/player.png", 48, 48, 0x00AA00);
    testing::writeTextFile(icons.dataDir() / "icons/Velvet/index.theme",
                           "[Icon Theme]\nName=Velvet\nInherits=hicolor\nDirectories=48x48/apps\n"
                           "[48x48/apps]\nSize=48\nType=Fixed\n");
    testing::writeSolidPng(icons.dataDir() / "icons/Velvet/48x48/apps/player.png", 48, 48,
                           0xAA0000);
    install("org.example.Player", "player");
    EXPECT_EQ(centre(icon("org.example.Player")), 0x00AA00FFU);

    testing::writeTextFile(sandbox.configHome() / "gtk-3.0/settings.ini",
                           "[Settings]\ngtk-icon-theme-name=Velvet\n");
    EXPECT_EQ(centre(icon("org.example.Player")), 0xAA0000FFU);
    EXPECT_EQ(renders, 2);
}

TEST_F(AppIconProviderTest, MissingIconsFallBackToTheGenericIconAndFailedRendersAreNotCached) {
    install("org.example.Plain", std::nullopt);
    install("org.example.Broken", "no-such-icon");
    EXPECT_EQ(icon("org.example.Plain"), std::nullopt);  // no generic icon in the theme yet
    testing::writeSolidSvg(icons.hicolor() / "scalable/apps/application-x-executable.svg", 16, 16,
                           "#777777");
    const auto plain = icon("org.example.Plain");
    EXPECT_EQ(centre(plain), 0x777777FFU);
    EXPECT_EQ(icon("org.example.Broken"), plain);
}

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
        std::string iconLine;
        if (colour) {
            const fs::path file = sandbox.root() / "art" / (stem + ".svg");
            testing::writeSolidSvg(file, 24, 24, *colour);
            iconLine = "Icon=" + file.string() + "\n";
        }
        testing::writeTextFile(shortcuts / (stem + ".desktop"),
                               testing::desktopEntry("Shortcut " + stem, "/bin/true", iconLine));
    }
    std::optional<IconPng> icon(const std::string& identifier) {
        return io.run(provider.pngAndRevision(identifier));
    }
};

TEST_F(ShortcutIconProviderTest, IdentifiersDifferingInCaseShareOneRenderedEntry) {
    addShortcut(kUpper, "#ff8800");  // the file is named in upper case
    const auto first = icon(kLower);
    EXPECT_EQ(centre(first), 0xFF8800FFU);
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
    EXPECT_EQ(icon(kLower), found);
    EXPECT_EQ(fetches, 3);
    addShortcut(kLower, "#0000ff");  // as an edit of its icon rewrites the entry
    const auto edited = icon(kLower);
    EXPECT_EQ(centre(edited), 0x0000FFFFU);
    EXPECT_NE(edited->revision, found->revision);
}

TEST_F(ShortcutIconProviderTest, IdentifiersThatAreNotPlainNamesFindNothing) {
    const fs::path art = sandbox.root() / "art.svg";
    testing::writeSolidSvg(art, 8, 8, "#ffffff");
    testing::writeTextFile(
        sandbox.dataHome() / "HarborlinkAgent" / "outside.desktop",
        testing::desktopEntry("Outside", "/bin/true", "Icon=" + art.string() + "\n"));
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
