#pragma once
// The paired-device list in a file of its own, for sessions without a Secret Service:
// "$XDG_DATA_HOME/HarborlinkAgent/paired-devices.json", mode 0600, replaced atomically.
// Same JSON as the keyring item.

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "app/pairing/paired_device_store.h"

namespace velopad {

enum class FilePairedDeviceStoreErrorCode {
    saveFailed,    // writing the file failed; status is the errno value
    deleteFailed,  // deleting the file failed for a reason other than its absence
};

class FilePairedDeviceStoreError : public std::runtime_error {
  public:
    FilePairedDeviceStoreError(FilePairedDeviceStoreErrorCode code, std::int32_t status);

    [[nodiscard]] FilePairedDeviceStoreErrorCode code() const noexcept { return code_; }
    [[nodiscard]] std::int32_t status() const noexcept { return status_; }

    // "Could not save the paired devices (status 13)." /
    // "Could not remove the paired devices (status 13)."
    static std::string describe(FilePairedDeviceStoreErrorCode code, std::int32_t status);

    friend bool operator==(const FilePairedDeviceStoreError& a,
                           const FilePairedDeviceStoreError& b) {
        return a.code_ == b.code_ && a.status_ == b.status_;
    }

  private:
    FilePairedDeviceStoreErrorCode code_;
    std::int32_t status_;
};

class FilePairedDeviceStore final : public PairedDeviceStoring {
  public:
    // The agent's file in its data directory.
    static std::filesystem::path defaultPath();

    explicit FilePairedDeviceStore(std::filesystem::path path = defaultPath(),
                                   StoreProblemReporter report = reportStoreProblemToStandardError);

    // A file that cannot be read or understood is renamed to "<name>.corrupt" (and reported)
    // before the empty list is returned, so the next save cannot destroy it.
    std::vector<PairedDevice> load() override;
    void save(const std::vector<PairedDevice>& devices) override;
    void clear() override;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::vector<PairedDevice> setAside(const std::string& reason);

    std::filesystem::path path_;
    StoreProblemReporter report_;
};

}  // namespace velopad
