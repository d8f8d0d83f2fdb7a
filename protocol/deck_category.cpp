#include "protocol/deck_category.h"

namespace velopad {

std::string_view rawValue(DeckCategoryID category) {
    switch (category) {
        case DeckCategoryID::streaming:
            return "streaming";
        case DeckCategoryID::gaming:
            return "gaming";
    }
    return {};
}

std::string_view displayName(DeckCategoryID category) {
    switch (category) {
        case DeckCategoryID::streaming:
            return "Streaming";
        case DeckCategoryID::gaming:
            return "Gaming";
    }
    return {};
}

std::optional<DeckCategoryID> deckCategoryFromRawValue(std::string_view raw) {
    for (DeckCategoryID category : allDeckCategories) {
        if (rawValue(category) == raw) return category;
    }
    return std::nullopt;
}

}  // namespace velopad
