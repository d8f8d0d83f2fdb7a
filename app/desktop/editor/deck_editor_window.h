#pragma once
// The deck editor's window: the library of applications, actions and Shortcuts on the left, the
// live phone preview with the deck's name, messages and commands on the right. It renders the
// model's state snapshots (delivered on the GUI thread) and posts every user command to the
// model; it never waits for the model.

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QWidget>
#include <memory>

#include "app/desktop/editor/editor_icon_cache.h"
#include "app/desktop/editor/state_mailbox.h"
#include "app/editor/deck_editor_context.h"
#include "app/editor/deck_editor_model.h"

namespace velopad::desktop {

class LibraryListModel;
class LibraryListView;
class PhonePreview;

class DeckEditorWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr int defaultWidth = 1120;
    static constexpr int defaultHeight = 780;

    // Builds the model over `context` and starts loading.
    explicit DeckEditorWindow(DeckEditorContext context, QWidget* parent = nullptr);
    ~DeckEditorWindow() override;

    DeckEditorModel& model() { return *model_; }
    // The state this window shows now.
    const DeckEditorState& shownState() const { return state_; }
    PhonePreview& preview() { return *preview_; }
    LibraryListModel& libraryModel() { return *libraryModel_; }

    // Whether the keys wobble: a card or key is being dragged, and the desktop allows motion.
    bool isInEditMode() const;
    void setReducedMotion(bool reduced);

  private:
    void build();
    QWidget* buildLibrary();
    QWidget* buildShortcutStates();
    QWidget* buildSuggestedCard();
    QWidget* buildDeckSide();
    void render(const DeckEditorState& state);
    void renderLibrary(bool cardsChanged);
    void renderPreview();
    void edit(DeckEditorModel::Edit change);
    void setDragInProgress(bool active);
    void openShortcutsManager();

    std::shared_ptr<DeckEditorModel> model_;
    std::shared_ptr<StateMailbox<DeckEditorState>> mailbox_;
    DeckEditorState state_;
    bool hasState_ = false;
    std::uint64_t shownDeckRevision_ = 0;
    bool dragInProgress_ = false;
    bool reducedMotion_ = false;
    EditorIconCache icons_;

    QButtonGroup* categories_ = nullptr;
    QButtonGroup* tabs_ = nullptr;
    QLabel* libraryHeading_ = nullptr;
    QLineEdit* search_ = nullptr;
    QStackedWidget* libraryStack_ = nullptr;
    LibraryListModel* libraryModel_ = nullptr;
    LibraryListView* libraryView_ = nullptr;
    QLabel* noMatches_ = nullptr;
    QLabel* shortcutsFailure_ = nullptr;
    QWidget* suggestedCard_ = nullptr;
    QLabel* suggestedMissing_ = nullptr;

    QLineEdit* deckName_ = nullptr;
    QLabel* syncLabel_ = nullptr;
    PhonePreview* preview_ = nullptr;
    QLabel* gamingNote_ = nullptr;
    QLabel* shortcutTip_ = nullptr;
    QLabel* info_ = nullptr;
    QLabel* error_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* save_ = nullptr;
};

}  // namespace velopad::desktop
