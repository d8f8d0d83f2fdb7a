#pragma once
// The agent ships as two programs: "velopad-agent" (the terminal front end, which starts the
// desktop program when there is a display) and "velopad-agent-desktop" (the tray). Each finds
// the other beside itself in a build tree, or in the installed layout bin/ and
// libexec/velopad-agent/.

#include <filesystem>
#include <optional>

namespace velopad {

inline constexpr const char* launcherProgramName = "velopad-agent";
inline constexpr const char* desktopProgramName = "velopad-agent-desktop";

// This process's executable (/proc/self/exe resolved).
std::filesystem::path currentExecutable();

// The desktop program that belongs with the launcher at `launcher`, if it exists.
std::optional<std::filesystem::path> desktopProgramFor(const std::filesystem::path& launcher);

// The launcher that belongs with the desktop program at `desktop`, if it exists.
std::optional<std::filesystem::path> launcherProgramFor(const std::filesystem::path& desktop);

}  // namespace velopad
