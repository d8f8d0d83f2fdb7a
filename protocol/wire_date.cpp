#include "protocol/wire_date.h"

#include <cstdint>
#include <cstdio>
#include <limits>

namespace velopad {
namespace {

using namespace std::chrono;

// Reads `count` decimal digits at `pos`; -1 if any is not a digit.
int readDigits(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos + count > text.size()) return -1;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool expect(std::string_view text, std::size_t pos, char c) {
    return pos < text.size() && text[pos] == c;
}

// Seconds whose nanosecond count still fits the clock's 64-bit representation.
constexpr std::int64_t kMaxSeconds = std::numeric_limits<std::int64_t>::max() / 1'000'000'000 - 1;

}  // namespace

std::string formatWireDate(WireDate date) {
    const auto seconds = floor<std::chrono::seconds>(date);
    const auto day = floor<days>(seconds);
    const year_month_day ymd{day};
    const hh_mm_ss time{seconds - day};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return buffer;
}

std::optional<WireDate> parseWireDate(std::string_view text) {
    // YYYY-MM-DDThh:mm:ss
    const int yearValue = readDigits(text, 0, 4);
    const int monthValue = expect(text, 4, '-') ? readDigits(text, 5, 2) : -1;
    const int dayValue = expect(text, 7, '-') ? readDigits(text, 8, 2) : -1;
    const int hour = expect(text, 10, 'T') ? readDigits(text, 11, 2) : -1;
    const int minute = expect(text, 13, ':') ? readDigits(text, 14, 2) : -1;
    const int second = expect(text, 16, ':') ? readDigits(text, 17, 2) : -1;
    if (yearValue < 0 || monthValue < 0 || dayValue < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    const year_month_day ymd{year{yearValue}, month{unsigned(monthValue)}, day{unsigned(dayValue)}};
    if (!ymd.ok()) return std::nullopt;

    std::size_t pos = 19;
    std::int64_t fractionNanos = 0;
    if (expect(text, pos, '.')) {
        ++pos;
        const std::size_t start = pos;
        std::int64_t scale = 100'000'000;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            fractionNanos += (text[pos] - '0') * scale;
            scale /= 10;
            ++pos;
        }
        if (pos == start) return std::nullopt;
    }

    std::int64_t offsetSeconds = 0;
    if (expect(text, pos, 'Z')) {
        ++pos;
    } else if (expect(text, pos, '+') || expect(text, pos, '-')) {
        const int sign = text[pos] == '+' ? 1 : -1;
        const int offsetHours = readDigits(text, pos + 1, 2);
        const int offsetMinutes = expect(text, pos + 3, ':') ? readDigits(text, pos + 4, 2) : -1;
        if (offsetHours < 0 || offsetMinutes < 0 || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = sign * (offsetHours * 3600 + offsetMinutes * 60);
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != text.size()) return std::nullopt;

    const std::int64_t localSeconds =
        std::int64_t{sys_days{ymd}.time_since_epoch().count()} * 86400 + hour * 3600 + minute * 60 +
        second;
    const std::int64_t utcSeconds = localSeconds - offsetSeconds;
    if (utcSeconds > kMaxSeconds || utcSeconds < -kMaxSeconds) return std::nullopt;
    const auto sinceEpoch = duration_cast<WireDate::duration>(std::chrono::seconds{utcSeconds} +
                                                              nanoseconds{fractionNanos});
    return WireDate{sinceEpoch};
}

}  // namespace velopad
