#pragma once
// Why the deck store refused a deck, with the text the editor shows. File-system failures are
// not among them: they arrive as std::system_error with the system's own description.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velopad {

enum class DeckStoreErrorCode {
    tooManyTiles,       // max: the capacity
    duplicateBundleId,  // detail: the bundle identifier
    duplicateAction,    // detail: the action id
    duplicateShortcut,  // detail: the Shortcut identifier
    unknownCategory,    // detail: the category's raw value
    encodingFailed,
    decodingFailed,
};

class DeckStoreError : public std::runtime_error {
  public:
    static DeckStoreError tooManyTiles(std::int64_t max);
    static DeckStoreError duplicateBundleId(std::string bundleId);
    static DeckStoreError duplicateAction(std::string actionId);
    static DeckStoreError duplicateShortcut(std::string shortcutIdentifier);
    static DeckStoreError unknownCategory(std::string rawValue);
    static DeckStoreError encodingFailed();
    static DeckStoreError decodingFailed();

    [[nodiscard]] DeckStoreErrorCode code() const noexcept { return code_; }
    [[nodiscard]] const std::string& detail() const noexcept { return detail_; }
    [[nodiscard]] std::int64_t max() const noexcept { return max_; }

    // "A deck can have at most 24 tiles.", "com.apple.Safari is already on the deck.",
    // "That Shortcut is already on the deck.", "Unknown deck category: other.",
    // "Could not save the deck.", "Could not read the saved deck."
    static std::string describe(DeckStoreErrorCode code, const std::string& detail,
                                std::int64_t max);

    friend bool operator==(const DeckStoreError& a, const DeckStoreError& b) {
        return a.code_ == b.code_ && a.detail_ == b.detail_ && a.max_ == b.max_;
    }

  private:
    DeckStoreError(DeckStoreErrorCode code, std::string detail, std::int64_t max);

    DeckStoreErrorCode code_;
    std::string detail_;
    std::int64_t max_;
};

}  // namespace velopad
