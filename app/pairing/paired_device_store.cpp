#include "app/pairing/paired_device_store.h"

#include <iostream>

#include "app/pairing/file_paired_device_store.h"
#include "app/pairing/keyring_with_file_fallback_store.h"
#include "app/pairing/secret_service_paired_device_store.h"

namespace velopad {

void reportStoreProblemToStandardError(std::string_view problem) {
    std::cerr << "velopad-agent: " << problem << '\n';
}

std::shared_ptr<PairedDeviceStoring> makeDefaultPairedDeviceStore() {
    return std::make_shared<KeyringWithFileFallbackStore>(
        std::make_shared<SecretServicePairedDeviceStore>(reportStoreProblemToStandardError),
        std::make_shared<FilePairedDeviceStore>(),
        [] { return SecretServiceItem::serviceAnswers(); });
}

}  // namespace velopad
