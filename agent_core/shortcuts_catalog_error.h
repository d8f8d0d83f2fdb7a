#pragma once
// Why the list of Shortcuts could not be read, with the text the editor shows for it.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velopad {

enum class ShortcutsCatalogErrorCode {
    executableMissing,  // the tool is not there or cannot be executed
    listFailed,         // the tool failed, or hung and was stopped
    parseFailed,        // kept for callers; listing never raises it
};

class ShortcutsCatalogError : public std::runtime_error {
  public:
    explicit ShortcutsCatalogError(ShortcutsCatalogErrorCode code, std::int32_t exitCode = 0,
                                   std::string stderrText = {});

    [[nodiscard]] ShortcutsCatalogErrorCode code() const noexcept { return code_; }
    // For listFailed: the tool's exit status and standard error.
    [[nodiscard]] std::int32_t exitCode() const noexcept { return exitCode_; }
    [[nodiscard]] const std::string& stderrText() const noexcept { return stderrText_; }

    static std::string describe(ShortcutsCatalogErrorCode code, std::int32_t exitCode,
                                const std::string& stderrText);

  private:
    ShortcutsCatalogErrorCode code_;
    std::int32_t exitCode_;
    std::string stderrText_;
};

}  // namespace velopad
