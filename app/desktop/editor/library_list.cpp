#include "app/desktop/editor/library_list.h"

#include <QApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "app/desktop/editor/editor_icon_cache.h"
#include "app/desktop/editor/key_face.h"
#include "app/desktop/fonts.h"
#include "app/editor/deck_editor_texts.h"
#include "protocol/deck_tile_factories.h"

namespace velopad::desktop {

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The face a card shows for its kind: the tile it would add.
TileAppearance cardAppearance(const LibraryCard& card) {
    DeckTile tile;
    tile.kind = card.kind;
    tile.label = card.title;
    tile.iconSymbol = card.symbol;
    if (card.kind == DeckTileKind::app && card.app) tile.iconName = card.app->iconName;
    return appearance(tile);
}

}  // namespace

LibraryListModel::LibraryListModel(EditorIconCache& icons, QObject* parent)
    : QAbstractListModel(parent), icons_(icons) {}

void LibraryListModel::setCards(std::vector<LibraryCard> cards, bool deckFull) {
    const bool sameRows =
        cards.size() == cards_.size() && std::equal(cards.begin(), cards.end(), cards_.begin(),
                                                    [](const LibraryCard& a, const LibraryCard& b) {
                                                        return a.payload == b.payload;
                                                    });
    deckFull_ = deckFull;
    if (!sameRows) {
        beginResetModel();
        cards_ = std::move(cards);
        endResetModel();
        return;
    }
    cards_ = std::move(cards);
    if (!cards_.empty()) emit dataChanged(index(0), index(static_cast<int>(cards_.size()) - 1));
}

const LibraryCard* LibraryListModel::card(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= cards_.size()) return nullptr;
    return &cards_[static_cast<std::size_t>(row)];
}

QPixmap LibraryListModel::iconFor(const LibraryCard& card) const {
    switch (card.kind) {
        case DeckTileKind::app:
            return icons_.appIcon(card.payload);
        case DeckTileKind::shortcut:
            return const_cast<EditorIconCache&>(icons_).shortcutIcon(card.payload);
        case DeckTileKind::action:
            break;
    }
    return {};
}

int LibraryListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(cards_.size());
}

QVariant LibraryListModel::data(const QModelIndex& index, int role) const {
    const LibraryCard* shown = card(index.row());
    if (!shown) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return QString::fromStdString(shown->title);
        case Qt::ToolTipRole:
            return shown->isInDeck ? qs(DeckEditorTexts::inDeck) : QVariant();
        case PayloadRole:
            return QString::fromStdString(shown->payload);
        case InDeckRole:
            return shown->isInDeck;
        default:
            return {};
    }
}

Qt::ItemFlags LibraryListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList LibraryListModel::mimeTypes() const { return {QStringLiteral("text/plain")}; }

QMimeData* LibraryListModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.isEmpty()) return nullptr;
    const LibraryCard* dragged = card(indexes.front().row());
    if (!dragged) return nullptr;
    auto* mime = new QMimeData;
    mime->setText(QString::fromStdString(dragged->payload));
    return mime;
}

Qt::DropActions LibraryListModel::supportedDragActions() const { return Qt::CopyAction; }

QRectF LibraryCardDelegate::addControlRect(const QRect& cardRect) {
    const QRectF card = QRectF(cardRect).adjusted(4, 4, -4, -4);
    return QRectF(card.right() - 36, card.center().y() - 14, 28, 28);
}

QSize LibraryCardDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return {cardWidth, cardHeight};
}

void LibraryCardDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const auto* model = qobject_cast<const LibraryListModel*>(index.model());
    const LibraryCard* card = model ? model->card(index.row()) : nullptr;
    if (!card) return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF rect = QRectF(option.rect).adjusted(4, 4, -4, -4);
    const QPalette& palette = option.palette;
    QPainterPath background;
    background.addRoundedRect(rect, 12, 12);
    const bool hovered = option.state & QStyle::State_MouseOver;
    painter->fillPath(background, hovered ? palette.color(QPalette::Midlight)
                                          : palette.color(QPalette::AlternateBase));
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(palette.color(QPalette::Highlight), 2));
        painter->drawPath(background);
    }

    const QRectF badge(rect.left() + 8, rect.center().y() - 20, 40, 40);
    paintGlyphBadge(*painter, badge, cardAppearance(*card), model->iconFor(*card));

    const QRectF control = addControlRect(option.rect);
    const QRectF text(badge.right() + 10, rect.top(), control.left() - badge.right() - 16,
                      rect.height());
    painter->setPen(palette.color(QPalette::Text));
    QFont font = typographyFont(DeckTypography::Family::ui, 500, 11);
    painter->setFont(font);
    painter->drawText(
        text, Qt::AlignVCenter | Qt::AlignLeft,
        QFontMetrics(font).elidedText(QString::fromStdString(card->title), Qt::ElideRight,
                                      static_cast<int>(text.width())));

    if (card->isInDeck) {
        QFont small = typographyFont(DeckTypography::Family::ui, 500, 9);
        painter->setFont(small);
        const QString label = qs(DeckEditorTexts::inDeck);
        const double width = QFontMetricsF(small).horizontalAdvance(label) + 16;
        const QRectF pill(rect.right() - width - 8, rect.center().y() - 11, width, 22);
        QPainterPath path;
        path.addRoundedRect(pill, 11, 11);
        painter->fillPath(path, palette.color(QPalette::Mid));
        painter->setPen(palette.color(QPalette::BrightText));
        painter->drawText(pill, Qt::AlignCenter, label);
    } else {
        const QColor accent =
            model->isDeckFull() ? palette.color(QPalette::Mid) : palette.color(QPalette::Highlight);
        QPainterPath circle;
        circle.addEllipse(control);
        painter->fillPath(circle, accent);
        const QPixmap plus = cachedGlyph("plus", 16, Qt::white);
        painter->drawPixmap(QRectF(control.center().x() - 8, control.center().y() - 8, 16, 16),
                            plus, plus.rect());
    }
    painter->restore();
}

bool LibraryCardDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                      const QStyleOptionViewItem& option,
                                      const QModelIndex& index) {
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            addControlRect(option.rect).contains(mouse->position())) {
            emit addRequested(index);
            return true;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

LibraryListView::LibraryListView(QWidget* parent) : QListView(parent) {
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setUniformItemSizes(true);
    setGridSize(QSize(LibraryCardDelegate::cardWidth, LibraryCardDelegate::cardHeight));
    setSpacing(0);
    setMouseTracking(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void LibraryListView::startDrag(Qt::DropActions supportedActions) {
    emit dragActive(true);
    QListView::startDrag(supportedActions);
    emit dragActive(false);
}

}  // namespace velopad::desktop
