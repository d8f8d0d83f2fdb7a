#include "agent_core/shortcuts_catalog_error.h"

#include <utility>

#include "agent_core/shortcut_text.h"

namespace velopad {

ShortcutsCatalogError::ShortcutsCatalogError(ShortcutsCatalogErrorCode code, std::int32_t exitCode,
                                             std::string stderrText)
    : std::runtime_error(describe(code, exitCode, stderrText)),
      code_(code),
      exitCode_(exitCode),
      stderrText_(std::move(stderrText)) {}

std::string ShortcutsCatalogError::describe(ShortcutsCatalogErrorCode code, std::int32_t exitCode,
                                            const std::string& stderrText) {
    switch (code) {
        case ShortcutsCatalogErrorCode::executableMissing:
            return "The shortcuts CLI is not available on this Mac.";
        case ShortcutsCatalogErrorCode::listFailed: {
            const std::string_view trimmed = trimWhitespaceAndLineBreaks(stderrText);
            if (!trimmed.empty()) {
                return "Could not list Shortcuts: " + std::string(trimmed);
            }
            return "Could not list Shortcuts (exit " + std::to_string(exitCode) + ").";
        }
        case ShortcutsCatalogErrorCode::parseFailed:
            return "Could not parse the Shortcuts list.";
    }
    return {};
}

}  // namespace velopad
