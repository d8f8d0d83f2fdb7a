#pragma once
// Dates on the wire: RFC 3339 internet date-time text. We write UTC with "Z" and whole seconds
// ("2024-05-01T10:00:00Z"); we read whole or fractional seconds with "Z" or a "+hh:mm"/"-hh:mm"
// offset.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace velopad {

using WireDate = std::chrono::system_clock::time_point;

// UTC, "Z", seconds rounded down (a fraction is dropped, never rounded up).
std::string formatWireDate(WireDate date);

// Strict parse of "YYYY-MM-DDThh:mm:ss[.fraction](Z|+hh:mm|-hh:mm)". Calendar fields are
// range-checked (day within its month, leap years, hour 0-23, minute and second 0-59).
// Fraction digits beyond nanoseconds are read but ignored. Anything else yields none.
std::optional<WireDate> parseWireDate(std::string_view text);

}  // namespace velopad
