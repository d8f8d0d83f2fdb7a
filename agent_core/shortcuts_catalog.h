#pragma once
// The user's Shortcuts as the deck editor offers them: the tool's "list --show-identifiers"
// output, one "Name (IDENTIFIER)" line per Shortcut, read into name and identifier.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_core/async.h"
#include "agent_core/process_running.h"
#include "agent_core/shortcuts_catalog_error.h"

namespace velopad {

struct CatalogShortcut {
    std::string name;        // the display name
    std::string identifier;  // the UUID in the 8-4-4-4-12 form, as the tool prints it

    [[nodiscard]] const std::string& id() const noexcept { return identifier; }

    friend bool operator==(const CatalogShortcut&, const CatalogShortcut&) = default;
};

class ShortcutsCatalog {
  public:
    // The suggested voice-prompt Shortcut (the hero recipe).
    static constexpr std::string_view heroRecipePreferredName = "Velopad \u2014 Voice in Cursor";
    static constexpr std::string_view heroRecipeDisplayName = "Voice prompt in Cursor";
    static constexpr std::string_view heroRecipeSymbolName = "mic.fill";

    // How long "list" may take before it is stopped.
    static constexpr double defaultListTimeout = 15;

    // `executable` is the tool's path (see defaultShortcutsExecutable()); `runner` starts it.
    ShortcutsCatalog(std::string executable, std::shared_ptr<ProcessRunning> runner,
                     double listTimeout = defaultListTimeout);

    // The Shortcuts in the tool's order; lines that do not parse are skipped. Throws
    // ShortcutsCatalogError (executableMissing before anything is started; listFailed when the
    // tool times out or exits non-zero) or the runner's std::system_error when it cannot start.
    // Safe to call concurrently; the catalog may be destroyed while a listing runs.
    Task<std::vector<CatalogShortcut>> list() const;

    static std::vector<CatalogShortcut> parseListOutput(std::string_view output);
    static std::optional<CatalogShortcut> parseListLine(std::string_view line);
    // 36 characters: hexadecimal groups of 8, 4, 4, 4 and 12 digits (either case) joined by "-".
    static bool isShortcutIdentifier(std::string_view text);
    // The entry named exactly heroRecipePreferredName, else the first whose name contains
    // "voice" and "cursor" in any letter case, else nothing.
    static std::optional<CatalogShortcut> findHero(const std::vector<CatalogShortcut>& shortcuts);

    [[nodiscard]] const std::string& executable() const noexcept { return executable_; }

  private:
    std::string executable_;
    std::shared_ptr<ProcessRunning> runner_;
    double listTimeout_;
};

}  // namespace velopad

template <>
struct std::hash<velopad::CatalogShortcut> {
    std::size_t operator()(const velopad::CatalogShortcut& shortcut) const noexcept;
};
