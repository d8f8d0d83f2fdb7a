#pragma once
// Glyphs for symbol names, drawn from the icons built into the binary.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <string_view>

namespace velopad::desktop {

// The glyph of `symbol` as an icon in the palette's text colour; the neutral glyph when the
// symbol has no icon of its own.
QIcon glyphIcon(std::string_view symbol);

// The glyph of `symbol`, `size` device-independent pixels square, painted in `color`.
QPixmap glyphPixmap(std::string_view symbol, int size, const QColor& color);

}  // namespace velopad::desktop
