#pragma once
// The two deck categories, in the order decks appear everywhere.

#include <array>
#include <string_view>

namespace velopad {

enum class DeckCategoryID { streaming, gaming };

inline constexpr std::array<DeckCategoryID, 2> allDeckCategories{DeckCategoryID::streaming,
                                                                 DeckCategoryID::gaming};

// "streaming", "gaming": also the `id` of the stored deck of that category.
std::string_view rawValue(DeckCategoryID category);
// "Streaming", "Gaming".
std::string_view displayName(DeckCategoryID category);

}  // namespace velopad
