#include "protocol/pairing_records.h"

#include <nlohmann/json.hpp>

#include "protocol/json_fields.h"
#include "protocol/raw_value_table.h"

namespace velopad {
namespace {

using nlohmann::json;
using namespace json_fields;

constexpr auto kMethods =
    makeRawValueTable<PairingMethod>(std::pair{PairingMethod::qr, std::string_view{"qr"}},
                                     std::pair{PairingMethod::pin, std::string_view{"pin"}});

using R = PairingFailureReason;
constexpr auto kReasons =
    makeRawValueTable<R>(std::pair{R::invalidPIN, std::string_view{"invalid_pin"}},
                         std::pair{R::invalidCode, std::string_view{"invalid_code"}},
                         std::pair{R::lockout, std::string_view{"lockout"}},
                         std::pair{R::alreadyPaired, std::string_view{"already_paired"}},
                         std::pair{R::unauthorized, std::string_view{"unauthorized"}});

}  // namespace

std::string_view rawValue(PairingMethod method) { return kMethods.raw(method); }
std::optional<PairingMethod> pairingMethodFromRawValue(std::string_view text) {
    return kMethods.find(text);
}

std::string_view rawValue(PairingFailureReason reason) { return kReasons.raw(reason); }
std::optional<PairingFailureReason> pairingFailureReasonFromRawValue(std::string_view text) {
    return kReasons.find(text);
}

void to_json(json& j, const DeviceToken& token) { j = {{"value", token.value}}; }
void from_json(const json& j, DeviceToken& token) {
    requireObject(j, "token");
    token = {requireString(j, "value")};
}

void to_json(json& j, const PairRequestPayload& p) {
    j = {{"method", std::string(rawValue(p.method))},
         {"secret", p.secret},
         {"deviceName", p.deviceName},
         {"deviceId", p.deviceId.toString()}};
}
void from_json(const json& j, PairRequestPayload& p) {
    requireObject(j, "payload");
    p = {requireEnum<PairingMethod>(j, "method", pairingMethodFromRawValue),
         requireString(j, "secret"), requireString(j, "deviceName"), requireUuid(j, "deviceId")};
}

void to_json(json& j, const PairOKPayload& p) { j = {{"token", p.token}}; }
void from_json(const json& j, PairOKPayload& p) {
    requireObject(j, "payload");
    p = {requireString(j, "token")};
}

void to_json(json& j, const PairFailPayload& p) {
    j = {{"reason", std::string(rawValue(p.reason))}};
    if (p.message) j["message"] = *p.message;
}
void from_json(const json& j, PairFailPayload& p) {
    requireObject(j, "payload");
    p = {requireEnum<PairingFailureReason>(j, "reason", pairingFailureReasonFromRawValue),
         optionalString(j, "message")};
}

void to_json(json& j, const PairingQRPayload& p) {
    j = {{"version", p.version}, {"macName", p.macName}, {"code", p.code}};
}
void from_json(const json& j, PairingQRPayload& p) {
    requireObject(j, "pairing payload");
    p = {requireInt64(j, "version"), requireString(j, "macName"), requireString(j, "code")};
}

}  // namespace velopad
