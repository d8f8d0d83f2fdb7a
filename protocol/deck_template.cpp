#include "protocol/deck_template.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

#include "protocol/json_fields.h"

namespace velopad {

DeckTemplate::DeckTemplate(std::string id, std::string name, std::vector<DeckTile> tiles)
    : id(std::move(id)), name(std::move(name)), tiles(std::move(tiles)) {
    std::stable_sort(this->tiles.begin(), this->tiles.end(),
                     [](const DeckTile& a, const DeckTile& b) { return a.slot < b.slot; });
}

void to_json(nlohmann::json& json, const DeckTemplate& deck) {
    json = nlohmann::json::object();
    json["id"] = deck.id;
    json["name"] = deck.name;
    json["tiles"] = deck.tiles;
}

void from_json(const nlohmann::json& json, DeckTemplate& deck) {
    json_fields::requireObject(json, "deck");
    DeckTemplate read;
    read.id = json_fields::requireString(json, "id");
    read.name = json_fields::requireString(json, "name");
    const nlohmann::json& tiles = json_fields::requireField(json, "tiles");
    if (!tiles.is_array()) throw DecodeError("\"tiles\" is not an array");
    read.tiles.reserve(tiles.size());
    for (const nlohmann::json& tile : tiles) read.tiles.push_back(decodeDeckTile(tile));
    deck = std::move(read);
}

DeckTemplate decodeDeckTemplate(std::string_view text) {
    nlohmann::json json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) throw DecodeError("deck is not valid JSON");
    return json.get<DeckTemplate>();
}

}  // namespace velopad
