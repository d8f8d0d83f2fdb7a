// The installed applications for the editor's library: the shown desktop entries, each once,
// sorted by label, then resolved through the live workspace with their icons and accents.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent_core/installed_apps_catalog.h"
#include "platform/linux/desktop_entry_catalog.h"
#include "platform/linux/gio_workspace_client.h"
#include "tests/support/app_desktop_sandbox.h"
#include "tests/support/icon_test_support.h"
#include "tests/support/io_thread.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;
using testing::AppDesktopSandbox;
using testing::desktopEntry;
using ::testing::ElementsAre;

AppDesktopSandbox* desktop = nullptr;

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new testing::AppDesktopEnvironment(desktop, [](AppDesktopSandbox& d) {
        const fs::path red = d.sandbox().root() / "icons" / "red.png";
        testing::writeSolidPng(red, 32, 32, 0xFF0000);
        d.writeEntry(d.userApplications(), "org.example.Zeta", desktopEntry("zeta app", "true"));
        d.writeEntry(d.systemApplications(0), "org.example.Zeta",
                     desktopEntry("Zeta System", "true"));
        d.writeEntry(d.systemApplications(0), "org.example.Alpha",
                     desktopEntry("Alpha Beta", "true", "Icon=" + red.string() + "\n"));
        d.writeEntry(d.systemApplications(0), "org.example.Banana", desktopEntry("Banana", "true"));
        d.writeEntry(d.systemApplications(1), "org.example.Nameless", desktopEntry("", "true"));
        d.writeEntry(d.systemApplications(1), "org.example.Quiet",
                     desktopEntry("Quiet", "true", "NoDisplay=true\n"));
        d.writeEntry(d.systemApplications(1), "org.example.Gone",
                     desktopEntry("Gone", "true", "Hidden=true\n"));
        d.writeEntry(d.systemApplications(1), "org.example.KdeOnly",
                     desktopEntry("Kde", "true", "OnlyShowIn=KDE;\n"));
        d.writeEntry(d.systemApplications(1), "org.example.Link",
                     "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.com/\n");
    }));

TEST(InstalledApps, ScanListsShownEntriesOnceSortedWithoutRegardToCaseWithTheirIconNames) {
    EXPECT_THAT(scanApplicationBundles(),
                ElementsAre(AppBundleInfo{"Alpha Beta", "org.example.Alpha", "alphabeta"},
                            AppBundleInfo{"Banana", "org.example.Banana", "banana"},
                            AppBundleInfo{"org.example.Nameless", "org.example.Nameless",
                                          "org.example.nameless"},
                            AppBundleInfo{"zeta app", "org.example.Zeta", "zetaapp"}));
    EXPECT_EQ(iconNameForLabel("Über Tool  X"), "übertoolx");
}

TEST(InstalledApps, LoadResolvesEachRecordAndLeavesOutWhatTheWorkspaceCannotFind) {
    test::IoThread io;
    InstalledAppsSource source = linuxInstalledAppsSource();
    const auto scan = source.scanApplicationBundles;
    source.scanApplicationBundles = [scan] {
        auto records = scan();
        // Scanned, but not installed: no entry at all, and an entry that hides itself.
        records.push_back({"Phantom", "org.example.Phantom", "phantom"});
        records.push_back({"Gone", "org.example.Gone", "gone"});
        return records;
    };

    const auto apps =
        io.run(loadInstalledApps(makeLinuxWorkspaceClient(io.pool()), source, io.pool()));
    std::vector<std::string> ids;
    for (const auto& app : apps) ids.push_back(app.bundleId);
    EXPECT_THAT(ids, ElementsAre("org.example.Alpha", "org.example.Banana", "org.example.Nameless",
                                 "org.example.Zeta"));

    const auto& alpha = apps.front();
    EXPECT_EQ(alpha.label, "Alpha Beta");
    EXPECT_EQ(std::pair(alpha.icon.width, alpha.icon.height), std::pair(64, 64));
    ASSERT_TRUE(alpha.icon.isValid());
    EXPECT_EQ(alpha.icon.pixels[0], 255);  // red, opaque
    EXPECT_EQ(alpha.icon.pixels[3], 255);
    EXPECT_NEAR(alpha.accent.red, 1.0, 0.01);
    // No icon anywhere (not even a generic one in this sandbox): transparent, default accent.
    EXPECT_TRUE(apps[1].icon.isValid());
    EXPECT_EQ(apps[1].accent, defaultAccent());
}

}  // namespace
}  // namespace velopad
