#pragma once
// The deck editor behind its window: owns the editor's state on its own strand, loads the deck,
// the installed applications and the Shortcuts, applies the user's edits and saves or resets
// through the deck store. Front ends read copies of the state (handed to observers after every
// change) and post commands; they never touch the state itself.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "agent_core/async.h"
#include "app/editor/deck_editor_context.h"
#include "app/editor/deck_editor_state.h"

namespace velopad {

class DeckEditorModel : public std::enable_shared_from_this<DeckEditorModel> {
  public:
    using Observer = std::function<void(const DeckEditorState&)>;
    using Edit = std::function<bool(DeckEditorState&)>;

    static std::shared_ptr<DeckEditorModel> create(DeckEditorContext context);

    // A copy of the state as last published; safe from any thread.
    DeckEditorState state() const;
    // Called on the model's strand with the current state, then after every change.
    void observe(Observer observer);

    // The deck of the selected category, the installed applications (names first, icons as
    // they are drawn) and the Shortcuts with their icons. Ends when all of it is in.
    Task<void> load();
    // Lists the Shortcuts again (Retry, Refresh, after the Shortcuts manager closes).
    Task<void> loadShortcuts();
    // Stores the deck; on success pushes it, then closes the editor when a phone is connected
    // or says where the deck is when none is. On failure shows why and keeps every edit.
    Task<void> save();
    // Puts the category's default deck in place, stores and pushes it.
    Task<void> reset();
    // Shows the stored deck of `category`; edits of the other deck are dropped.
    Task<void> selectCategory(DeckCategoryID category);
    // Applies a pure edit to the state and publishes it; answers what the edit answered.
    Task<bool> update(Edit edit);

    // The window is gone: stops loading icons and tells observers nothing more.
    void close();

    // Runs a command on the strand without waiting for it.
    void post(Task<void> command);
    void post(Edit edit);

    const DeckEditorContext& context() const { return context_; }

  private:
    explicit DeckEditorModel(DeckEditorContext context);

    Task<void> loadOnStrand();
    Task<void> loadDeckOnStrand(DeckCategoryID category);
    Task<void> loadInstalledAppsOnStrand();
    Task<void> loadShortcutsOnStrand();
    Task<void> saveOnStrand();
    Task<void> resetOnStrand();
    Task<void> selectCategoryOnStrand(DeckCategoryID category);
    Task<bool> updateOnStrand(Edit edit);
    Task<void> runOnSaved();
    void publish();

    DeckEditorContext context_;
    Strand strand_;

    DeckEditorState fields_;  // touched on strand_ only
    std::uint64_t deckGeneration_ = 0;
    std::uint64_t shortcutsGeneration_ = 0;
    bool closed_ = false;
    std::vector<Observer> observers_;

    mutable std::mutex publishedMutex_;
    DeckEditorState published_;
};

}  // namespace velopad
