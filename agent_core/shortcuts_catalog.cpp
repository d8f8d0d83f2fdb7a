#include "agent_core/shortcuts_catalog.h"

#include <algorithm>
#include <utility>

#include "agent_core/shortcut_text.h"
#include "agent_core/shortcuts_tool.h"

namespace velopad {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool containsIgnoringCase(std::string_view text, std::string_view lowercaseWord) {
    return asciiLowercase(text).find(lowercaseWord) != std::string::npos;
}

Task<std::vector<CatalogShortcut>> listWith(std::string executable,
                                            std::shared_ptr<ProcessRunning> runner,
                                            double timeout) {
    if (!isExecutableFile(executable)) {
        throw ShortcutsCatalogError(ShortcutsCatalogErrorCode::executableMissing);
    }
    std::vector<std::string> arguments{"list", "--show-identifiers"};
    const ProcessRunResult result = co_await runner->run(executable, std::move(arguments), timeout);
    if (result.timedOut || result.exitCode != 0) {
        throw ShortcutsCatalogError(ShortcutsCatalogErrorCode::listFailed, result.exitCode,
                                    result.stderrText);
    }
    co_return ShortcutsCatalog::parseListOutput(result.stdoutText);
}

}  // namespace

ShortcutsCatalog::ShortcutsCatalog(std::string executable, std::shared_ptr<ProcessRunning> runner,
                                   double listTimeout)
    : executable_(std::move(executable)), runner_(std::move(runner)), listTimeout_(listTimeout) {}

Task<std::vector<CatalogShortcut>> ShortcutsCatalog::list() const {
    // The work holds copies, so it never reaches back into this object.
    return listWith(executable_, runner_, listTimeout_);
}

std::vector<CatalogShortcut> ShortcutsCatalog::parseListOutput(std::string_view output) {
    std::vector<CatalogShortcut> shortcuts;
    for (const std::string_view piece : splitAtLineBreaks(output)) {
        const std::string_view line = trimWhitespaceAndLineBreaks(piece);
        if (line.empty()) {
            continue;
        }
        if (auto shortcut = parseListLine(line)) {
            shortcuts.push_back(std::move(*shortcut));
        }
    }
    return shortcuts;
}

std::optional<CatalogShortcut> ShortcutsCatalog::parseListLine(std::string_view line) {
    line = trimWhitespaceAndLineBreaks(line);
    if (line.empty() || line.back() != ')') {
        return std::nullopt;
    }
    const std::size_t open = line.rfind('(');
    if (open == std::string_view::npos || open == 0) {
        return std::nullopt;
    }
    const std::string_view identifier =
        trimWhitespaceAndLineBreaks(line.substr(open + 1, line.size() - 1 - (open + 1)));
    if (!isShortcutIdentifier(identifier)) {
        return std::nullopt;
    }
    const std::string_view name = trimWhitespaceAndLineBreaks(line.substr(0, open));
    if (name.empty()) {
        return std::nullopt;
    }
    return CatalogShortcut{std::string(name), std::string(identifier)};
}

bool ShortcutsCatalog::isShortcutIdentifier(std::string_view text) {
    static constexpr std::size_t groupLengths[] = {8, 4, 4, 4, 12};
    if (text.size() != 36) {
        return false;
    }
    std::size_t position = 0;
    for (std::size_t group = 0; group < std::size(groupLengths); ++group) {
        for (std::size_t index = 0; index < groupLengths[group]; ++index, ++position) {
            if (!isHexDigit(text[position])) {
                return false;
            }
        }
        if (group + 1 < std::size(groupLengths)) {
            if (text[position] != '-') {
                return false;
            }
            ++position;
        }
    }
    return position == text.size();
}

std::optional<CatalogShortcut> ShortcutsCatalog::findHero(
    const std::vector<CatalogShortcut>& shortcuts) {
    const auto exact =
        std::find_if(shortcuts.begin(), shortcuts.end(),
                     [](const CatalogShortcut& s) { return s.name == heroRecipePreferredName; });
    if (exact != shortcuts.end()) {
        return *exact;
    }
    const auto fuzzy =
        std::find_if(shortcuts.begin(), shortcuts.end(), [](const CatalogShortcut& s) {
            return containsIgnoringCase(s.name, "voice") && containsIgnoringCase(s.name, "cursor");
        });
    if (fuzzy != shortcuts.end()) {
        return *fuzzy;
    }
    return std::nullopt;
}

}  // namespace velopad

std::size_t std::hash<velopad::CatalogShortcut>::operator()(
    const velopad::CatalogShortcut& shortcut) const noexcept {
    const std::size_t nameHash = std::hash<std::string>{}(shortcut.name);
    const std::size_t identifierHash = std::hash<std::string>{}(shortcut.identifier);
    return nameHash ^ (identifierHash + 0x9E3779B97F4A7C15ULL + (nameHash << 6) + (nameHash >> 2));
}
