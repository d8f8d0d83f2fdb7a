#pragma once
// The agent's paired devices when a keyring may come and go: the Secret Service keyring when it
// answers, otherwise the owner-only file. A session whose keyring starts after the agent (an
// autostarted agent at login, say) first reads the file; once the keyring answers, the file's
// devices move into it and the file is removed, so a phone paired under either stays paired.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/pairing/paired_device_store.h"

namespace velopad {

class KeyringWithFileFallbackStore final : public PairedDeviceStoring {
  public:
    // `keyringAnswers` tells whether the keyring can be used right now; it may block briefly
    // and is called from any thread.
    KeyringWithFileFallbackStore(std::shared_ptr<PairedDeviceStoring> keyring,
                                 std::shared_ptr<PairedDeviceStoring> file,
                                 std::function<bool()> keyringAnswers,
                                 StoreProblemReporter report = reportStoreProblemToStandardError);

    std::vector<PairedDevice> load() override;
    void save(const std::vector<PairedDevice>& devices) override;
    void clear() override;

    bool waitsForPreferredStore() const override { return !usingKeyring_; }
    bool preferredStoreAnswers() override { return keyringAnswers_(); }
    std::optional<std::vector<PairedDevice>> moveToPreferredStore() override;

  private:
    // The keyring's devices followed by the file's that it lacks; the merged list is written to
    // the keyring, then the file is removed.
    std::vector<PairedDevice> mergeFileIntoKeyring();

    std::shared_ptr<PairedDeviceStoring> keyring_;
    std::shared_ptr<PairedDeviceStoring> file_;
    std::function<bool()> keyringAnswers_;
    StoreProblemReporter report_;
    std::atomic<bool> usingKeyring_ = false;
};

}  // namespace velopad
