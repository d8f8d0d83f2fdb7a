#include "protocol/deck_template_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/deck_templates.h"
#include "protocol/deck_tile_factories.h"

namespace velopad {
namespace {

using DeckTemplateFilter::memberOf;
using Ids = std::vector<std::string>;

Ids bundleIdsOf(const std::vector<DeckTile>& tiles) {
    Ids ids;
    for (const DeckTile& tile : tiles) ids.push_back(tile.bundleId);
    return ids;
}

TEST(DeckTemplateFilterTest, CandidatesAreTheBundleIdThenTheAlternates) {
    const DeckTile tile = appTile(1, "Discord", "com.hnc.Discord", "discord", Ids{"x", "y"});
    EXPECT_EQ(DeckTemplateFilter::candidateBundleIds(tile), (Ids{"com.hnc.Discord", "x", "y"}));
    EXPECT_EQ(DeckTemplateFilter::firstInstalledBundleId(tile, memberOf({"y", "x"})), "x");
    EXPECT_EQ(DeckTemplateFilter::firstInstalledBundleId(tile, memberOf({})), std::nullopt);
}

TEST(DeckTemplateFilterTest, DiscordTileFallsBackToAnInstalledAlternateOrIsDropped) {
    const std::vector<DeckTile> tiles = DeckTemplates::gaming().tiles;
    const auto dropped = DeckTemplateFilter::resolveInstalledTiles(tiles, memberOf({"steam"}));
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0].label, "Steam");

    const auto replaced =
        DeckTemplateFilter::resolveInstalledTiles(tiles, memberOf({"com.discord.Discord"}));
    ASSERT_EQ(replaced.size(), 1u);
    EXPECT_EQ(replaced[0].id, "com.discord.Discord");
    EXPECT_EQ(replaced[0].bundleId, "com.discord.Discord");
    EXPECT_EQ(replaced[0].slot, 2);
    EXPECT_EQ(replaced[0].iconName, "discord");
    EXPECT_EQ(replaced[0].alternateBundleIds, tiles[1].alternateBundleIds);
}

TEST(DeckTemplateFilterTest, StreamingTemplateFitsATypicalLinuxDesktop) {
    const auto installed =
        memberOf({"com.obsproject.Studio", "discord", "google-chrome", "com.spotify.Client",
                  "org.gnome.Console", "org.kde.konsole", "gnome-control-center"});
    const auto tiles =
        DeckTemplateFilter::resolveInstalledTiles(DeckTemplates::streaming().tiles, installed);
    EXPECT_EQ(bundleIdsOf(tiles),
              (Ids{"com.obsproject.Studio", "discord", "google-chrome", "com.spotify.Client",
                   "org.gnome.Console", "gnome-control-center"}));
    std::vector<std::int64_t> slots;
    for (const DeckTile& tile : tiles) slots.push_back(tile.slot);
    EXPECT_EQ(slots, (std::vector<std::int64_t>{1, 2, 3, 5, 10, 12}));  // gaps stay
    EXPECT_EQ(tiles[4].id, "org.gnome.Console");
    EXPECT_EQ(tiles[4].label, "Terminal");
}

TEST(DeckTemplateFilterTest, ActionAndShortcutTilesPassUnchanged) {
    const std::vector<DeckTile> tiles{
        actionTile(BuiltinAction::volumeMute, 1),
        shortcutTile(2, "Lights", "0A1B2C3D-0000-4000-8000-00000000000A", "lightbulb"),
        appTile(3, "Files", "org.gnome.Nautilus")};
    const auto resolved = DeckTemplateFilter::resolveInstalledTiles(tiles, memberOf({}));
    EXPECT_EQ(resolved, (std::vector<DeckTile>{tiles[0], tiles[1]}));
}

TEST(DeckTemplateFilterTest, SnapshotListsRunningAppTilesInTileOrder) {
    const DeckTemplate deck(
        "streaming", "Streaming",
        {appTile(1, "OBS", "obs", std::nullopt, Ids{"com.obsproject.Studio"}),
         actionTile(BuiltinAction::volumeUp, 2), appTile(3, "Chrome", "google-chrome"),
         appTile(4, "Chrome again", "google-chrome")});
    const auto installed = memberOf({"com.obsproject.Studio", "google-chrome"});
    const DeckSnapshotPayload snapshot =
        DeckTemplateFilter::makeSnapshot(deck, installed, installed);
    EXPECT_EQ(snapshot.deckId, "streaming");
    EXPECT_EQ(snapshot.name, "Streaming");
    EXPECT_EQ(snapshot.tiles.size(), 4u);
    EXPECT_EQ(snapshot.runningBundleIds,
              (Ids{"com.obsproject.Studio", "google-chrome", "google-chrome"}));
    EXPECT_TRUE(snapshot.iconRevisions.empty());

    const auto nothingRuns = [](std::string_view) { return false; };
    EXPECT_TRUE(
        DeckTemplateFilter::makeSnapshot(deck, installed, nothingRuns).runningBundleIds.empty());
    const auto everythingRuns = [](std::string_view) { return true; };
    EXPECT_EQ(
        DeckTemplateFilter::makeSnapshot(deck, installed, everythingRuns).runningBundleIds.size(),
        3u);  // never the action tile
}

}  // namespace
}  // namespace velopad
