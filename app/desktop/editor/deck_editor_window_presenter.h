#pragma once
// Owns the one deck editor window: shows it (making it on first use, and again after it was
// closed), centred on the screen under the pointer, raised and focused.

#include <QObject>
#include <QPointer>
#include <functional>

#include "app/desktop/editor/deck_editor_window.h"
#include "app/editor/deck_editor_context.h"

namespace velopad::desktop {

class DeckEditorWindowPresenter : public QObject {
    Q_OBJECT

  public:
    // `makeContext` is asked for a fresh context each time a window is made.
    explicit DeckEditorWindowPresenter(std::function<DeckEditorContext()> makeContext,
                                       QObject* parent = nullptr);
    ~DeckEditorWindowPresenter() override;

    // Shows the editor, placed on the screen the user works on, in front and focused.
    void show();

    // Closes the window, if one is open (its unsaved edits are dropped).
    void close();

    // The window while it is open; null once it was closed.
    DeckEditorWindow* window() const { return window_; }

  private:
    void place();

    std::function<DeckEditorContext()> makeContext_;
    QPointer<DeckEditorWindow> window_;
};

}  // namespace velopad::desktop
