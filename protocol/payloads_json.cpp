// JSON forms of the payload records. Optional fields are written only when they have a value.

#include <nlohmann/json.hpp>

#include "protocol/json_fields.h"
#include "protocol/payloads.h"

namespace velopad {

using nlohmann::json;
using namespace json_fields;

namespace {

json stringArray(const std::vector<std::string>& values) {
    json array = json::array();
    for (const auto& value : values) array.push_back(value);
    return array;
}

void putOptional(json& object, const char* key, const std::optional<std::string>& value) {
    if (value) object[key] = *value;
}

}  // namespace

void to_json(json& j, const EmptyPayload&) { j = json::object(); }
void from_json(const json&, EmptyPayload&) {}

void to_json(json& j, const AppActionPayload& p) { j = {{"bundleId", p.bundleId}}; }
void from_json(const json& j, AppActionPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "bundleId")};
}

void to_json(json& j, const AppOKPayload& p) { j = {{"bundleId", p.bundleId}}; }
void from_json(const json& j, AppOKPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "bundleId")};
}

void to_json(json& j, const AppErrorPayload& p) {
    j = {{"bundleId", p.bundleId}, {"code", std::string(rawValue(p.code))}};
    putOptional(j, "message", p.message);
}
void from_json(const json& j, AppErrorPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "bundleId"),
         requireEnum<AppErrorCode>(j, "code", appErrorCodeFromRawValue),
         optionalString(j, "message")};
}

void to_json(json& j, const ActionRunPayload& p) { j = {{"actionId", p.actionId}}; }
void from_json(const json& j, ActionRunPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "actionId")};
}

void to_json(json& j, const ActionOKPayload& p) { j = {{"actionId", p.actionId}}; }
void from_json(const json& j, ActionOKPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "actionId")};
}

void to_json(json& j, const ActionErrorPayload& p) {
    j = {{"actionId", p.actionId}, {"code", std::string(rawValue(p.code))}};
    putOptional(j, "message", p.message);
}
void from_json(const json& j, ActionErrorPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "actionId"),
         requireEnum<ActionErrorCode>(j, "code", actionErrorCodeFromRawValue),
         optionalString(j, "message")};
}

void to_json(json& j, const ShortcutRunPayload& p) {
    j = {{"shortcutIdentifier", p.shortcutIdentifier}};
    putOptional(j, "label", p.label);
}
void from_json(const json& j, ShortcutRunPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "shortcutIdentifier"), optionalString(j, "label")};
}

void to_json(json& j, const ShortcutOKPayload& p) {
    j = {{"shortcutIdentifier", p.shortcutIdentifier}};
}
void from_json(const json& j, ShortcutOKPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "shortcutIdentifier")};
}

void to_json(json& j, const ShortcutErrorPayload& p) {
    j = {{"shortcutIdentifier", p.shortcutIdentifier}, {"code", std::string(rawValue(p.code))}};
    putOptional(j, "message", p.message);
}
void from_json(const json& j, ShortcutErrorPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "shortcutIdentifier"),
         requireEnum<ShortcutErrorCode>(j, "code", shortcutErrorCodeFromRawValue),
         optionalString(j, "message")};
}

void to_json(json& j, const PingPayload& p) { j = {{"ts", formatWireDate(p.ts)}}; }
void from_json(const json& j, PingPayload& p) {
    requireObject(j, "payload");
    p = {requireDate(j, "ts")};
}

void to_json(json& j, const PongPayload& p) {
    j = {{"ts", formatWireDate(p.ts)}};
    if (p.rtt) j["rtt"] = *p.rtt;
    if (p.runningBundleIds) j["runningBundleIds"] = stringArray(*p.runningBundleIds);
}
void from_json(const json& j, PongPayload& p) {
    requireObject(j, "payload");
    p = {requireDate(j, "ts"), optionalDouble(j, "rtt"), optionalStringList(j, "runningBundleIds")};
}

void to_json(json& j, const AppIconRequestPayload& p) {
    j = json::object();
    j["bundleIds"] = stringArray(p.bundleIds);
}
void from_json(const json& j, AppIconRequestPayload& p) {
    requireObject(j, "payload");
    p = {requireStringList(j, "bundleIds")};
}

void to_json(json& j, const AppIconPayload& p) {
    j = {{"bundleId", p.bundleId}, {"revision", p.revision}, {"pngBase64", p.pngBase64}};
}
void from_json(const json& j, AppIconPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "bundleId"), requireString(j, "revision"), requireString(j, "pngBase64")};
}

void to_json(json& j, const DeckSnapshotPayload& p) {
    json tiles = json::array();
    for (const auto& tile : p.tiles) tiles.push_back(tile);
    json revisions = json::object();
    for (const auto& [key, revision] : p.iconRevisions) revisions[key] = revision;
    j = json::object();
    j["deckId"] = p.deckId;
    j["name"] = p.name;
    j["tiles"] = std::move(tiles);
    j["runningBundleIds"] = stringArray(p.runningBundleIds);
    j["iconRevisions"] = std::move(revisions);
}
void from_json(const json& j, DeckSnapshotPayload& p) {
    requireObject(j, "deck");
    const json& tiles = requireField(j, "tiles");
    if (!tiles.is_array()) throw DecodeError("\"tiles\" must be an array");
    DeckSnapshotPayload result;
    result.deckId = requireString(j, "deckId");
    result.name = requireString(j, "name");
    result.tiles.reserve(tiles.size());
    for (const auto& tile : tiles) result.tiles.push_back(decodeDeckTile(tile));
    result.runningBundleIds =
        optionalStringList(j, "runningBundleIds").value_or(std::vector<std::string>{});
    result.iconRevisions =
        optionalStringMap(j, "iconRevisions").value_or(std::map<std::string, std::string>{});
    p = std::move(result);
}

void to_json(json& j, const DecksSnapshotPayload& p) {
    json decks = json::array();
    for (const auto& deck : p.decks) decks.push_back(deck);
    j = json::object();
    j["decks"] = std::move(decks);
}
void from_json(const json& j, DecksSnapshotPayload& p) {
    requireObject(j, "payload");
    const json& decks = requireField(j, "decks");
    if (!decks.is_array()) throw DecodeError("\"decks\" must be an array");
    DecksSnapshotPayload result;
    result.decks.reserve(decks.size());
    for (const auto& deck : decks) {
        DeckSnapshotPayload one;
        from_json(deck, one);
        result.decks.push_back(std::move(one));
    }
    p = std::move(result);
}

}  // namespace velopad
