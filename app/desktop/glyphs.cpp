#include "app/desktop/glyphs.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QString>
#include <QSvgRenderer>
#include <algorithm>

#include "ui_kit/glyph_table.h"

namespace velopad::desktop {

namespace {

QString resourcePath(std::string_view symbol) {
    const std::string_view file = GlyphTable::fileFor(symbol);
    return QStringLiteral(":/velopad/glyphs/") +
           QString::fromUtf8(file.data(), static_cast<qsizetype>(file.size()));
}

}  // namespace

QPixmap glyphPixmap(std::string_view symbol, int size, const QColor& color) {
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    const int pixels = std::max(1, static_cast<int>(size * ratio + 0.5));
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resourcePath(symbol));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    // The icons are drawn in one colour: keep their shape, take the colour asked for.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QIcon glyphIcon(std::string_view symbol) {
    const QColor color =
        qGuiApp ? QGuiApplication::palette().color(QPalette::WindowText) : QColor(Qt::black);
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(glyphPixmap(symbol, size, color));
    return icon;
}

}  // namespace velopad::desktop
