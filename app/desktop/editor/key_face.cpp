#include "app/desktop/editor/key_face.h"

#include <QFontMetricsF>
#include <QHash>
#include <QLinearGradient>
#include <QPainterPath>
#include <QString>
#include <cmath>

#include "app/desktop/fonts.h"
#include "app/desktop/glyphs.h"
#include "ui_kit/glyph_table.h"

namespace velopad::desktop {

namespace {

int channel(double value) {
    return static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
}

// A glyph that is one character (unlisted applications) is drawn as text, not as a symbol.
bool isCharacterGlyph(std::string_view glyph) {
    if (glyph.empty() || GlyphTable::contains(glyph)) return false;
    return QString::fromUtf8(glyph.data(), static_cast<qsizetype>(glyph.size())).size() <= 2 &&
           glyph.find('.') == std::string_view::npos;
}

void paintGlyph(QPainter& painter, const QRectF& area, std::string_view glyph) {
    if (isCharacterGlyph(glyph)) {
        painter.setPen(Qt::white);
        painter.setFont(typographyFont(DeckTypography::Family::display, 700, area.height() * 0.55));
        painter.drawText(area, Qt::AlignCenter,
                         QString::fromUtf8(glyph.data(), static_cast<qsizetype>(glyph.size())));
        return;
    }
    const int side = static_cast<int>(std::min(area.width(), area.height()));
    const QPixmap pixmap = cachedGlyph(glyph, side, Qt::white);
    painter.drawPixmap(
        QRectF(area.center().x() - side / 2.0, area.center().y() - side / 2.0, side, side), pixmap,
        pixmap.rect());
}

void paintGradient(QPainter& painter, const QRectF& rect, const TileAppearance& appearance) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, toQColor(appearance.gradient[0]));
    gradient.setColorAt(1, toQColor(appearance.gradient[1]));
    QPainterPath path;
    const double radius = rect.width() * 0.22;
    path.addRoundedRect(rect, radius, radius);
    painter.fillPath(path, gradient);
}

}  // namespace

QColor toQColor(const TileColor& color) {
    return QColor(channel(color.red), channel(color.green), channel(color.blue),
                  channel(color.opacity));
}

QColor toQColor(const RgbColor& color) {
    return QColor(channel(color.red), channel(color.green), channel(color.blue),
                  channel(color.alpha));
}

QImage toQImage(const RgbaImage& image) {
    if (!image.isValid()) return {};
    return QImage(image.pixels.data(), image.width, image.height, image.width * 4,
                  QImage::Format_RGBA8888)
        .copy();
}

QPixmap cachedGlyph(std::string_view symbol, int size, const QColor& color) {
    static QHash<QString, QPixmap> cache;
    const QString key = QString::fromUtf8(symbol.data(), static_cast<qsizetype>(symbol.size())) +
                        QLatin1Char('|') + QString::number(size) + QLatin1Char('|') +
                        QString::number(color.rgba());
    if (const auto found = cache.constFind(key); found != cache.constEnd()) return *found;
    QPixmap pixmap = glyphPixmap(symbol, size, color);
    cache.insert(key, pixmap);
    return pixmap;
}

void paintGlyphBadge(QPainter& painter, const QRectF& rect, const TileAppearance& appearance,
                     const QPixmap& icon) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!icon.isNull()) {
        painter.drawPixmap(rect, icon, icon.rect());
    } else {
        paintGradient(painter, rect, appearance);
        paintGlyph(painter,
                   rect.adjusted(rect.width() * 0.24, rect.height() * 0.24, -rect.width() * 0.24,
                                 -rect.height() * 0.24),
                   appearance.glyph);
    }
    painter.restore();
}

void paintKeyFace(QPainter& painter, const QRectF& rect, const DeckTile& tile,
                  const QPixmap& icon) {
    const TileAppearance face = appearance(tile);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    paintGradient(painter, rect, face);

    const double inset = rect.width() * 0.12;
    const QRectF labelArea(rect.left() + inset / 2, rect.bottom() - rect.height() * 0.3,
                           rect.width() - inset, rect.height() * 0.24);
    const double side = rect.height() * 0.46;
    const QRectF glyphArea(rect.center().x() - side / 2, rect.top() + rect.height() * 0.12, side,
                           side);
    if (!icon.isNull()) {
        painter.drawPixmap(glyphArea, icon, icon.rect());
    } else {
        paintGlyph(painter, glyphArea.adjusted(side * 0.1, side * 0.1, -side * 0.1, -side * 0.1),
                   face.glyph);
    }

    QFont font =
        typographyFont(DeckTypography::Family::ui, 600, std::max(7.0, rect.height() * 0.11));
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QString label = QString::fromStdString(tile.label);
    painter.drawText(labelArea, Qt::AlignCenter,
                     QFontMetricsF(font).elidedText(label, Qt::ElideRight, labelArea.width()));
    painter.restore();
}

}  // namespace velopad::desktop
