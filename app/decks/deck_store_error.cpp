#include "app/decks/deck_store_error.h"

#include <utility>

namespace velopad {

DeckStoreError::DeckStoreError(DeckStoreErrorCode code, std::string detail, std::int64_t max)
    : std::runtime_error(describe(code, detail, max)),
      code_(code),
      detail_(std::move(detail)),
      max_(max) {}

DeckStoreError DeckStoreError::tooManyTiles(std::int64_t max) {
    return {DeckStoreErrorCode::tooManyTiles, {}, max};
}
DeckStoreError DeckStoreError::duplicateBundleId(std::string bundleId) {
    return {DeckStoreErrorCode::duplicateBundleId, std::move(bundleId), 0};
}
DeckStoreError DeckStoreError::duplicateAction(std::string actionId) {
    return {DeckStoreErrorCode::duplicateAction, std::move(actionId), 0};
}
DeckStoreError DeckStoreError::duplicateShortcut(std::string shortcutIdentifier) {
    return {DeckStoreErrorCode::duplicateShortcut, std::move(shortcutIdentifier), 0};
}
DeckStoreError DeckStoreError::unknownCategory(std::string rawValue) {
    return {DeckStoreErrorCode::unknownCategory, std::move(rawValue), 0};
}
DeckStoreError DeckStoreError::encodingFailed() {
    return {DeckStoreErrorCode::encodingFailed, {}, 0};
}
DeckStoreError DeckStoreError::decodingFailed() {
    return {DeckStoreErrorCode::decodingFailed, {}, 0};
}

std::string DeckStoreError::describe(DeckStoreErrorCode code, const std::string& detail,
                                     std::int64_t max) {
    switch (code) {
        case DeckStoreErrorCode::tooManyTiles:
            return "A deck can have at most " + std::to_string(max) + " tiles.";
        case DeckStoreErrorCode::duplicateBundleId:
        case DeckStoreErrorCode::duplicateAction:
            return detail + " is already on the deck.";
        case DeckStoreErrorCode::duplicateShortcut:
            return "That Shortcut is already on the deck.";
        case DeckStoreErrorCode::unknownCategory:
            return "Unknown deck category: " + detail + ".";
        case DeckStoreErrorCode::encodingFailed:
            return "Could not save the deck.";
        case DeckStoreErrorCode::decodingFailed:
            return "Could not read the saved deck.";
    }
    return "Could not save the deck.";
}

}  // namespace velopad
