#pragma once
// The names desktops give the systemd units an application runs in, after the freedesktop
// convention: "app[-<launcher>]-<id>-<random>.scope" or "app[-<launcher>]-<id>[@<random>].service"
// (GNOME Shell: "app-gnome-org.gnome.Nautilus-1234.scope"; KDE:
// "app-org.kde.dolphin@a1b2.service"), and Snap's "snap.<snap>.<app>-<uuid>.scope" for the
// desktop-file ID "<snap>_<app>".

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velopad {

// `text` escaped for a unit name the way systemd does: bytes other than ASCII letters, digits,
// ":", "_" and "." (and a leading ".") become "\xNN" ("google-chrome" → "google\x2dchrome").
std::string systemdUnitEscaped(std::string_view text);

// The scope an application started by `launcher` gets: "app-<launcher>-<escaped id>-<n>.scope";
// nothing when the ID is empty or the name would pass systemd's limit of 255 bytes.
std::optional<std::string> applicationScopeName(std::string_view launcher,
                                                std::string_view applicationId, unsigned long n);

// The desktop-file IDs (without ".desktop") that the unit may name, escapes undone; "-" in an ID
// may be written either escaped or plainly, so a name can read several ways. Empty for units
// that are not application units.
std::vector<std::string> applicationIdsOfUnit(std::string_view unit);

// Whether `unit` is a unit desktops use for an instance of `applicationId`.
bool unitNamesApplication(std::string_view unit, std::string_view applicationId);

}  // namespace velopad
