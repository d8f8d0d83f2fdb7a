#include "app/pairing/in_memory_paired_device_store.h"

#include <utility>

namespace velopad {

InMemoryPairedDeviceStore::InMemoryPairedDeviceStore(std::vector<PairedDevice> devices)
    : devices_(std::move(devices)) {}

std::vector<PairedDevice> InMemoryPairedDeviceStore::load() {
    std::lock_guard guard(lock_);
    return devices_;
}

void InMemoryPairedDeviceStore::save(const std::vector<PairedDevice>& devices) {
    std::lock_guard guard(lock_);
    devices_ = devices;
}

void InMemoryPairedDeviceStore::clear() {
    std::lock_guard guard(lock_);
    devices_.clear();
}

}  // namespace velopad
