#pragma once
// The records of pairing: shared constants, the pair request and its answers, the device token,
// the computer's record of a paired phone and what the pairing QR code carries.

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/uuid.h"
#include "protocol/wire_date.h"

namespace velopad {

namespace HarborlinkService {
inline constexpr std::string_view bonjourServiceType = "_harborlink._tcp";
inline constexpr std::string_view bonjourDomain = "local.";
inline constexpr std::uint16_t port = 9847;
inline constexpr int pinLength = 6;
inline constexpr int maxPINAttempts = 5;
inline constexpr int pairingCodeByteCount = 32;
inline constexpr std::string_view urlScheme = "harborlink";
inline constexpr std::string_view pairingHost = "pair";
inline constexpr std::string_view tokenHeaderName = "X-Harborlink-Token";
}  // namespace HarborlinkService

enum class PairingMethod { qr, pin };  // "qr", "pin"
std::string_view rawValue(PairingMethod method);
std::optional<PairingMethod> pairingMethodFromRawValue(std::string_view text);

// "invalid_pin", "invalid_code", "lockout", "already_paired", "unauthorized"
enum class PairingFailureReason { invalidPIN, invalidCode, lockout, alreadyPaired, unauthorized };
std::string_view rawValue(PairingFailureReason reason);
std::optional<PairingFailureReason> pairingFailureReasonFromRawValue(std::string_view text);

// Opaque token text; JSON form {"value": …}.
struct DeviceToken {
    std::string value;
    friend bool operator==(const DeviceToken&, const DeviceToken&) = default;
};

struct PairRequestPayload {  // "pair.request"; all fields required
    PairingMethod method = PairingMethod::qr;
    std::string secret;
    std::string deviceName;
    Uuid deviceId;
    friend bool operator==(const PairRequestPayload&, const PairRequestPayload&) = default;
};

struct PairOKPayload {  // "pair.ok"
    std::string token;
    friend bool operator==(const PairOKPayload&, const PairOKPayload&) = default;
};

struct PairFailPayload {  // "pair.fail"
    PairingFailureReason reason = PairingFailureReason::invalidPIN;
    std::optional<std::string> message;
    friend bool operator==(const PairFailPayload&, const PairFailPayload&) = default;
};

// The computer's record of a paired phone; identified by `id`, equal when all fields are.
// It never travels over the wire (its stored form belongs to the device store).
struct PairedDevice {
    Uuid id;
    std::string name;
    DeviceToken token;
    WireDate pairedAt;
    friend bool operator==(const PairedDevice&, const PairedDevice&) = default;
};

// What the pairing QR code carries, as the URL harborlink://pair?v=…&name=…&code=….
struct PairingQRPayload {
    std::int64_t version = 1;
    std::string macName;
    std::string code;

    // The URL text. Names and values are percent-encoded byte by byte with upper-case hex
    // digits; only ASCII letters, digits and "-", "_", ".", "~" stay as they are.
    std::string pairingURL() const;

    // The reverse; none on anything unexpected. Surrounding white space is trimmed. When a
    // query name occurs more than once, the first occurrence that has a value counts.
    static std::optional<PairingQRPayload> parse(std::string_view text);

    friend bool operator==(const PairingQRPayload&, const PairingQRPayload&) = default;
};

// ---- JSON forms (from_json throws DecodeError) ----

void to_json(nlohmann::json& json, const DeviceToken& token);
void from_json(const nlohmann::json& json, DeviceToken& token);
void to_json(nlohmann::json& json, const PairRequestPayload& payload);
void from_json(const nlohmann::json& json, PairRequestPayload& payload);
void to_json(nlohmann::json& json, const PairOKPayload& payload);
void from_json(const nlohmann::json& json, PairOKPayload& payload);
void to_json(nlohmann::json& json, const PairFailPayload& payload);
void from_json(const nlohmann::json& json, PairFailPayload& payload);
// Keys "version", "macName", "code", all required.
void to_json(nlohmann::json& json, const PairingQRPayload& payload);
void from_json(const nlohmann::json& json, PairingQRPayload& payload);

}  // namespace velopad
