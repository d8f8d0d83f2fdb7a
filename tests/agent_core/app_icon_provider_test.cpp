// Application icons: rendered from desktop entries through a private icon theme, cached per
// bundle identifier and the desktop entry's modification time.

#include "agent_core/app_icon_provider.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "platform/linux/icon_render_sources.h"
#include "tests/support/icon_test_support.h"
#include "tests/support/io_thread.h"

namespace velopad {
namespace {

namespace fs = std::filesystem;

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
        WorkspaceClient client;
        client.urlForApplication = [this](std::string bundleId) {
            return lookUpIn(&installed, std::move(bundleId));
        };
        return client;
    }
    std::optional<IconPng> icon(const std::string& bundleId) {
        return io.run(provider.pngAndRevision(bundleId, workspace()));
    }
    std::uint32_t centre(const std::optional<IconPng>& png) {
        return png ? testing::decodePng(png->pngData)->pixel(64, 64) : 0;
    }
    void install(const std::string& id, const std::optional<std::string>& iconName) {
        installed[id] = icons.writeApplication(id, iconName);
    }
};

TEST_F(AppIconProviderTest, RendersTheThemeIconAsA128PixelPngWithItsSha256AsRevision) {
    testing::writeSolidSvg(icons.hicolor() / "scalable/apps/org.example.Editor.svg", 32, 32,
                           "#3366ff");
    install("org.example.Editor", "org.example.Editor");
    const auto result = icon("org.example.Editor");
    ASSERT_TRUE(result);
    EXPECT_EQ(testing::decodePng(result->pngData)->width, 128);
    EXPECT_EQ(centre(result), 0x3366FFFFU);
    EXPECT_EQ(result->revision, testing::sha256Hex(result->pngData));
    EXPECT_EQ(io.run(provider.revision("org.example.Editor", workspace())), result->revision);
}

TEST_F(AppIconProviderTest, ServesRepeatedRequestsFromTheCacheUntilTheEntryOrItsIconChanges) {
    testing::writeSolidPng(icons.hicolor() / "48x48/apps/player.png", 48, 48, 0x00AA00);
    install("org.example.Player", "player");
    const auto first = icon("org.example.Player");
    ASSERT_TRUE(first);
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

TEST_F(AppIconProviderTest, UninstalledApplicationsGiveNothingAndKeepTheirOldEntry) {
    testing::writeSolidPng(icons.hicolor() / "128x128/apps/tool.png", 128, 128, 0x123456);
    install("org.example.Tool", "tool");
    const auto first = icon("org.example.Tool");
    ASSERT_TRUE(first);
    const fs::path entry = installed["org.example.Tool"];

    installed.erase("org.example.Tool");
    EXPECT_EQ(icon("org.example.Tool"), std::nullopt);

    installed["org.example.Tool"] = entry;
    EXPECT_EQ(icon("org.example.Tool"), first);
    EXPECT_EQ(renders, 1);
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

}  // namespace
}  // namespace velopad
