#include "app/desktop/editor/phone_preview.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QGridLayout>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "app/desktop/editor/editor_icon_cache.h"
#include "app/desktop/editor/key_face.h"
#include "app/desktop/fonts.h"
#include "app/desktop/glyphs.h"
#include "app/editor/deck_editor_texts.h"

namespace velopad::desktop {

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

KeySlot::KeySlot(int index, QWidget* parent)
    : QWidget(parent),
      index_(index),
      removeButton_(new QToolButton(this)),
      missingBadge_(new QLabel(this)),
      jiggle_(this) {
    setFixedSize(side, side);
    setAcceptDrops(true);
    setObjectName(QStringLiteral("slot-%1").arg(index + 1));

    removeButton_->setIcon(QIcon(cachedGlyph("minus", 14, Qt::white)));
    removeButton_->setAccessibleName(qs(DeckEditorTexts::removeKey));
    removeButton_->setToolTip(qs(DeckEditorTexts::removeKey));
    removeButton_->setFixedSize(22, 22);
    removeButton_->setStyleSheet(QStringLiteral(
        "QToolButton { background: rgba(60,60,67,0.85); border-radius: 11px; border: none; }"
        "QToolButton:hover { background: rgba(255,59,48,0.95); }"));
    removeButton_->move(0, 0);
    removeButton_->hide();
    connect(removeButton_, &QToolButton::clicked, this, [this] { emit removeRequested(index_); });

    missingBadge_->setText(qs(DeckEditorTexts::missing));
    missingBadge_->setAccessibleName(qs(DeckEditorTexts::missing));
    missingBadge_->setFont(typographyFont(DeckTypography::Family::ui, 600, 8));
    missingBadge_->setStyleSheet(
        QStringLiteral("QLabel { background: rgb(255,159,10); color: black; border-radius: 7px; "
                       "padding: 0 5px; }"));
    missingBadge_->adjustSize();
    missingBadge_->hide();

    connect(&jiggle_, &JiggleAnimator::changed, this, qOverload<>(&QWidget::update));
}

QString KeySlot::dragText(const DeckTile& tile) {
    switch (tile.kind) {
        case DeckTileKind::action:
            return QString::fromStdString(tile.actionId.value_or(tile.bundleId));
        case DeckTileKind::shortcut:
            return QString::fromStdString(tile.shortcutIdentifier.value_or(tile.bundleId));
        case DeckTileKind::app:
            break;
    }
    return QString::fromStdString(tile.bundleId);
}

QRectF KeySlot::faceRect() const { return QRectF(rect()).adjusted(6, 6, -6, -6); }

void KeySlot::display(const std::optional<DeckTile>& tile, const QPixmap& icon, bool missing,
                      bool dropTarget, bool wobble) {
    const bool changed =
        tile != tile_ || icon.cacheKey() != icon_.cacheKey() || dropTarget != dropTarget_;
    tile_ = tile;
    icon_ = icon;
    dropTarget_ = dropTarget;
    setAccessibleName(tile ? QString::fromStdString(tile->label) : QString());
    removeButton_->setVisible(tile.has_value());
    missingBadge_->setVisible(tile && missing);
    missingBadge_->move(width() - missingBadge_->width() - 2, 2);
    jiggle_.setActive(tile && wobble, index_);
    if (changed) update();
}

void KeySlot::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    missingBadge_->move(width() - missingBadge_->width() - 2, 2);
}

void KeySlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face = faceRect();
    if (!tile_) {
        QPainterPath path;
        path.addRoundedRect(face, face.width() * 0.22, face.height() * 0.22);
        if (dropTarget_) painter.fillPath(path, QColor(10, 132, 255, 90));
        painter.setPen(QPen(dropTarget_ ? QColor(10, 132, 255) : QColor(255, 255, 255, 60), 1.5,
                            Qt::DashLine));
        painter.drawPath(path);
        return;
    }
    painter.setTransform(jiggle_.transform(size()));
    paintKeyFace(painter, face, *tile_, icon_);
    if (dropTarget_) {
        painter.setPen(QPen(QColor(10, 132, 255), 2.5));
        painter.drawRoundedRect(face, face.width() * 0.22, face.height() * 0.22);
    }
}

void KeySlot::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && tile_) pressedAt_ = event->position().toPoint();
    QWidget::mousePressEvent(event);
}

void KeySlot::mouseMoveEvent(QMouseEvent* event) {
    if (!pressedAt_ || !tile_ || !(event->buttons() & Qt::LeftButton)) return;
    if ((event->position().toPoint() - *pressedAt_).manhattanLength() <
        QApplication::startDragDistance()) {
        return;
    }
    pressedAt_.reset();
    auto* mime = new QMimeData;
    mime->setText(dragText(*tile_));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    QPixmap image(size() * devicePixelRatioF());
    image.setDevicePixelRatio(devicePixelRatioF());
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        paintKeyFace(painter, faceRect(), *tile_, icon_);
    }
    drag->setPixmap(image);
    drag->setHotSpot(QPoint(width() / 2, height() / 2));
    emit dragActive(true);
    drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
    emit dragActive(false);
}

void KeySlot::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasText()) return;
    event->acceptProposedAction();
    emit dropTargetChanged(index_, true);
}

void KeySlot::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasText()) event->acceptProposedAction();
}

void KeySlot::dragLeaveEvent(QDragLeaveEvent*) { emit dropTargetChanged(index_, false); }

void KeySlot::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasText()) return;
    event->acceptProposedAction();
    emit dropped(index_, event->mimeData()->text());
}

PhonePreview::PhonePreview(QWidget* parent) : QWidget(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(24, 48, 24, 36);
    grid->setSpacing(6);
    setAcceptDrops(false);
}

KeySlot* PhonePreview::slotAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= slots_.size()) return nullptr;
    return slots_[static_cast<std::size_t>(index)];
}

void PhonePreview::ensureSlots(std::size_t count) {
    auto* grid = static_cast<QGridLayout*>(layout());
    while (slots_.size() > count) {
        delete slots_.back();
        slots_.pop_back();
    }
    while (slots_.size() < count) {
        const int index = static_cast<int>(slots_.size());
        auto* slot = new KeySlot(index, this);
        connect(slot, &KeySlot::dropTargetChanged, this, &PhonePreview::dropTargetChanged);
        connect(slot, &KeySlot::dropped, this, &PhonePreview::dropped);
        connect(slot, &KeySlot::removeRequested, this, &PhonePreview::removeRequested);
        connect(slot, &KeySlot::dragActive, this, &PhonePreview::dragActive);
        grid->addWidget(slot, index / columns, index % columns);
        slot->show();  // at once, not when the layout gets round to it
        slots_.push_back(slot);
    }
}

void PhonePreview::display(const std::vector<DeckTile>& tiles, std::size_t slotCount,
                           EditorIconCache& icons,
                           const std::function<bool(const DeckTile&)>& isMissing,
                           std::optional<int> dropTargetIndex, bool editMode) {
    ensureSlots(slotCount);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const bool target = dropTargetIndex && *dropTargetIndex == static_cast<int>(i);
        if (i < tiles.size()) {
            slots_[i]->display(tiles[i], icons.iconFor(tiles[i]), isMissing(tiles[i]), target,
                               editMode);
        } else {
            slots_[i]->display(std::nullopt, QPixmap(), false, target, false);
        }
    }
}

void PhonePreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(rect()).adjusted(2, 2, -2, -2);
    QPainterPath frame;
    frame.addRoundedRect(body, 44, 44);
    painter.fillPath(frame, QColor(18, 18, 24));
    painter.setPen(QPen(QColor(70, 70, 80), 3));
    painter.drawPath(frame);
    QPainterPath island;
    island.addRoundedRect(QRectF(body.center().x() - 48, body.top() + 14, 96, 24), 12, 12);
    painter.fillPath(island, Qt::black);
}

}  // namespace velopad::desktop
