// Which icon theme the user has chosen, read live from the desktop's own settings: GNOME's
// GSettings (through a real dconf on a private session bus), Plasma's kdeglobals and the GTK
// settings files. Its own binary: GLib reads the XDG folders once per process.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/linux/icon_theme.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

using testing::runProgram;

std::string gsettings(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"gsettings"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    EXPECT_EQ(runProgram(argv, &output), 0) << output;
    return output;
}

TEST(IconThemeChoiceTest, FollowsTheDesktopsOwnSettingFirstAndChangesWithoutARestart) {
    testing::Sandbox sandbox;
    sandbox.setEnv("XDG_CONFIG_DIRS", (sandbox.root() / "etc-xdg").string());
    sandbox.setEnv("XDG_CURRENT_DESKTOP", std::nullopt);
    testing::DBusSession bus(sandbox);
    const auto choice = [] { return IconThemeLookup::currentThemeName(); };

    EXPECT_EQ(choice(), "hicolor");
    testing::writeTextFile(sandbox.configHome() / "gtk-3.0/settings.ini",
                           "[Settings]\ngtk-icon-theme-name=Stale\n");
    EXPECT_EQ(choice(), "Stale");

    // A choice made in GSettings beats a stale GTK file, and is seen at once.
    gsettings({"set", "org.gnome.desktop.interface", "icon-theme", "Velvet"});
    EXPECT_EQ(choice(), "Velvet");

    // Plasma's own setting counts first on Plasma, and only there.
    testing::writeTextFile(sandbox.configHome() / "kdeglobals",
                           "[General]\nTheme=not-this\n\n[Icons]\nTheme=breeze-dark\n");
    EXPECT_EQ(choice(), "Velvet");
    sandbox.setEnv("XDG_CURRENT_DESKTOP", "KDE");
    EXPECT_EQ(choice(), "breeze-dark");
    testing::writeTextFile(sandbox.configHome() / "kdeglobals", "[General]\nTheme=not-this\n");
    testing::writeTextFile(sandbox.root() / "etc-xdg/kdeglobals", "[Icons]\nTheme=breeze\n");
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

}  // namespace
}  // namespace velopad
