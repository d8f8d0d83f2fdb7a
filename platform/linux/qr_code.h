#pragma once
// A QR code symbol as a plain square matrix of modules, so any front end (terminal, window) can
// draw it at its own scale.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace velopad {

struct QRMatrix {
    int size = 0;                       // modules per side, without the quiet zone
    std::vector<std::uint8_t> modules;  // row-major, size × size, 1 = dark

    // Out-of-range coordinates are light: the quiet zone around the symbol.
    [[nodiscard]] bool isDark(int x, int y) const {
        if (x < 0 || y < 0 || x >= size || y >= size) return false;
        return modules[static_cast<std::size_t>(y) * static_cast<std::size_t>(size) +
                       static_cast<std::size_t>(x)] != 0;
    }

    friend bool operator==(const QRMatrix&, const QRMatrix&) = default;
};

// Encodes the bytes of `text` (UTF-8) as a standard QR code at error-correction level M, choosing
// the smallest version that fits. None for empty text or text too long for any QR version.
std::optional<QRMatrix> encodeQRCode(std::string_view text);

}  // namespace velopad
