// Reads arbitrary bytes as the decks file (and as the older single-deck file), the way the deck
// store loads them: decode, validate each deck, fit the decks to the categories. What decodes is
// written again and must read back unchanged; a validated deck must pass validation again as it
// is. An exception escaping a decoder, a sanitizer report or a mismatch is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/decks/deck_store_error.h"
#include "app/decks/deck_store_rules.h"

namespace {

using namespace velopad;

// Installed or not by the identifier's length, so both branches of the fitting are reached.
bool isInstalled(std::string_view bundleId) { return bundleId.size() % 2 == 0; }

void checkDecks(const std::vector<DeckTemplate>& decks) {
    const std::string encoded =
        DeckStoreRules::encodeDecksFile(DeckStoreRules::decksFileVersion, decks);
    const auto again = DeckStoreRules::decodeDecksFile(encoded);
    if (!again || *again != decks) std::abort();

    for (const DeckTemplate& deck : decks) {
        try {
            const DeckTemplate valid = DeckStoreRules::validatedDeck(deck);
            if (DeckStoreRules::validatedDeck(valid) != valid) std::abort();
            if (static_cast<std::int64_t>(valid.tiles.size()) > DeckStoreRules::maxTilesPerDeck)
                std::abort();
        } catch (const DeckStoreError&) {
        }
    }
    (void)DeckStoreRules::bundleIdsToLookUp(decks);
    const auto normalized = DeckStoreRules::normalizedDecks(decks, isInstalled);
    if (normalized.size() != 2) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        if (const auto decks = DeckStoreRules::decodeDecksFile(text)) checkDecks(*decks);
        if (const auto legacy = DeckStoreRules::decodeLegacyDeck(text)) checkDecks({*legacy});
    } catch (const DeckStoreError&) {
        // Writing fails only for text JSON cannot carry; decoded text always can.
        std::abort();
    }
    return 0;
}
