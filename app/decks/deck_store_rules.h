#pragma once
// The deck store's rules without any I/O: validation and renumbering, fitting templates to the
// installed applications, one deck per category, and the decks file's JSON form
// {"decks":[…],"version":1} (compact, keys sorted at every level, "/" written as "\/").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/deck_category.h"
#include "protocol/deck_template.h"
#include "protocol/deck_template_filter.h"

namespace velopad::DeckStoreRules {

inline constexpr std::int64_t maxTilesPerDeck = 24;
inline constexpr std::int64_t decksFileVersion = 1;

using DeckTemplateFilter::BundlePredicate;

// At most 24 tiles, no application, action or Shortcut twice (each kind on its own), action
// and Shortcut tiles carrying their identifiers; then tiles renumbered 1…n in array order with
// their ids derived again. Throws DeckStoreError.
DeckTemplate validatedDeck(const DeckTemplate& deck);

// The template reduced to the installed applications (alternates taken where needed),
// renumbered 1…n with derived ids.
DeckTemplate installedTemplate(const DeckTemplate& deckTemplate,
                               const BundlePredicate& isInstalled);

// installedTemplate of each category's template, in category order.
std::vector<DeckTemplate> defaultDecks(const BundlePredicate& isInstalled);

// For each category in order, the first deck whose id is the category's raw value, as stored,
// or else the installed template of that category. Decks with other ids are dropped.
std::vector<DeckTemplate> normalizedDecks(const std::vector<DeckTemplate>& decks,
                                          const BundlePredicate& isInstalled);

// Every bundle identifier (alternates included) of the app tiles of `decks` and of both
// templates: what an installed-applications predicate must know about.
std::vector<std::string> bundleIdsToLookUp(const std::vector<DeckTemplate>& decks);

// The decks file's text. Throws DeckStoreError (encodingFailed).
std::string encodeDecksFile(std::int64_t version, const std::vector<DeckTemplate>& decks);

// The decks of a decks file; none when the text is not one ("decks" and "version" required).
std::optional<std::vector<DeckTemplate>> decodeDecksFile(std::string_view text);

// The deck of an older single-deck file; none when the text is not one.
std::optional<DeckTemplate> decodeLegacyDeck(std::string_view text);

}  // namespace velopad::DeckStoreRules
