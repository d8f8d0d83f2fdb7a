#pragma once
// The pairing QR code: the matrix for the pairing URL, and its drawing for a terminal.
//
// Terminal drawing packs two module rows into one text line with the half blocks "▀", "▄", "█"
// and space. Dark and light are painted explicitly (foreground palette colour 16, pure black, on
// background palette colour 231, pure white; both from the fixed 256-colour cube that terminal
// themes leave alone), so the code is dark-on-light with its quiet zone on dark and light
// terminals alike. Without colours the glyphs are the dark modules, which reads on light
// terminals only.

#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/qr_code.h"

namespace velopad {

// What is shown while no pairing URL is available (the window shows a spinner instead).
inline constexpr std::string_view pairingQRPlaceholderText = "Waiting for the pairing code\u2026";

// The QR matrix of the pairing URL (UTF-8 bytes, error-correction level M). None when the URL is
// empty (no pairing code yet) or cannot be encoded: callers then show a waiting indicator, never
// a blank square.
std::optional<QRMatrix> pairingQRMatrix(std::string_view pairingURL);

struct TerminalQROptions {
    int quietZone = 2;   // light modules around the symbol (a camera needs at least 2)
    bool colors = true;  // paint black on white with ANSI escapes
};

// The matrix as text lines ending in "\n", two module rows per line.
std::string renderQRForTerminal(const QRMatrix& matrix, const TerminalQROptions& options = {});

// The pairing URL's QR code for a terminal, or the placeholder line when there is none.
std::string pairingQRForTerminal(std::string_view pairingURL,
                                 const TerminalQROptions& options = {});

}  // namespace velopad
