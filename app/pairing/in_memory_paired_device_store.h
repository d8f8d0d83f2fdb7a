#pragma once
// A paired-device store that keeps the list only for the life of the object (tests, and any
// agent run that must not persist pairings).

#include <mutex>
#include <vector>

#include "app/pairing/paired_device_store.h"

namespace velopad {

class InMemoryPairedDeviceStore final : public PairedDeviceStoring {
  public:
    InMemoryPairedDeviceStore() = default;
    explicit InMemoryPairedDeviceStore(std::vector<PairedDevice> devices);

    std::vector<PairedDevice> load() override;
    void save(const std::vector<PairedDevice>& devices) override;
    void clear() override;

  private:
    std::mutex lock_;
    std::vector<PairedDevice> devices_;
};

}  // namespace velopad
