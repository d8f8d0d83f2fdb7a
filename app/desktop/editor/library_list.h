#pragma once
// The library's cards as one list view: a list model of the cards the model says are visible,
// a delegate that paints each card with its add control or "In deck" badge, and a view that
// drags a card's text onto the phone preview.

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>
#include <vector>

#include "app/editor/deck_editor_state.h"

namespace velopad::desktop {

class EditorIconCache;

class LibraryListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role { PayloadRole = Qt::UserRole + 1, InDeckRole };

    LibraryListModel(EditorIconCache& icons, QObject* parent = nullptr);

    // Shows these cards; rows are reused when the same cards come again.
    void setCards(std::vector<LibraryCard> cards, bool deckFull);
    const LibraryCard* card(int row) const;
    bool isDeckFull() const { return deckFull_; }
    QPixmap iconFor(const LibraryCard& card) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    // The dragged card's payload as plain text: its bundle identifier, action id or Shortcut
    // identifier, and nothing else.
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;

  private:
    EditorIconCache& icons_;
    std::vector<LibraryCard> cards_;
    bool deckFull_ = false;
};

class LibraryCardDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int cardWidth = 280;
    static constexpr int cardHeight = 60;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

    static QRectF addControlRect(const QRect& cardRect);

  signals:
    void addRequested(const QModelIndex& index);
};

class LibraryListView : public QListView {
    Q_OBJECT

  public:
    explicit LibraryListView(QWidget* parent = nullptr);

  signals:
    // A drag of a card began (true) or ended (false).
    void dragActive(bool active);

  protected:
    void startDrag(Qt::DropActions supportedActions) override;
};

}  // namespace velopad::desktop
