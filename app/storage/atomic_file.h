#pragma once
// Whole-file reads and crash-safe whole-file replacement for the agent's small JSON files.
//
// A replacement writes a temporary file in the same directory, flushes it to disk, renames it
// over the target and flushes the directory, so a reader sees either the old or the new
// content, never a torn mix, even across a power loss.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velopad {

// Creates `directory` and any missing parents with mode 0700 (XDG Base Directory
// Specification); existing directories are left as they are. Throws std::system_error.
void createPrivateDirectories(const std::filesystem::path& directory);

// Flushes a directory to disk so that a rename inside it survives a power loss. Throws
// std::system_error.
void flushDirectory(const std::filesystem::path& directory);
using DirectoryFlush = std::function<void(const std::filesystem::path&)>;

// Replaces `path` with `content`. The new file gets exactly the permission bits `mode`
// (independent of the umask). The directory must exist. On failure the previous file is
// untouched, no temporary file is left behind, and std::system_error is thrown. Temporary files
// that earlier writes of `path` left when the process was killed are removed first; the caller
// must not write one file from two places at once.
//
// Once the rename has happened the new content is what every reader sees, so the write counts
// as done: a failure to flush the directory afterwards is returned as a description for the
// caller to log, not thrown.
std::optional<std::string> writeFileAtomically(
    const std::filesystem::path& path, std::string_view content,
    std::filesystem::perms mode = std::filesystem::perms::owner_read |
                                  std::filesystem::perms::owner_write,
    const DirectoryFlush& flush = flushDirectory);

// The whole content of `path`, or none when the file does not exist. Other failures (no
// permission, a directory in its place, an I/O error) throw std::system_error.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

// Moves a file that could not be understood out of the way so the next write does not destroy
// it: renames `path` to "<name>.corrupt" in the same directory, replacing an older one.
// Returns the new path. Throws std::system_error when the rename fails.
std::filesystem::path setAsideUnreadableFile(const std::filesystem::path& path);

// Keeps a copy of a file that could not be understood as "<name>.corrupt" in the same
// directory (replacing an older one) before the caller overwrites it; falls back to renaming
// when the file cannot be copied (for example, when it cannot be read). Returns the path of
// the kept file. Throws std::system_error when neither works.
std::filesystem::path keepCopyOfUnreadableFile(const std::filesystem::path& path);

}  // namespace velopad
