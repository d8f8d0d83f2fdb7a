#pragma once
// One deck: the record serves both the built-in templates and the user's stored decks.

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/deck_tile.h"

namespace velopad {

struct DeckTemplate {
    std::string id;
    std::string name;
    std::vector<DeckTile> tiles;

    DeckTemplate() = default;
    // Orders `tiles` by slot, keeping the given order of tiles with equal slots.
    DeckTemplate(std::string id, std::string name, std::vector<DeckTile> tiles);

    friend bool operator==(const DeckTemplate&, const DeckTemplate&) = default;
};

// JSON form {"id", "name", "tiles"}; all three keys are required. Reading keeps the tiles in
// the order given (no sorting). Throws DecodeError.
void to_json(nlohmann::json& json, const DeckTemplate& deck);
void from_json(const nlohmann::json& json, DeckTemplate& deck);

// Reads one deck from JSON text. Throws DecodeError on malformed text or a wrong form.
DeckTemplate decodeDeckTemplate(std::string_view text);

}  // namespace velopad
