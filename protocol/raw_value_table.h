#pragma once
// A fixed two-way table between the cases of an enumeration and their raw wire strings.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace velopad {

template <class Enum, std::size_t N>
struct RawValueTable {
    std::array<std::pair<Enum, std::string_view>, N> entries;

    constexpr std::string_view raw(Enum value) const {
        for (const auto& [candidate, text] : entries)
            if (candidate == value) return text;
        return {};
    }

    // Exact, case-sensitive match.
    constexpr std::optional<Enum> find(std::string_view text) const {
        for (const auto& [candidate, raw] : entries)
            if (raw == text) return candidate;
        return std::nullopt;
    }
};

template <class Enum, class... Entries>
constexpr auto makeRawValueTable(Entries... entries) {
    return RawValueTable<Enum, sizeof...(Entries)>{{{entries...}}};
}

}  // namespace velopad
