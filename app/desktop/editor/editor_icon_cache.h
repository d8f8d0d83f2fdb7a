#pragma once
// The icons of the editor's cards and keys as pixmaps, made on the GUI thread from the pixels
// and PNG bytes the model has already loaded: each application icon once, when it arrives; each
// Shortcut icon when first shown.

#include <QHash>
#include <QPixmap>
#include <QString>

#include "app/editor/deck_editor_state.h"

namespace velopad::desktop {

class EditorIconCache {
  public:
    // Takes over the icons of a new state; cheap when they did not change.
    void update(const DeckEditorState& state);

    // Null when the application has no icon (yet).
    QPixmap appIcon(const std::string& bundleId) const;
    // The icon of the Shortcut with this identifier (any letter case); null when it has none.
    QPixmap shortcutIcon(const std::string& identifier);
    // The icon a key shows instead of its glyph, or null.
    QPixmap iconFor(const DeckTile& tile);

  private:
    InstalledAppList apps_;
    ShortcutIconMap shortcutIcons_;
    QHash<QString, QPixmap> appIcons_;
    QHash<QString, QPixmap> decodedShortcutIcons_;
};

}  // namespace velopad::desktop
