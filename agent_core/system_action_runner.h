#pragma once
// Carries out the built-in actions of "action" keys. The three volume actions go to a
// VolumeControlling; any other identifier is refused as unknown.

#include <memory>
#include <optional>
#include <string>

#include "agent_core/volume_controlling.h"
#include "protocol/payloads.h"

namespace velopad {

// The outcome of one action: `ok`, or `error` with a protocol code and an English message.
struct [[nodiscard]] SystemActionResult {
    enum class Kind { ok, error };

    Kind kind = Kind::ok;
    std::string actionId;
    ActionErrorCode code = ActionErrorCode::failed;  // meaningful for `error` only
    std::optional<std::string> message;              // always set for errors built here

    static SystemActionResult ok(std::string actionId);
    static SystemActionResult error(std::string actionId, ActionErrorCode code,
                                    std::string message);

    [[nodiscard]] bool isOk() const noexcept { return kind == Kind::ok; }

    friend bool operator==(const SystemActionResult&, const SystemActionResult&) = default;
};

class SystemActionRunner {
  public:
    explicit SystemActionRunner(std::shared_ptr<VolumeControlling> volume);

    // Matches `actionId` exactly (case-sensitive, untrimmed) and runs its operation. Blocks for
    // as long as the volume operation takes; never throws.
    SystemActionResult perform(const std::string& actionId) const;

    [[nodiscard]] const std::shared_ptr<VolumeControlling>& volume() const noexcept {
        return volume_;
    }

  private:
    std::shared_ptr<VolumeControlling> volume_;
};

}  // namespace velopad
