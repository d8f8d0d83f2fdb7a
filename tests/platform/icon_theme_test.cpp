// Icon lookup through themes, inheritance, hicolor and the pixmap folders.

#include "platform/linux/icon_theme.h"

#include <gtest/gtest.h>

#include "tests/support/icon_test_support.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::writeTextFile;

class IconThemeLookupTest : public testing::SandboxTest {
  protected:
    testing::IconThemeSandbox icons{sandbox};
    fs::path pixmaps = sandbox.root() / "pixmaps";

    IconThemeLookup lookup(const std::string& theme) {
        IconSearchPaths paths = IconSearchPaths::fromEnvironment();
        paths.pixmapDirs = {pixmaps};
        return IconThemeLookup(paths, theme);
    }
    fs::path touch(const fs::path& file) {
        writeTextFile(file, "x");
        return file;
    }
};

TEST_F(IconThemeLookupTest, PrefersAnIconOfTheWantedSizeAndOtherwiseTheClosest) {
    touch(icons.hicolor() / "48x48/apps/tool.png");
    EXPECT_EQ(lookup("hicolor").find("tool", 128), icons.hicolor() / "48x48/apps/tool.png");

    touch(icons.hicolor() / "scalable/apps/tool.svg");
    EXPECT_EQ(lookup("hicolor").find("tool", 128), icons.hicolor() / "scalable/apps/tool.svg");

    touch(icons.hicolor() / "128x128/apps/tool.png");
    EXPECT_EQ(lookup("hicolor").find("tool", 48), icons.hicolor() / "48x48/apps/tool.png");
}

TEST_F(IconThemeLookupTest, WalksTheChosenThemeItsParentsThenHicolorThenPixmaps) {
    const fs::path base = icons.dataDir() / "icons";
    writeTextFile(base / "Velvet/index.theme",
                  "[Icon "
                  "Theme]\nInherits=Parent\nDirectories=apps\n\n[apps]\nSize=64\nType="
                  "Scalable\nMaxSize=256\n");
    writeTextFile(base / "Parent/index.theme",
                  "[Icon Theme]\nInherits=Velvet\nDirectories=apps\n\n[apps]\nSize=64\n");
    touch(base / "Velvet/apps/own.svg");
    touch(base / "Parent/apps/inherited.png");
    touch(icons.hicolor() / "48x48/apps/everywhere.png");
    touch(pixmaps / "old.xpm");
    // The same name everywhere: the chosen theme wins.
    touch(base / "Velvet/apps/everywhere.svg");

    const IconThemeLookup velvet = lookup("Velvet");
    EXPECT_EQ(velvet.find("own", 128), base / "Velvet/apps/own.svg");
    EXPECT_EQ(velvet.find("inherited", 128), base / "Parent/apps/inherited.png");
    EXPECT_EQ(velvet.find("everywhere", 128), base / "Velvet/apps/everywhere.svg");
    EXPECT_EQ(lookup("hicolor").find("everywhere", 128),
              icons.hicolor() / "48x48/apps/everywhere.png");
    EXPECT_EQ(velvet.find("old", 128), pixmaps / "old.xpm");
    EXPECT_EQ(velvet.find("missing", 128), std::nullopt);
    EXPECT_EQ(lookup("NoSuchTheme").find("everywhere", 128),
              icons.hicolor() / "48x48/apps/everywhere.png");
}

TEST_F(IconThemeLookupTest, TakesAbsolutePathsNamesWithAnExtensionAndUserIconsButNoRelativePaths) {
    const fs::path file = touch(sandbox.root() / "anywhere/picture.png");
    touch(icons.hicolor() / "48x48/apps/named.png");
    // Icons installed for the user sit next to no index.theme of their own.
    touch(sandbox.dataHome() / "icons/hicolor/128x128/apps/mine.png");
    const std::pair<std::string, std::optional<fs::path>> cases[] = {
        {file.string(), file},
        {(sandbox.root() / "anywhere/none.png").string(), std::nullopt},
        {"named.png", icons.hicolor() / "48x48/apps/named.png"},
        {"mine", sandbox.dataHome() / "icons/hicolor/128x128/apps/mine.png"},
        {"", std::nullopt},
        {"apps/named", std::nullopt},
        {"../hicolor/48x48/apps/named", std::nullopt},
        {".", std::nullopt},
        {"..", std::nullopt},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(lookup("hicolor").find(name, 128), expected) << name;
    }
}

TEST_F(IconThemeLookupTest, AThemeNameThatIsAPathIsNoChoice) {
    writeTextFile(sandbox.configHome() / "gtk-3.0/settings.ini",
                  "[Settings]\ngtk-icon-theme-name=../escape\n");
    EXPECT_EQ(IconThemeLookup::currentThemeName(), "hicolor");
}

}  // namespace
}  // namespace velopad
