#pragma once
// How a key looks on the phone preview and on library cards: the tile's gradient with its white
// glyph (or, given one, the application's or Shortcut's own icon) and its label.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRectF>
#include <string_view>

#include "agent_core/app_accent_color.h"
#include "protocol/deck_tile.h"
#include "ui_kit/tile_appearance.h"

namespace velopad::desktop {

QColor toQColor(const TileColor& color);
QColor toQColor(const RgbColor& color);

// A copy of the pixels; a null image for an invalid one.
QImage toQImage(const RgbaImage& image);

// The glyph of `symbol` in `color`, drawn once per symbol, size and colour.
QPixmap cachedGlyph(std::string_view symbol, int size, const QColor& color);

// A rounded square with the gradient, the glyph or `icon` (when not null) in its upper part and
// the label below.
void paintKeyFace(QPainter& painter, const QRectF& rect, const DeckTile& tile, const QPixmap& icon);

// Just the gradient square and the glyph (or `icon`), without a label: a library card's badge.
void paintGlyphBadge(QPainter& painter, const QRectF& rect, const TileAppearance& appearance,
                     const QPixmap& icon);

}  // namespace velopad::desktop
