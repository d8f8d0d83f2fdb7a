#include "app/pairing/secret_service_paired_device_store.h"

#include <utility>

#include "app/pairing/paired_device_stored_form.h"

namespace velopad {

SecretServicePairedDeviceStoreError::SecretServicePairedDeviceStoreError(
    SecretServicePairedDeviceStoreErrorCode code, std::int32_t status)
    : std::runtime_error(describe(code, status)), code_(code), status_(status) {}

std::string SecretServicePairedDeviceStoreError::describe(
    SecretServicePairedDeviceStoreErrorCode code, std::int32_t status) {
    const char* action =
        code == SecretServicePairedDeviceStoreErrorCode::saveFailed ? "save" : "remove";
    return std::string("Could not ") + action + " the paired devices (status " +
           std::to_string(status) + ").";
}

SecretServicePairedDeviceStore::SecretServicePairedDeviceStore(StoreProblemReporter report)
    : item_(service, account, "Velopad Agent paired devices"),
      setAsideItem_(service, setAsideAccount, "Velopad Agent paired devices (unreadable)"),
      report_(std::move(report)) {}

std::vector<PairedDevice> SecretServicePairedDeviceStore::load() {
    std::optional<std::string> secret;
    try {
        secret = item_.read();
    } catch (const SecretServiceFailure& failure) {
        if (report_) {
            report_(std::string("The paired devices could not be read from the keyring: ") +
                    failure.what());
        }
        return {};
    }
    if (!secret) return {};
    if (auto devices = decodeStoredPairedDevices(*secret)) return std::move(*devices);

    std::string problem = "The paired devices in the keyring are not a list of paired devices";
    try {
        setAsideItem_.write(*secret);
        problem += std::string("; they were kept under account \"") + setAsideAccount + "\".";
    } catch (const SecretServiceFailure& failure) {
        problem += std::string("; they could not be kept aside either: ") + failure.what();
    }
    if (report_) report_(problem);
    return {};
}

void SecretServicePairedDeviceStore::save(const std::vector<PairedDevice>& devices) {
    const std::string json = encodeStoredPairedDevices(devices);
    try {
        item_.write(json);
    } catch (const SecretServiceFailure& failure) {
        throw SecretServicePairedDeviceStoreError(
            SecretServicePairedDeviceStoreErrorCode::saveFailed, failure.status());
    }
}

void SecretServicePairedDeviceStore::clear() {
    try {
        item_.remove();
    } catch (const SecretServiceFailure& failure) {
        throw SecretServicePairedDeviceStoreError(
            SecretServicePairedDeviceStoreErrorCode::deleteFailed, failure.status());
    }
}

}  // namespace velopad
