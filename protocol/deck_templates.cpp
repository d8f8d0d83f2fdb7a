#include "protocol/deck_templates.h"

#include <string>
#include <vector>

#include "protocol/deck_tile_factories.h"

namespace velopad::DeckTemplates {
namespace {

using Ids = std::vector<std::string>;

// One row per application that both templates share; slots are given by each template.
DeckTile obs(int slot) {
    return appTile(slot, "OBS", "com.obsproject.obs-studio", "obs",
                   Ids{"com.obsproject.OBS", "com.obsproject.Studio"});
}
DeckTile discord(int slot) {
    return appTile(slot, "Discord", "com.hnc.Discord", "discord",
                   Ids{"com.discord.Discord", "com.discordapp.Discord", "discord"});
}
DeckTile safari(int slot) { return appTile(slot, "Safari", "com.apple.Safari", "safari"); }
DeckTile spotify(int slot) {
    return appTile(slot, "Spotify", "com.spotify.client", "spotify",
                   Ids{"com.spotify.Client", "spotify"});
}
DeckTile messages(int slot) { return appTile(slot, "Messages", "com.apple.MobileSMS", "messages"); }
DeckTile music(int slot) { return appTile(slot, "Music", "com.apple.Music", "music"); }
DeckTile terminal(int slot) {
    return appTile(slot, "Terminal", "com.apple.Terminal", "terminal",
                   Ids{"org.gnome.Terminal", "org.gnome.Console", "org.kde.konsole"});
}
DeckTile finder(int slot) { return appTile(slot, "Finder", "com.apple.finder", "finder"); }
DeckTile settings(int slot) {
    return appTile(slot, "Settings", "com.apple.systempreferences", "settings",
                   Ids{"com.apple.SystemPreferences", "org.gnome.Settings", "gnome-control-center",
                       "systemsettings"});
}

DeckTemplate makeStreaming() {
    return DeckTemplate(
        "streaming", "Streaming",
        {obs(1), discord(2),
         appTile(3, "Chrome", "com.google.Chrome", "chrome", Ids{"google-chrome"}), safari(4),
         spotify(5), appTile(6, "Twitch", "com.twitch.desktop", "twitch"),
         appTile(7, "Streamlabs", "com.streamlabs.desktop", "streamlabs"), messages(8), music(9),
         terminal(10), finder(11), settings(12)});
}

DeckTemplate makeGaming() {
    return DeckTemplate(
        "gaming", "Gaming",
        {appTile(1, "Steam", "com.valvesoftware.steam", "steam",
                 Ids{"com.valvesoftware.Steam", "steam"}),
         discord(2), appTile(3, "GeForce NOW", "com.nvidia.geforcenow", "geforcenow"),
         appTile(4, "Epic Games", "com.epicgames.EpicGamesLauncher", "epic"), safari(5),
         messages(6), spotify(7), obs(8), terminal(9), finder(10), music(11), settings(12)});
}

}  // namespace

const DeckTemplate& streaming() {
    static const DeckTemplate deck = makeStreaming();
    return deck;
}

const DeckTemplate& gaming() {
    static const DeckTemplate deck = makeGaming();
    return deck;
}

const DeckTemplate& templateFor(DeckCategoryID category) {
    return category == DeckCategoryID::gaming ? gaming() : streaming();
}

}  // namespace velopad::DeckTemplates
