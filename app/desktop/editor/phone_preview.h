#pragma once
// The live preview of the phone's key grid: at least 24 slots, keys painted with their faces,
// empty slots as drop targets. Keys drag their own text to move, carry a remove badge and a
// "Missing" badge for deleted Shortcuts, and wobble while the preview is in edit mode.

#include <QLabel>
#include <QPixmap>
#include <QPoint>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "app/desktop/editor/jiggle_animator.h"
#include "protocol/deck_tile.h"

namespace velopad::desktop {

class EditorIconCache;

class KeySlot : public QWidget {
    Q_OBJECT

  public:
    static constexpr int side = 76;

    KeySlot(int index, QWidget* parent = nullptr);

    int index() const { return index_; }
    const std::optional<DeckTile>& tile() const { return tile_; }
    JiggleAnimator& jiggle() { return jiggle_; }

    void display(const std::optional<DeckTile>& tile, const QPixmap& icon, bool missing,
                 bool dropTarget, bool wobble);

    // The text a drag of this key carries: its bundle identifier, action id or Shortcut id.
    static QString dragText(const DeckTile& tile);

  signals:
    void dropTargetChanged(int index, bool entering);
    void dropped(int index, const QString& text);
    void removeRequested(int index);
    void dragActive(bool active);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    QRectF faceRect() const;

    int index_;
    std::optional<DeckTile> tile_;
    QPixmap icon_;
    bool dropTarget_ = false;
    std::optional<QPoint> pressedAt_;
    QToolButton* removeButton_;
    QLabel* missingBadge_;
    JiggleAnimator jiggle_;
};

class PhonePreview : public QWidget {
    Q_OBJECT

  public:
    static constexpr int columns = 4;

    explicit PhonePreview(QWidget* parent = nullptr);

    // Lays out `slotCount` slots and shows `tiles` in the first ones.
    void display(const std::vector<DeckTile>& tiles, std::size_t slotCount, EditorIconCache& icons,
                 const std::function<bool(const DeckTile&)>& isMissing,
                 std::optional<int> dropTargetIndex, bool editMode);

    KeySlot* slotAt(int index) const;
    int slotCount() const { return static_cast<int>(slots_.size()); }

  signals:
    void dropTargetChanged(int index, bool entering);
    void dropped(int index, const QString& text);
    void removeRequested(int index);
    void dragActive(bool active);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void ensureSlots(std::size_t count);

    std::vector<KeySlot*> slots_;
};

}  // namespace velopad::desktop
