#pragma once
// The stored form of the paired-device list, shared by every persistent store:
// a JSON array of {"id": "<UPPER-CASE UUID>", "name": …, "token": {"value": …},
// "pairedAt": <seconds since 2001-01-01T00:00:00Z, with fraction>}.
// Unlike the wire codec, dates are numbers on the reference-date scale, not ISO-8601 text.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/pairing_records.h"

namespace velopad {

// Seconds between the Unix epoch and 2001-01-01T00:00:00Z.
inline constexpr double referenceDateOffsetSeconds = 978307200.0;

double secondsSinceReferenceDate(WireDate date);
WireDate dateFromSecondsSinceReferenceDate(double seconds);

// Compact JSON text, keys sorted.
std::string encodeStoredPairedDevices(const std::vector<PairedDevice>& devices);

// The list, or none when `text` is not a JSON array of complete device records (a record
// without "pairedAt", or with "pairedAt" as text, makes the whole list unreadable).
std::optional<std::vector<PairedDevice>> decodeStoredPairedDevices(std::string_view text);

}  // namespace velopad
