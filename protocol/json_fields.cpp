#include "protocol/json_fields.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace velopad::json_fields {
namespace {

using nlohmann::json;

[[noreturn]] void fail(std::string_view what, std::string_view problem) {
    throw DecodeError("\"" + std::string(what) + "\" " + std::string(problem));
}

}  // namespace

void requireObject(const json& value, std::string_view what) {
    if (!value.is_object()) fail(what, "must be an object");
}

const json& requireField(const json& object, std::string_view key) {
    requireObject(object, "value");
    const auto found = object.find(key);
    if (found == object.end()) fail(key, "is missing");
    return *found;
}

const json* optionalField(const json& object, std::string_view key) {
    requireObject(object, "value");
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

std::string asString(const json& value, std::string_view what) {
    if (!value.is_string()) fail(what, "must be a string");
    return value.get_ref<const std::string&>();
}

std::int64_t asInt64(const json& value, std::string_view what) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            fail(what, "is out of range");
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // 2^63 is exactly representable; every double below it in magnitude fits.
        if (number != std::trunc(number) || !(number >= -9223372036854775808.0) ||
            !(number < 9223372036854775808.0))
            fail(what, "must be an integer");
        return static_cast<std::int64_t>(number);
    }
    fail(what, "must be an integer");
}

double asDouble(const json& value, std::string_view what) {
    if (!value.is_number()) fail(what, "must be a number");
    return value.get<double>();
}

bool asBool(const json& value, std::string_view what) {
    if (!value.is_boolean()) fail(what, "must be true or false");
    return value.get<bool>();
}

Uuid asUuid(const json& value, std::string_view what) {
    if (!value.is_string()) fail(what, "must be a UUID string");
    if (auto uuid = Uuid::parse(value.get_ref<const std::string&>())) return *uuid;
    fail(what, "is not a UUID");
}

WireDate asDate(const json& value, std::string_view what) {
    if (!value.is_string()) fail(what, "must be a date string");
    if (auto date = parseWireDate(value.get_ref<const std::string&>())) return *date;
    fail(what, "is not an ISO-8601 date");
}

std::vector<std::string> asStringList(const json& value, std::string_view what) {
    if (!value.is_array()) fail(what, "must be an array");
    std::vector<std::string> list;
    list.reserve(value.size());
    for (const auto& element : value) list.push_back(asString(element, what));
    return list;
}

std::map<std::string, std::string> asStringMap(const json& value, std::string_view what) {
    if (!value.is_object()) fail(what, "must be an object");
    std::map<std::string, std::string> map;
    for (const auto& [key, element] : value.items()) map.emplace(key, asString(element, what));
    return map;
}

std::string requireString(const json& object, std::string_view key) {
    return asString(requireField(object, key), key);
}

std::optional<std::string> optionalString(const json& object, std::string_view key) {
    if (const json* value = optionalField(object, key)) return asString(*value, key);
    return std::nullopt;
}

std::int64_t requireInt64(const json& object, std::string_view key) {
    return asInt64(requireField(object, key), key);
}

std::optional<std::int64_t> optionalInt64(const json& object, std::string_view key) {
    if (const json* value = optionalField(object, key)) return asInt64(*value, key);
    return std::nullopt;
}

double requireDouble(const json& object, std::string_view key) {
    return asDouble(requireField(object, key), key);
}

std::optional<double> optionalDouble(const json& object, std::string_view key) {
    if (const json* value = optionalField(object, key)) return asDouble(*value, key);
    return std::nullopt;
}

bool requireBool(const json& object, std::string_view key) {
    return asBool(requireField(object, key), key);
}

std::optional<bool> optionalBool(const json& object, std::string_view key) {
    if (const json* value = optionalField(object, key)) return asBool(*value, key);
    return std::nullopt;
}

Uuid requireUuid(const json& object, std::string_view key) {
    return asUuid(requireField(object, key), key);
}

std::optional<Uuid> optionalUuid(const json& object, std::string_view key) {
    if (const json* value = optionalField(object, key)) return asUuid(*value, key);
    return std::nullopt;
}

WireDate requireDate(const json& object, std::string_view key) {
    return asDate(requireField(object, key), key);
}

std::optional<WireDate> optionalDate(const json& object, std::string_view key) {
    if (const json* value = optionalField(object, key)) return asDate(*value, key);
    return std::nullopt;
}

std::vector<std::string> requireStringList(const json& object, std::string_view key) {
    return asStringList(requireField(object, key), key);
}

std::optional<std::vector<std::string>> optionalStringList(const json& object,
                                                           std::string_view key) {
    if (const json* value = optionalField(object, key)) return asStringList(*value, key);
    return std::nullopt;
}

std::map<std::string, std::string> requireStringMap(const json& object, std::string_view key) {
    return asStringMap(requireField(object, key), key);
}

std::optional<std::map<std::string, std::string>> optionalStringMap(const json& object,
                                                                    std::string_view key) {
    if (const json* value = optionalField(object, key)) return asStringMap(*value, key);
    return std::nullopt;
}

}  // namespace velopad::json_fields
