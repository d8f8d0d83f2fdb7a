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

}  // namespace velopad
