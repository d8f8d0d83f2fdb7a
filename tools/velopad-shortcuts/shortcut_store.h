#pragma once
// The user's Shortcuts on this computer: one desktop-entry file <UUID>.desktop per Shortcut in
// $XDG_DATA_HOME/HarborlinkAgent/Shortcuts (XDG_DATA_HOME defaults to ~/.local/share).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "desktop_entry.h"

namespace velopad::shortcuts_tool {

struct StoredShortcut {
    std::string identifier;  // the file's name without ".desktop"
    std::filesystem::path file;
    DesktopEntry entry;
};

class ShortcutStore {
  public:
    // The directory named above, from the current environment.
    static std::filesystem::path defaultDirectory();

    explicit ShortcutStore(std::filesystem::path directory) : directory_(std::move(directory)) {}

    // Every Shortcut with a name, ordered by name, then identifier. A missing directory holds none.
    [[nodiscard]] std::vector<StoredShortcut> list() const;

    // The Shortcut with this identifier: the exact file name first, then letter case ignored.
    // An identifier with "/" (or empty) never resolves, so nothing outside the directory is read.
    [[nodiscard]] std::optional<StoredShortcut> find(const std::string& identifier) const;

    // Writes a new Shortcut and returns its identifier, a fresh upper-case UUID.
    // Throws std::runtime_error when the name is unusable or the file cannot be written.
    std::string create(const std::string& name, const std::vector<std::string>& command,
                       const std::optional<std::string>& icon) const;

    // Changes the Shortcut's name, icon (empty: none) or command, each only when given; other
    // lines of the file stay as they are. False when there is none with that identifier.
    // Throws std::runtime_error like create.
    bool update(const std::string& identifier, const std::optional<std::string>& name,
                const std::optional<std::string>& icon,
                const std::optional<std::vector<std::string>>& command) const;

    // Removes the Shortcut; false when there is none with that identifier.
    bool remove(const std::string& identifier) const;

    // Why the folder's Shortcuts must not be run (another user can change the folder, or it
    // is not the user's own), or nothing when they may be. A missing folder is safe.
    [[nodiscard]] std::optional<std::string> unsafeFolderReason() const;

    [[nodiscard]] const std::filesystem::path& directory() const noexcept { return directory_; }

    // The same question for one Shortcut's file.
    static std::optional<std::string> unsafeFileReason(const std::filesystem::path& file);

  private:
    void writeAtomically(const std::string& identifier, const std::string& text) const;
    std::optional<StoredShortcut> load(const std::filesystem::path& file) const;

    std::filesystem::path directory_;
};

}  // namespace velopad::shortcuts_tool
