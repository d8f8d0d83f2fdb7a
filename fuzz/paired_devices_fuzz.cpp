// Reads arbitrary bytes as the stored paired-device list. What decodes is written again and
// must read back as the same devices (dates within a microsecond: they are stored as seconds in
// a double). An escaping exception, a sanitizer report (an overflowing date conversion among
// them) or a mismatch is a finding.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/pairing/paired_device_stored_form.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velopad;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto devices = decodeStoredPairedDevices(text);
    if (!devices) return 0;
    const auto again = decodeStoredPairedDevices(encodeStoredPairedDevices(*devices));
    if (!again || again->size() != devices->size()) std::abort();
    for (std::size_t index = 0; index < devices->size(); ++index) {
        const PairedDevice& before = (*devices)[index];
        const PairedDevice& after = (*again)[index];
        if (before.id != after.id || before.name != after.name || before.token != after.token)
            std::abort();
        if (std::chrono::abs(before.pairedAt - after.pairedAt) > std::chrono::microseconds(1))
            std::abort();
    }
    return 0;
}
