#include "protocol/mac_icon_sync_policy.h"

#include <algorithm>
#include <array>
#include <set>

namespace velopad::MacIconSyncPolicy {
namespace {

std::string asciiLowercased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The first key of `revisions` equal to `identifier` when both are lower-cased.
const std::string* caseInsensitiveKey(std::string_view identifier, const IconRevisions& revisions) {
    const std::string lower = asciiLowercased(identifier);
    for (const auto& entry : revisions) {
        if (asciiLowercased(entry.first) == lower) return &entry.first;
    }
    return nullptr;
}

}  // namespace

bool isShortcutIdentifier(std::string_view text) {
    constexpr std::array<std::size_t, 5> groupLengths{8, 4, 4, 4, 12};
    if (text.size() != 36) return false;
    std::size_t group = 0;
    std::size_t length = 0;
    for (char c : text) {
        if (c == '-') {
            if (group >= groupLengths.size() - 1 || length != groupLengths[group]) return false;
            ++group;
            length = 0;
        } else if (isHexDigit(c)) {
            ++length;
        } else {
            return false;
        }
    }
    return group == groupLengths.size() - 1 && length == groupLengths.back();
}

std::string iconCacheKey(std::string_view identifier) {
    return isShortcutIdentifier(identifier) ? asciiLowercased(identifier) : std::string(identifier);
}

std::optional<std::string> iconKey(const DeckTile& tile) {
    switch (tile.kind) {
        case DeckTileKind::app:
            if (tile.bundleId.empty()) return std::nullopt;
            return tile.bundleId;
        case DeckTileKind::shortcut:
            if (!tile.shortcutIdentifier || tile.shortcutIdentifier->empty()) return std::nullopt;
            return asciiLowercased(*tile.shortcutIdentifier);
        case DeckTileKind::action:
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> requestIdentifier(const DeckTile& tile, const IconRevisions& revisions) {
    switch (tile.kind) {
        case DeckTileKind::app:
            if (tile.bundleId.empty()) return std::nullopt;
            return tile.bundleId;
        case DeckTileKind::shortcut: {
            if (!tile.shortcutIdentifier || tile.shortcutIdentifier->empty()) return std::nullopt;
            if (const std::string* key = caseInsensitiveKey(*tile.shortcutIdentifier, revisions)) {
                return *key;
            }
            return *tile.shortcutIdentifier;
        }
        case DeckTileKind::action:
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> revision(std::string_view key, const IconRevisions& revisions) {
    if (auto found = revisions.find(std::string(key)); found != revisions.end()) {
        return found->second;
    }
    if (auto found = revisions.find(asciiLowercased(key)); found != revisions.end()) {
        return found->second;
    }
    if (const std::string* match = caseInsensitiveKey(key, revisions)) return revisions.at(*match);
    return std::nullopt;
}

std::vector<std::string> identifiersNeedingIcons(const std::vector<DeckTile>& tiles,
                                                 const IconRevisions& revisions,
                                                 const HasIcon& hasIcon, const IsStale& isStale) {
    std::set<std::string> needed;
    for (const DeckTile& tile : tiles) {
        const std::optional<std::string> key = iconKey(tile);
        if (!key) continue;
        std::string identifier = requestIdentifier(tile, revisions).value_or(*key);
        if (!hasIcon(*key)) {
            needed.insert(std::move(identifier));
        } else if (auto known = revision(*key, revisions); known && isStale(*key, *known)) {
            needed.insert(std::move(identifier));
        }
    }
    return {needed.begin(), needed.end()};
}

std::vector<std::vector<std::string>> requestBatches(std::vector<std::string> identifiers,
                                                     int size) {
    if (identifiers.empty()) return {};
    if (size < 1) return {std::move(identifiers)};
    std::sort(identifiers.begin(), identifiers.end());
    const auto batchSize = static_cast<std::size_t>(size);
    std::vector<std::vector<std::string>> batches;
    for (std::size_t start = 0; start < identifiers.size(); start += batchSize) {
        const std::size_t end = std::min(identifiers.size(), start + batchSize);
        batches.emplace_back(std::make_move_iterator(identifiers.begin() + start),
                             std::make_move_iterator(identifiers.begin() + end));
    }
    return batches;
}

}  // namespace velopad::MacIconSyncPolicy
