#pragma once
// Where the agent keeps its files: "$XDG_DATA_HOME/HarborlinkAgent" (XDG Base Directory
// Specification), with "~/.local/share" standing in for an unset, empty or relative
// XDG_DATA_HOME.

#include <filesystem>

namespace velopad {

// The user's data directory: $XDG_DATA_HOME when it is an absolute path, otherwise
// $HOME/.local/share (the home directory from the password database when HOME is unset), or
// the temporary directory when there is no home at all. Reads the environment on every call.
std::filesystem::path userDataDirectory();

// userDataDirectory() / "HarborlinkAgent". Not created here.
std::filesystem::path agentDataDirectory();

}  // namespace velopad
