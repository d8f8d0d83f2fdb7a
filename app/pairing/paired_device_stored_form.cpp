#include "app/pairing/paired_device_stored_form.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <nlohmann/json.hpp>

#include "protocol/json_fields.h"
#include "protocol/json_text.h"

namespace velopad {
namespace {
// The clock counts nanoseconds since 1970 in 64 bits (about ±9.22e9 seconds); stored dates count
// from 2001. Seconds since 1970 are kept well inside that range before anything converts them.
constexpr double maxSecondsSince1970 = 9.0e9;
}  // namespace

double secondsSinceReferenceDate(WireDate date) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<duration<double>>(date.time_since_epoch());
    return sinceEpoch.count() - referenceDateOffsetSeconds;
}

WireDate dateFromSecondsSinceReferenceDate(double seconds) {
    using namespace std::chrono;
    const duration<double> sinceEpoch(seconds + referenceDateOffsetSeconds);
    return WireDate(duration_cast<system_clock::duration>(sinceEpoch));
}

std::string encodeStoredPairedDevices(const std::vector<PairedDevice>& devices) {
    nlohmann::json list = nlohmann::json::array();
    for (const PairedDevice& device : devices) {
        list.push_back({
            {"id", device.id.toString()},
            {"name", device.name},
            {"token", {{"value", device.token.value}}},
            {"pairedAt", secondsSinceReferenceDate(device.pairedAt)},
        });
    }
    return writeJsonText(list);
}

std::optional<std::vector<PairedDevice>> decodeStoredPairedDevices(std::string_view text) {
    try {
        const nlohmann::json list = parseJsonText(text);
        if (!list.is_array()) return std::nullopt;
        std::vector<PairedDevice> devices;
        devices.reserve(list.size());
        for (const nlohmann::json& record : list) {
            json_fields::requireObject(record, "paired device");
            const nlohmann::json& token = json_fields::requireField(record, "token");
            json_fields::requireObject(token, "token");
            const double pairedAt = json_fields::requireDouble(record, "pairedAt");
            // Beyond about ±285 years from 1970 a date no longer fits the clock's range.
            if (!std::isfinite(pairedAt) ||
                std::fabs(pairedAt + referenceDateOffsetSeconds) > maxSecondsSince1970) {
                return std::nullopt;
            }
            devices.push_back(PairedDevice{
                .id = json_fields::requireUuid(record, "id"),
                .name = json_fields::requireString(record, "name"),
                .token = DeviceToken{json_fields::requireString(token, "value")},
                .pairedAt = dateFromSecondsSinceReferenceDate(pairedAt),
            });
        }
        return devices;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace velopad
