// Reads arbitrary bytes as a pairing URL (what a scanned QR code holds). What parses is written
// again and must parse to the same payload.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/pairing_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using velopad::PairingQRPayload;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto payload = PairingQRPayload::parse(text)) {
        if (PairingQRPayload::parse(payload->pairingURL()) != payload) std::abort();
    }
    return 0;
}
