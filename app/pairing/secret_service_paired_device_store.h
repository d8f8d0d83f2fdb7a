#pragma once
// The agent's paired-device list in the user's Secret Service keyring: one secret with the
// attributes service "com.quentaro.harborlink.agent.paired-devices" and account
// "paired-devices", holding the list as JSON (see paired_device_stored_form.h).

#include <cstdint>
#include <stdexcept>
#include <string>

#include "app/pairing/paired_device_store.h"
#include "platform/linux/secret_service_paired_device_store.h"

namespace velopad {

enum class SecretServicePairedDeviceStoreErrorCode {
    saveFailed,    // creating or replacing the secret failed; status from the Secret Service
    deleteFailed,  // deleting the secret failed for a reason other than its absence
};

class SecretServicePairedDeviceStoreError : public std::runtime_error {
  public:
    SecretServicePairedDeviceStoreError(SecretServicePairedDeviceStoreErrorCode code,
                                        std::int32_t status);

    [[nodiscard]] SecretServicePairedDeviceStoreErrorCode code() const noexcept { return code_; }
    [[nodiscard]] std::int32_t status() const noexcept { return status_; }

    // "Could not save the paired devices (status 2)." /
    // "Could not remove the paired devices (status 2)."
    static std::string describe(SecretServicePairedDeviceStoreErrorCode code, std::int32_t status);

    friend bool operator==(const SecretServicePairedDeviceStoreError& a,
                           const SecretServicePairedDeviceStoreError& b) {
        return a.code_ == b.code_ && a.status_ == b.status_;
    }

  private:
    SecretServicePairedDeviceStoreErrorCode code_;
    std::int32_t status_;
};

class SecretServicePairedDeviceStore final : public PairedDeviceStoring {
  public:
    static constexpr const char* service = "com.quentaro.harborlink.agent.paired-devices";
    static constexpr const char* account = "paired-devices";
    // Where a list that could not be understood is kept before it can be overwritten.
    static constexpr const char* setAsideAccount = "paired-devices.corrupt";

    explicit SecretServicePairedDeviceStore(
        StoreProblemReporter report = reportStoreProblemToStandardError);

    // Absent, unreachable or unreadable reads as empty. A secret that is not a device list is
    // first copied to the set-aside account (and reported), so a later save cannot lose it.
    std::vector<PairedDevice> load() override;
    void save(const std::vector<PairedDevice>& devices) override;
    void clear() override;

  private:
    SecretServiceItem item_;
    SecretServiceItem setAsideItem_;
    StoreProblemReporter report_;
};

}  // namespace velopad
