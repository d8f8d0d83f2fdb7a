#pragma once
// The parts of the freedesktop Desktop Entry Specification (version 1.5) that a Shortcut file
// uses: the keys of the [Desktop Entry] group, string escapes, and the Exec key's quoting and
// field codes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velopad::shortcuts_tool {

struct DesktopEntry {
    std::string name;                 // Name
    std::string exec;                 // Exec, string escapes already resolved
    std::optional<std::string> icon;  // Icon
    std::optional<std::string> path;  // Path: the working directory to run in
    bool hidden = false;              // Hidden=true: the entry counts as deleted
};

// Reads the [Desktop Entry] group of a file's text. Localised keys (Name[de]) and other
// groups are ignored; of a repeated key the first one counts.
DesktopEntry parseDesktopEntry(std::string_view text);

// String values: "\s", "\n", "\t", "\r" and "\\" stand for blank, line feed, tab, carriage
// return and backslash.
std::string unescapeValue(std::string_view value);
std::string escapeValue(std::string_view value);

// The argument vector of an Exec value (escapes already resolved): arguments separated by
// blanks, double-quoted arguments with \" \` \$ \\ inside, field codes expanded for a launch
// without files (%f %F %u %U removed, %i → --icon <Icon>, %c → Name, %k → `filePath`, %% → %).
// Yields nothing for an empty command, an unterminated quote or an unknown field code.
std::optional<std::vector<std::string>> execArguments(std::string_view exec,
                                                      const DesktopEntry& entry,
                                                      const std::string& filePath);

// The Exec value (before string escaping) that execArguments() turns back into `arguments`.
std::string execValue(const std::vector<std::string>& arguments);

}  // namespace velopad::shortcuts_tool
