#include "protocol/mac_icon_sync_policy.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "protocol/deck_tile_factories.h"

namespace velopad {
namespace {

namespace policy = MacIconSyncPolicy;
using Ids = std::vector<std::string>;

constexpr const char* kUpper = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
constexpr const char* kLower = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";

TEST(MacIconSyncPolicyTest, ShortcutIdentifiersAreGroupedHexadecimal) {
    EXPECT_TRUE(policy::isShortcutIdentifier(kUpper));
    EXPECT_TRUE(policy::isShortcutIdentifier(kLower));
    EXPECT_EQ(policy::iconCacheKey(kUpper), kLower);
    EXPECT_EQ(policy::iconCacheKey("com.apple.Safari"), "com.apple.Safari");
    for (const char* text : {
             "0A1B2C3D4-E5F-4A6B-8C7D-9E0F1A2B3C4D",   // hyphens moved
             "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4G",   // a "g"
             "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4",    // 35 characters
             "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D-",  // 37 characters
             "",
         })
        EXPECT_FALSE(policy::isShortcutIdentifier(text)) << text;
}

TEST(MacIconSyncPolicyTest, KeysRequestIdentifiersAndRevisionsByTileKind) {
    const DeckTile app = appTile(1, "Chrome", "google-chrome");
    const DeckTile shortcut = shortcutTile(2, "Lights", kUpper, "lightbulb");
    EXPECT_EQ(policy::iconKey(app), "google-chrome");
    EXPECT_EQ(policy::iconKey(shortcut), kLower);
    for (const DeckTile& tile : {actionTile(BuiltinAction::volumeUp, 3), appTile(4, "None", ""),
                                 shortcutTile(5, "None", "", "lightbulb")}) {
        EXPECT_EQ(policy::iconKey(tile), std::nullopt) << tile.label;
        EXPECT_EQ(policy::requestIdentifier(tile, {}), std::nullopt) << tile.label;
    }
    EXPECT_EQ(policy::requestIdentifier(shortcut, {}), kUpper);
    EXPECT_EQ(policy::requestIdentifier(shortcut, {{kLower, "r1"}}), kLower);

    // Revisions are found under the exact key, then in lower case.
    const policy::IconRevisions revisions{
        {"Org.Example.App", "mixed"}, {kLower, "lower"}, {"google-chrome", "exact"}};
    EXPECT_EQ(policy::revision("google-chrome", revisions), "exact");
    EXPECT_EQ(policy::revision(kUpper, revisions), "lower");
    EXPECT_EQ(policy::revision("org.example.app", revisions), "mixed");
    EXPECT_EQ(policy::revision("missing", revisions), std::nullopt);
}

TEST(MacIconSyncPolicyTest, MissingAndStaleIconsAreRequestedOnce) {
    const std::vector<DeckTile> tiles{
        appTile(1, "Cached", "cached.app"),
        appTile(2, "Stale", "stale.app"),
        appTile(3, "Unrevised", "unrevised.app"),  // cached, no revision known
        appTile(4, "Missing", "missing.app"),
        appTile(5, "Missing twice", "missing.app"),
        shortcutTile(6, "Lights", kUpper, "lightbulb"),
        actionTile(BuiltinAction::volumeMute, 7)};
    const policy::IconRevisions revisions{
        {"cached.app", "r1"}, {"stale.app", "r2"}, {kLower, "r3"}};
    const std::set<std::string> cached{"cached.app", "stale.app", "unrevised.app"};
    const auto hasIcon = [&](const std::string& key) { return cached.count(key) > 0; };
    const auto isStale = [](const std::string&, const std::string& rev) { return rev == "r2"; };

    Ids needed = policy::identifiersNeedingIcons(tiles, revisions, hasIcon, isStale);
    std::sort(needed.begin(), needed.end());
    EXPECT_EQ(needed, (Ids{kLower, "missing.app", "stale.app"}));
}

TEST(MacIconSyncPolicyTest, BatchesAreSortedAndCutBySize) {
    Ids identifiers;
    for (int i = 25; i >= 1; --i) identifiers.push_back("app." + std::to_string(100 + i));
    const auto batches = policy::requestBatches(identifiers);
    ASSERT_EQ(batches.size(), 3u);
    EXPECT_EQ(batches[0].front(), "app.101");
    EXPECT_EQ(batches[2], Ids{"app.125"});  // 12, 12 and 1
    EXPECT_EQ(policy::requestBatches(identifiers, 0), std::vector<Ids>{identifiers});  // as given
}

}  // namespace
}  // namespace velopad
