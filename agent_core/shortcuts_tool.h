#pragma once
// Where the Shortcuts command-line tool lives: `velopad-shortcuts`, installed beside the agent.
// It answers "list --show-identifiers" with one "Name (IDENTIFIER)" line per Shortcut and
// "run <identifier>" with the Shortcut's own exit status and standard error.

#include <string>

namespace velopad {

inline constexpr const char* shortcutsToolName = "velopad-shortcuts";

// The tool in the directory of the running executable (/proc/self/exe); empty if that
// directory cannot be found.
std::string defaultShortcutsExecutable();

// True for a regular file this process may execute.
bool isExecutableFile(const std::string& path);

}  // namespace velopad
