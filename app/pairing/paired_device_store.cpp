#include "app/pairing/paired_device_store.h"

#include <iostream>

#include "app/pairing/file_paired_device_store.h"
#include "app/pairing/secret_service_paired_device_store.h"

namespace velopad {

void reportStoreProblemToStandardError(std::string_view problem) {
    std::cerr << "velopad-agent: " << problem << '\n';
}

std::shared_ptr<PairedDeviceStoring> makeDefaultPairedDeviceStore() {
    if (SecretServiceItem::serviceAnswers()) {
        return std::make_shared<SecretServicePairedDeviceStore>();
    }
    return std::make_shared<FilePairedDeviceStore>();
}

}  // namespace velopad
