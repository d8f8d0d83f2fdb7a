#pragma once
// Strict readers for fields of JSON objects, shared by every decoder of the protocol and by the
// files that store protocol records. Every reader throws DecodeError naming the key on a
// missing required field or a value of the wrong JSON type. Optional readers treat an absent
// key and a `null` value alike as "no value".
//
// Type rules: a string is never a number and a bool is never a number; an integer is accepted
// where a floating-point number is expected; an integral floating-point value within range is
// accepted where an integer is expected.

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/json_text.h"
#include "protocol/uuid.h"
#include "protocol/wire_date.h"

namespace velopad {

namespace json_fields {

// `value` itself must be an object; `what` names it in the error.
void requireObject(const nlohmann::json& value, std::string_view what);

// The value under `key` (throws if absent; `null` is returned as is).
const nlohmann::json& requireField(const nlohmann::json& object, std::string_view key);
// The value under `key`, or nullptr if absent or `null`.
const nlohmann::json* optionalField(const nlohmann::json& object, std::string_view key);

// Conversions of one value (`what` names it in the error).
std::string asString(const nlohmann::json& value, std::string_view what);
std::int64_t asInt64(const nlohmann::json& value, std::string_view what);
double asDouble(const nlohmann::json& value, std::string_view what);
bool asBool(const nlohmann::json& value, std::string_view what);
Uuid asUuid(const nlohmann::json& value, std::string_view what);
WireDate asDate(const nlohmann::json& value, std::string_view what);
std::vector<std::string> asStringList(const nlohmann::json& value, std::string_view what);
std::map<std::string, std::string> asStringMap(const nlohmann::json& value, std::string_view what);

std::string requireString(const nlohmann::json& object, std::string_view key);
std::optional<std::string> optionalString(const nlohmann::json& object, std::string_view key);
std::int64_t requireInt64(const nlohmann::json& object, std::string_view key);
std::optional<std::int64_t> optionalInt64(const nlohmann::json& object, std::string_view key);
double requireDouble(const nlohmann::json& object, std::string_view key);
std::optional<double> optionalDouble(const nlohmann::json& object, std::string_view key);
bool requireBool(const nlohmann::json& object, std::string_view key);
std::optional<bool> optionalBool(const nlohmann::json& object, std::string_view key);
Uuid requireUuid(const nlohmann::json& object, std::string_view key);
std::optional<Uuid> optionalUuid(const nlohmann::json& object, std::string_view key);
WireDate requireDate(const nlohmann::json& object, std::string_view key);
std::optional<WireDate> optionalDate(const nlohmann::json& object, std::string_view key);
std::vector<std::string> requireStringList(const nlohmann::json& object, std::string_view key);
std::optional<std::vector<std::string>> optionalStringList(const nlohmann::json& object,
                                                           std::string_view key);
std::map<std::string, std::string> requireStringMap(const nlohmann::json& object,
                                                    std::string_view key);
std::optional<std::map<std::string, std::string>> optionalStringMap(const nlohmann::json& object,
                                                                    std::string_view key);

// An enumeration stored as its raw string; `fromRaw` maps text to a case or none.
template <class Enum, class FromRaw>
Enum requireEnum(const nlohmann::json& object, std::string_view key, FromRaw fromRaw) {
    const std::string raw = requireString(object, key);
    if (auto value = fromRaw(raw)) return *value;
    throw DecodeError("\"" + std::string(key) + "\" has an unknown value");
}

}  // namespace json_fields
}  // namespace velopad
