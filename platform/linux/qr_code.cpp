#include "platform/linux/qr_code.h"

#include <qrencode.h>

#include <memory>
#include <string>

namespace velopad {

std::optional<QRMatrix> encodeQRCode(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const std::string bytes(text);
    QRcode* raw = nullptr;
    if (bytes.find('\0') == std::string::npos) {
        // Case-sensitive 8-bit encoding; libqrencode still picks denser modes for runs of digits.
        raw = QRcode_encodeString(bytes.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    } else {
        // A C string would stop at the NUL: encode every byte as 8-bit data instead.
        raw = QRcode_encodeData(static_cast<int>(bytes.size()),
                                reinterpret_cast<const unsigned char*>(bytes.data()), 0,
                                QR_ECLEVEL_M);
    }
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(raw, &QRcode_free);
    if (!code || code->width <= 0) return std::nullopt;

    QRMatrix matrix;
    matrix.size = code->width;
    const auto count =
        static_cast<std::size_t>(code->width) * static_cast<std::size_t>(code->width);
    matrix.modules.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        matrix.modules[i] =
            code->data[i] & 1;  // bit 0 is the module's colour; the rest is metadata
    }
    return matrix;
}

}  // namespace velopad
