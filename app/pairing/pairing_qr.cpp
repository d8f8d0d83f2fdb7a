#include "app/pairing/pairing_qr.h"

#include <algorithm>

namespace velopad {
namespace {

constexpr std::string_view blackOnWhite = "\x1b[38;5;16;48;5;231m";
constexpr std::string_view resetAttributes = "\x1b[0m";

std::string_view halfBlock(bool topDark, bool bottomDark) {
    if (topDark && bottomDark) return "\u2588";  // █
    if (topDark) return "\u2580";                // ▀
    if (bottomDark) return "\u2584";             // ▄
    return " ";
}

}  // namespace

std::optional<QRMatrix> pairingQRMatrix(std::string_view pairingURL) {
    if (pairingURL.empty()) return std::nullopt;
    return encodeQRCode(pairingURL);
}

std::string renderQRForTerminal(const QRMatrix& matrix, const TerminalQROptions& options) {
    const int quiet = std::max(0, options.quietZone);
    const int first = -quiet;
    const int end = matrix.size + quiet;  // one past the last row and column drawn
    std::string out;
    for (int y = first; y < end; y += 2) {
        if (options.colors) out += blackOnWhite;
        for (int x = first; x < end; ++x) {
            // A last odd row pairs with a light row below the quiet zone.
            out += halfBlock(matrix.isDark(x, y), y + 1 < end && matrix.isDark(x, y + 1));
        }
        if (options.colors) out += resetAttributes;
        out += '\n';
    }
    return out;
}

std::string pairingQRForTerminal(std::string_view pairingURL, const TerminalQROptions& options) {
    const auto matrix = pairingQRMatrix(pairingURL);
    if (!matrix) return std::string(pairingQRPlaceholderText) + "\n";
    return renderQRForTerminal(*matrix, options);
}

}  // namespace velopad
