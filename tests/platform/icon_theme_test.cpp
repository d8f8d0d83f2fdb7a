// Icons found through the chosen theme, its parents, hicolor and the pixmap folders, and rendered
// into square PNGs without a display.

#include "platform/linux/icon_theme.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/linux/icon_render.h"
#include "tests/support/icon_test_support.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::writeTextFile;

std::string gsettings(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"gsettings"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto [status, output] = testing::runCapturingOutput(argv);
    EXPECT_EQ(status, 0) << output;
    return output;
}

// First in the file: GLib reads the XDG folders and the settings schemas once per process.
TEST(IconThemeChoiceTest, FollowsTheDesktopsOwnSettingFirstAndChangesWithoutARestart) {
    testing::Sandbox sandbox;
    sandbox.setEnv("XDG_CONFIG_DIRS", (sandbox.root() / "etc-xdg").string());
    sandbox.setEnv("XDG_CURRENT_DESKTOP", std::nullopt);
    testing::DBusSession bus(sandbox);
    const auto choice = [] { return IconThemeLookup::currentThemeName(); };
    const fs::path gtkSettings = sandbox.configHome() / "gtk-3.0/settings.ini";

    writeTextFile(gtkSettings, "[Settings]\ngtk-icon-theme-name=../escape\n");
    EXPECT_EQ(choice(), "hicolor");
    writeTextFile(gtkSettings, "[Settings]\ngtk-icon-theme-name=Stale\n");
    EXPECT_EQ(choice(), "Stale");

    // A choice made in GSettings beats a stale GTK file, and is seen at once.
    gsettings({"set", "org.gnome.desktop.interface", "icon-theme", "Velvet"});
    EXPECT_EQ(choice(), "Velvet");

    // Plasma's own setting counts first on Plasma, and only there.
    writeTextFile(sandbox.configHome() / "kdeglobals",
                  "[General]\nTheme=not-this\n\n[Icons]\nTheme=breeze-dark\n");
    EXPECT_EQ(choice(), "Velvet");
    sandbox.setEnv("XDG_CURRENT_DESKTOP", "KDE");
    EXPECT_EQ(choice(), "breeze-dark");
    writeTextFile(sandbox.configHome() / "kdeglobals", "[General]\nTheme=not-this\n");
    writeTextFile(sandbox.root() / "etc-xdg/kdeglobals", "[Icons]\nTheme=breeze\n");
    EXPECT_EQ(choice(), "breeze");

    // GNOME's default is GNOME's choice on GNOME; elsewhere an untouched default says nothing.
    gsettings({"reset", "org.gnome.desktop.interface", "icon-theme"});
    sandbox.setEnv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    std::string gnomeDefault = gsettings({"get", "org.gnome.desktop.interface", "icon-theme"});
    gnomeDefault = gnomeDefault.substr(1, gnomeDefault.find('\'', 1) - 1);  // 'Adwaita'
    EXPECT_EQ(choice(), gnomeDefault);
    sandbox.setEnv("XDG_CURRENT_DESKTOP", "XFCE");
    EXPECT_EQ(choice(), "Stale");

    // dconf watches the bus for changes; its end is not ours.
    if (GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(connection, FALSE);
        g_object_unref(connection);
    }
}

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

TEST_F(IconThemeLookupTest, WalksTheChosenThemeItsParentsThenHicolorThenPixmapsForTheClosestSize) {
    const fs::path base = icons.dataDir() / "icons";
    writeTextFile(base / "Velvet/index.theme",
                  "[Icon Theme]\nInherits=Parent\nDirectories=apps\n\n"
                  "[apps]\nSize=64\nType=Scalable\nMaxSize=256\n");
    writeTextFile(base / "Parent/index.theme",
                  "[Icon Theme]\nInherits=Velvet\nDirectories=apps\n\n[apps]\nSize=64\n");
    touch(base / "Velvet/apps/own.svg");
    touch(base / "Parent/apps/inherited.png");
    touch(icons.hicolor() / "48x48/apps/everywhere.png");
    touch(icons.hicolor() / "scalable/apps/everywhere.svg");  // closer to 128 pixels
    touch(pixmaps / "old.xpm");
    touch(base / "Velvet/apps/everywhere.svg");

    const IconThemeLookup velvet = lookup("Velvet");
    EXPECT_EQ(velvet.find("own", 128), base / "Velvet/apps/own.svg");
    EXPECT_EQ(velvet.find("inherited", 128), base / "Parent/apps/inherited.png");
    EXPECT_EQ(velvet.find("everywhere", 128), base / "Velvet/apps/everywhere.svg");
    EXPECT_EQ(velvet.find("old", 128), pixmaps / "old.xpm");
    EXPECT_EQ(velvet.find("missing", 128), std::nullopt);
    EXPECT_EQ(lookup("NoSuchTheme").find("everywhere", 128),
              icons.hicolor() / "scalable/apps/everywhere.svg");
    EXPECT_EQ(lookup("NoSuchTheme").find("everywhere", 48),
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
        {"..", std::nullopt},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(lookup("hicolor").find(name, 128), expected) << name;
    }
}

TEST_F(IconThemeLookupTest, RendersBitmapsAndSvgsCentredOnTransparencyAndNothingElse) {
    const fs::path root = sandbox.root();
    testing::writeSolidPng(root / "wide.png", 4, 2, 0xFF0000);
    const auto wide = testing::decodePng(renderIconPng(root / "wide.png").value()).value();
    EXPECT_EQ(wide.width, 128);
    EXPECT_EQ(wide.height, 128);
    EXPECT_EQ(wide.alpha(64, 0), 0);
    EXPECT_EQ(wide.alpha(64, 127), 0);
    EXPECT_EQ(wide.pixel(0, 64), 0xFF0000FFU);

    testing::writeSolidSvg(root / "tall.svg", 10, 20, "#00ff00");
    const auto tall = testing::decodePng(renderIconPng(root / "tall.svg").value()).value();
    EXPECT_EQ(tall.pixel(64, 0), 0x00FF00FFU);
    EXPECT_EQ(tall.pixel(64, 127), 0x00FF00FFU);
    EXPECT_EQ(tall.alpha(5, 64), 0);

    writeTextFile(root / "broken.png", "not an image");
    for (const auto& file : {root / "broken.png", root / "missing.svg", root}) {
        EXPECT_EQ(renderIconPng(file), std::nullopt) << file;
    }
}

}  // namespace
}  // namespace velopad
