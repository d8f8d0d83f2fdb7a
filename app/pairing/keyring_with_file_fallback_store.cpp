#include "app/pairing/keyring_with_file_fallback_store.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

namespace velopad {

KeyringWithFileFallbackStore::KeyringWithFileFallbackStore(
    std::shared_ptr<PairedDeviceStoring> keyring, std::shared_ptr<PairedDeviceStoring> file,
    std::function<bool()> keyringAnswers, StoreProblemReporter report)
    : keyring_(std::move(keyring)),
      file_(std::move(file)),
      keyringAnswers_(std::move(keyringAnswers)),
      report_(std::move(report)) {}

std::vector<PairedDevice> KeyringWithFileFallbackStore::load() {
    if (!keyringAnswers_()) {
        usingKeyring_ = false;
        return file_->load();
    }
    usingKeyring_ = true;
    return mergeFileIntoKeyring();
}

std::vector<PairedDevice> KeyringWithFileFallbackStore::mergeFileIntoKeyring() {
    std::vector<PairedDevice> devices = keyring_->load();
    const std::vector<PairedDevice> fromFile = file_->load();
    if (fromFile.empty()) return devices;
    for (const PairedDevice& device : fromFile) {
        const bool known = std::any_of(devices.begin(), devices.end(), [&](const auto& kept) {
            return kept.id == device.id || kept.token.value == device.token.value;
        });
        if (!known) devices.push_back(device);
    }
    try {
        keyring_->save(devices);
        file_->clear();
    } catch (const std::exception& error) {
        // The file stays; the next save writes the whole list to the keyring and removes it.
        if (report_) {
            report_(std::string("The paired devices could not be moved into the keyring: ") +
                    error.what());
        }
    }
    return devices;
}

void KeyringWithFileFallbackStore::save(const std::vector<PairedDevice>& devices) {
    if (usingKeyring_ || keyringAnswers_()) {
        try {
            keyring_->save(devices);
            usingKeyring_ = true;
        } catch (const std::exception&) {
            if (keyringAnswers_()) throw;  // the keyring refused: report it as the save's failure
            usingKeyring_ = false;         // it went away: keep the list in the file meanwhile
            file_->save(devices);
            return;
        }
        file_->clear();
        return;
    }
    file_->save(devices);
}

void KeyringWithFileFallbackStore::clear() {
    if (usingKeyring_ || keyringAnswers_()) keyring_->clear();
    file_->clear();
}

std::optional<std::vector<PairedDevice>> KeyringWithFileFallbackStore::moveToPreferredStore() {
    if (usingKeyring_ || !keyringAnswers_()) return std::nullopt;
    usingKeyring_ = true;
    return mergeFileIntoKeyring();
}

}  // namespace velopad
