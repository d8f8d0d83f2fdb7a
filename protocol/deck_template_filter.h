#pragma once
// Fitting a deck to the applications installed on this computer and turning it into the
// snapshot sent to the phone. Pure: what is installed or running is asked through predicates.

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/deck_template.h"
#include "protocol/deck_tile.h"
#include "protocol/payloads.h"

namespace velopad::DeckTemplateFilter {

// Answers whether an application identifier is installed (or running).
using BundlePredicate = std::function<bool(std::string_view bundleId)>;

// A predicate answering from a fixed set of identifiers.
BundlePredicate memberOf(std::set<std::string, std::less<>> bundleIds);

// The tile's bundleId followed by its alternateBundleIds, in order.
std::vector<std::string> candidateBundleIds(const DeckTile& tile);

// The first candidate that is installed, or none.
std::optional<std::string> firstInstalledBundleId(const DeckTile& tile,
                                                  const BundlePredicate& isInstalled);

// Action and Shortcut tiles pass unchanged; an app tile with nothing installed is dropped; an
// app tile installed only under an alternate takes that alternate as its id and bundleId. Slots
// are kept as they are (gaps stay).
std::vector<DeckTile> resolveInstalledTiles(const std::vector<DeckTile>& tiles,
                                            const BundlePredicate& isInstalled);

// The deck's snapshot: resolved tiles, the bundle ids of running app tiles in tile order, and
// an empty iconRevisions map (filled in by the deck store).
DeckSnapshotPayload makeSnapshot(const DeckTemplate& deck, const BundlePredicate& isInstalled,
                                 const BundlePredicate& isRunning);

}  // namespace velopad::DeckTemplateFilter
