#include "app/desktop/pairing_qr_view.h"

#include <QPainter>
#include <QPainterPath>

#include "platform/linux/qr_code.h"

namespace velopad::desktop {

QImage pairingQRImage(std::string_view text, int side) {
    const auto matrix = encodeQRCode(text);
    if (!matrix || matrix->size <= 0 || side <= 0) return {};
    // One pixel per module, then one uniform nearest-neighbour scale to the side asked for.
    QImage modules(matrix->size, matrix->size, QImage::Format_Mono);
    modules.setColor(0, qRgb(255, 255, 255));
    modules.setColor(1, qRgb(0, 0, 0));
    for (int y = 0; y < matrix->size; ++y) {
        for (int x = 0; x < matrix->size; ++x) modules.setPixel(x, y, matrix->isDark(x, y) ? 1 : 0);
    }
    return modules.convertToFormat(QImage::Format_RGB32)
        .scaled(side, side, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

PairingQRView::PairingQRView(QWidget* parent) : QWidget(parent) {
    spinnerTimer_.setInterval(80);
    connect(&spinnerTimer_, &QTimer::timeout, this, [this] {
        spinnerStep_ = (spinnerStep_ + 1) % 12;
        update();
    });
    setAccessibleName(QStringLiteral("Pairing QR code"));
    setFixedSize(sizeHint());
}

void PairingQRView::setQRString(const QString& text) {
    if (text == text_ && !(image_.isNull() && !text.isEmpty())) return;
    text_ = text;
    // Made at the size the code is shown at: every module a whole number of pixels or close.
    image_ = pairingQRImage(text.toStdString(), codeSide);
    setAccessibleDescription(text_);
    setFixedSize(sizeHint());
    updateSpinner();
    update();
}

QSize PairingQRView::sizeHint() const {
    return image_.isNull() ? QSize(placeholderSide, placeholderSide) : QSize(side, side);
}

void PairingQRView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateSpinner();
}

void PairingQRView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    spinnerTimer_.stop();
}

void PairingQRView::updateSpinner() {
    if (image_.isNull() && isVisible()) {
        spinnerTimer_.start();
    } else {
        spinnerTimer_.stop();
    }
}

void PairingQRView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor backdrop = palette().color(QPalette::Mid);
    const QColor glass(backdrop.red(), backdrop.green(), backdrop.blue(), 70);
    QPainterPath outer;
    outer.addRoundedRect(QRectF(rect()), 16, 16);
    painter.fillPath(outer, glass);

    if (image_.isNull()) {
        // An indeterminate spinner: twelve spokes, the current one darkest.
        const QPointF centre = QRectF(rect()).center();
        const QColor spoke = palette().color(QPalette::WindowText);
        for (int i = 0; i < 12; ++i) {
            QColor color = spoke;
            color.setAlphaF(0.15 + 0.85 * static_cast<double>((i + 12 - spinnerStep_) % 12) / 11);
            painter.save();
            painter.translate(centre);
            painter.rotate(30.0 * i);
            painter.setPen(QPen(color, 3, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(0, -7), QPointF(0, -13));
            painter.restore();
        }
        return;
    }

    const QRectF white(backdropPadding, backdropPadding, codeSide + 2 * whitePadding,
                       codeSide + 2 * whitePadding);
    QPainterPath whitePath;
    whitePath.addRoundedRect(white, 10, 10);
    painter.fillPath(whitePath, Qt::white);

    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(
        QRectF(backdropPadding + whitePadding, backdropPadding + whitePadding, codeSide, codeSide),
        image_);
}

}  // namespace velopad::desktop
