#pragma once
// Desktop entries (freedesktop Desktop Entry Specification) as GIO finds them through the XDG
// data directories. An application's identifier is its desktop-file ID without ".desktop".
//
// GIO reads XDG_DATA_HOME and XDG_DATA_DIRS once per process, at its first use; everything here
// blocks on file I/O, so call it from a worker thread.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velopad {

struct DesktopEntry {
    std::string id;                                   // "org.gnome.Nautilus"
    std::filesystem::path file;                       // the .desktop file GIO chose for the ID
    std::string name;                                 // the entry's Name (localized)
    std::optional<std::filesystem::path> executable;  // Exec's program, resolved and canonical
    std::vector<std::string> arguments;  // Exec's arguments to it, field codes ("%U") left out
    std::optional<std::string> startupWMClass;  // StartupWMClass, when set
    bool shown = false;            // whether menus show it (NoDisplay, OnlyShowIn, NotShowIn)
    bool dbusActivatable = false;  // DBusActivatable=true
};

// Identifiers that may name a desktop entry: not empty, no "/", no "..", no control characters
// and valid UTF-8. Anything else never resolves, whatever the file system holds.
bool isAcceptableDesktopId(std::string_view id);

// The entry with this identifier, or nothing when none is listed (unacceptable identifier, no
// such file, Hidden=true, TryExec not found, or not a valid application entry).
std::optional<DesktopEntry> findDesktopEntry(std::string_view id);

// The entry stored in `file`, when it is the entry GIO lists for its own ID (so a file outside
// the XDG data directories, or one masked by another, never counts).
std::optional<DesktopEntry> listedDesktopEntryAt(const std::filesystem::path& file);

// Every listed application entry (hidden ones left out), each ID once, in GIO's order.
std::vector<DesktopEntry> listDesktopEntries();

}  // namespace velopad
