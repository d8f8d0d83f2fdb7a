#pragma once
// Where the list of paired phones is kept between runs of the agent.

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "protocol/pairing_records.h"

namespace velopad {

// The store interface. Calls may block (disk, D-Bus): the pairing service makes them on its
// thread pool, one at a time.
class PairedDeviceStoring {
  public:
    virtual ~PairedDeviceStoring() = default;

    // The stored list. Never fails: an absent or unreadable store reads as the empty list.
    virtual std::vector<PairedDevice> load() = 0;
    // Replaces the whole stored list. Throws the store's error.
    virtual void save(const std::vector<PairedDevice>& devices) = 0;
    // Removes the stored list; load() then gives the empty list. Throws the store's error.
    virtual void clear() = 0;

    // A store that had to settle for its second choice (no keyring answered) says so, and can
    // be asked later to move to its first choice. preferredStoreAnswers() may block and is safe
    // beside the other calls; moveToPreferredStore() returns the list as it now stands, or none
    // when nothing moved.
    virtual bool waitsForPreferredStore() const { return false; }
    virtual bool preferredStoreAnswers() { return false; }
    virtual std::optional<std::vector<PairedDevice>> moveToPreferredStore() { return std::nullopt; }
};

// Receives a store's one-line account of a problem it recovered from (an unreadable list set
// aside, a keyring that did not answer). Never handed device names or tokens.
using StoreProblemReporter = std::function<void(std::string_view)>;

// Writes the line to standard error, prefixed with the agent's name.
void reportStoreProblemToStandardError(std::string_view problem);

// The agent's store: the Secret Service keyring when one answers on the session bus,
// otherwise a mode-0600 file in the agent's data directory, whose devices move into the keyring
// once it answers.
std::shared_ptr<PairedDeviceStoring> makeDefaultPairedDeviceStore();

}  // namespace velopad
