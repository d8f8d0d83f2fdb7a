#pragma once
// Which key icons a client must fetch with "app.icon.request", and in which batches. The agent
// serves the requests and publishes revisions; this rule fixes how both sides name icons.
//
// An application icon is named by its bundle identifier, case preserved; a Shortcut icon by its
// Shortcut identifier, compared without regard to case and kept in lower case.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/deck_tile.h"

namespace velopad::MacIconSyncPolicy {

// Icon identifier → opaque revision, as in a snapshot's iconRevisions.
using IconRevisions = std::map<std::string, std::string>;

inline constexpr int iconRequestBatchSize = 12;

// 36 characters in hyphen-separated groups of 8, 4, 4, 4 and 12 hexadecimal digits (either case).
bool isShortcutIdentifier(std::string_view text);

// Lower case for a Shortcut identifier, anything else unchanged.
std::string iconCacheKey(std::string_view identifier);

// App tile with a bundleId → the bundleId; Shortcut tile with a non-empty identifier → the
// identifier in lower case; otherwise none.
std::optional<std::string> iconKey(const DeckTile& tile);

// The identifier to request the tile's icon under: an app tile's bundleId; for a Shortcut tile
// the matching key of `revisions` (compared in lower case) as written there, else the tile's
// identifier unchanged. None for action tiles and tiles without an identifier.
std::optional<std::string> requestIdentifier(const DeckTile& tile, const IconRevisions& revisions);

// The revision under `key`, its lower-case form, or any key equal to it in lower case.
std::optional<std::string> revision(std::string_view key, const IconRevisions& revisions);

using HasIcon = std::function<bool(const std::string& key)>;
using IsStale = std::function<bool(const std::string& key, const std::string& revision)>;

// Request identifiers of the tiles whose icon is missing, or whose known revision is stale.
// Each identifier occurs once; order is unspecified (requestBatches sorts).
std::vector<std::string> identifiersNeedingIcons(const std::vector<DeckTile>& tiles,
                                                 const IconRevisions& revisions,
                                                 const HasIcon& hasIcon, const IsStale& isStale);

// Sorted identifiers cut into batches of `size` (the last holds the rest); a size below 1 gives
// one batch with all identifiers in their given order; no identifiers give no batches.
std::vector<std::vector<std::string>> requestBatches(std::vector<std::string> identifiers,
                                                     int size = iconRequestBatchSize);

}  // namespace velopad::MacIconSyncPolicy
