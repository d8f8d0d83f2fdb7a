#pragma once
// The "Start at login" switch: a desktop entry in $XDG_CONFIG_HOME/autostart (XDG Autostart
// Specification) that the session starts at login.

#include <filesystem>

namespace velopad {

// $XDG_CONFIG_HOME/autostart/velopad-agent.desktop, with $HOME/.config standing in for an
// unset, empty or relative XDG_CONFIG_HOME. Reads the environment on every call.
std::filesystem::path autostartEntryPath();

// Whether the session starts the agent at login: the entry exists and is neither hidden nor
// switched off.
bool isAutostartEnabled(const std::filesystem::path& entry = autostartEntryPath());

// Writes the entry, starting `program` at login (creating the autostart folder), or removes
// it. Throws std::system_error when the file cannot be written or removed.
void setAutostartEnabled(bool enabled, const std::filesystem::path& program,
                         const std::filesystem::path& entry = autostartEntryPath());

}  // namespace velopad
